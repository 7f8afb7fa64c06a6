// The shipped library over the real libftdi1/libusb. The build machines have no
// FTDI chips (often no USB at all): listing must then succeed empty and opening
// must fail with a status, not crash or hang.
#include <gtest/gtest.h>

#include "ftdi/ftd2xx.h"

TEST(RealUsbLayer, ListsWhatIsThereAndRefusesToOpenPastIt) {
  EXPECT_EQ(FT_Reload(0x0403, 0x6010), FT_NOT_SUPPORTED);
  DWORD count = 12345;
  ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  ASSERT_LT(count, 12345u);
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(7);
  EXPECT_EQ(FT_Open(int(count), &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, nullptr);
  char serial[FT_SERIAL_SIZE], description[FT_DESCRIPTION_SIZE];
  DWORD flags, type, id, loc;
  EXPECT_EQ(FT_GetDeviceInfoDetail(count, &flags, &type, &id, &loc, serial, description, &h), FT_DEVICE_NOT_FOUND);
  if (count > 0) GTEST_SKIP() << count << " FTDI channels attached; the empty-machine checks do not apply";
  EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, serial, description, &h), FT_DEVICE_NOT_FOUND);
  DWORD rx;
  EXPECT_EQ(FT_GetStatus(nullptr, &rx, &rx, &rx), FT_INVALID_HANDLE);
  EXPECT_EQ(FT_Close(nullptr), FT_INVALID_HANDLE);
}
