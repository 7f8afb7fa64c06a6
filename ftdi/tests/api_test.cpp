// The FT_* surface: device-list snapshot, opening, handle checking.
#include <cstring>

#include "ftdi/tests/d2xx_fixture.h"

using namespace varn_d2xx_test;

TEST_F(D2xxTest, DetailsAreNulTerminatedAndTheListIsASnapshot) {
  DWORD flags = 99, type = 99, id = 0, loc = 0;
  char serial[FT_SERIAL_SIZE];
  char description[FT_DESCRIPTION_SIZE];
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
  memset(serial, 'x', sizeof serial);
  memset(description, 'x', sizeof description);
  ASSERT_EQ(FT_GetDeviceInfoDetail(1, &flags, &type, &id, &loc, serial, description, &h), FT_OK);
  EXPECT_STREQ(serial, "FT2XYZABB");
  EXPECT_STREQ(description, "Dual RS232-HS B");
  EXPECT_EQ(id, 0x04036010u);
  EXPECT_EQ(type, DWORD(FT_DEVICE_2232H));
  EXPECT_EQ(flags, DWORD(FT_FLAGS_HISPEED));
  EXPECT_EQ(h, nullptr);
  ASSERT_EQ(FT_GetDeviceInfoDetail(2, nullptr, nullptr, &id, nullptr, serial, description, nullptr), FT_OK);
  EXPECT_STREQ(serial, "FT9SINGLE");
  EXPECT_STREQ(description, "Single RS232-HS");
  EXPECT_EQ(FT_GetDeviceInfoDetail(3, &flags, &type, &id, &loc, serial, description, &h), FT_DEVICE_NOT_FOUND);

  // Chips that come and go change nothing until the list is made again.
  bus.clearChips();
  ASSERT_EQ(FT_GetDeviceInfoDetail(2, nullptr, nullptr, nullptr, nullptr, serial, nullptr, nullptr), FT_OK);
  EXPECT_STREQ(serial, "FT9SINGLE");
  DWORD n = 7;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, serial, description, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FT_CreateDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
}

TEST_F(D2xxTest, ListingFailuresAndMissingUsb) {
  DWORD n = 7;
  bus.findRc = kUsbUnavailable;  // no usbfs: an empty list, not an error
  EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  EXPECT_EQ(n, 0u);
  bus.findRc = varn_d2xx::kUsbIoError;
  EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_IO_ERROR);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FT_Reload(0x0403, 0x6010), FT_NOT_SUPPORTED);
}

TEST_F(D2xxTest, OpenMarksTheEntryAndOpensTheRightInterface) {
  FT_HANDLE h = open(1);
  ASSERT_NE(h, nullptr);
  DWORD n = 0, flags = 0;
  FT_HANDLE listed = nullptr;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(FT_GetDeviceInfoDetail(1, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, &listed), FT_OK);
  EXPECT_EQ(flags, DWORD(FT_FLAGS_OPENED | FT_FLAGS_HISPEED));
  EXPECT_EQ(listed, h);
  ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, &listed), FT_OK);
  EXPECT_EQ(flags, DWORD(FT_FLAGS_HISPEED));

  FT_DEVICE type = 0;
  DWORD id = 0;
  char serial[FT_SERIAL_SIZE], description[FT_DESCRIPTION_SIZE];
  ASSERT_EQ(FT_GetDeviceInfo(h, &type, &id, serial, description, nullptr), FT_OK);
  EXPECT_EQ(type, FT_DEVICE_2232H);
  EXPECT_EQ(id, 0x04036010u);
  EXPECT_STREQ(serial, "FT2XYZABB");
  EXPECT_STREQ(description, "Dual RS232-HS B");

  // Channel B of chip 1.4 is the one that was opened, through its own port.
  bus.port(1, 4, 1)->produce({0x11, 0x22});
  uint8_t got[2] = {};
  DWORD count = 0;
  ASSERT_EQ(FT_Read(h, got, 2, &count), FT_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(got[1], 0x22);

  // A second open of the same channel is refused; the other channel opens.
  FT_HANDLE again = nullptr;
  EXPECT_EQ(FT_Open(1, &again), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(again, nullptr);
  EXPECT_NE(open(0), nullptr);
  close(h);
  EXPECT_TRUE(bus.port(1, 4, 1)->closed);
}

TEST_F(D2xxTest, OpenFailuresAreReportedCleanly) {
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(5);
  EXPECT_EQ(FT_Open(3, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(FT_Open(-1, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
  bus.openRc = varn_d2xx::kUsbAccessDenied;
  EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(h, nullptr);
  bus.openRc = varn_d2xx::kUsbNoDevice;
  EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
}

TEST_F(D2xxTest, BadHandlesAreRefusedByEveryCall) {
  FT_HANDLE stale = open(0);
  close(stale);
  FT_HANDLE bad[] = {nullptr, stale, reinterpret_cast<FT_HANDLE>(0xDEADBEEF), reinterpret_cast<FT_HANDLE>(0x100)};
  uint8_t buf[4];
  DWORD n = 0;
  FT_DEVICE type;
  for (FT_HANDLE h : bad) {
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_GetDeviceInfo(h, &type, &n, nullptr, nullptr, nullptr), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBitMode(h, 0x0B, 2), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetLatencyTimer(h, 2), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetTimeouts(h, 1000, 1000), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetUSBParameters(h, 16384, 16384), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Purge(h, 3), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBaudRate(h, 1000000), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetDataCharacteristics(h, 8, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetFlowControl(h, 0, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Write(h, buf, 4, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Read(h, buf, 4, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_GetStatus(h, &n, &n, &n), FT_INVALID_HANDLE);
  }
  // The slot of the stale handle is reused by the next open; the old handle stays dead.
  FT_HANDLE fresh = open(0);
  EXPECT_NE(fresh, stale);
  EXPECT_EQ(FT_Purge(stale, 3), FT_INVALID_HANDLE);
  EXPECT_EQ(FT_Purge(fresh, 3), FT_OK);
}
