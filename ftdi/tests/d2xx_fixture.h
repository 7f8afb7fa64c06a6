// Installs a fake bus with chips for the FT_* tests and opens channels on it.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "ftdi/d2xx_names.h"
#include "ftdi/ftd2xx.h"
#include "testsupport/ftdi/fake_usb.h"

namespace varn_d2xx_test {

class D2xxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus.addChip(makeChip(1, 4, kPidFt2232H, "FT2XYZAB", "Dual RS232-HS"));
    bus.addChip(makeChip(1, 9, kPidFt232H, "FT9SINGLE", "Single RS232-HS"));
    useBus(&bus);
    DWORD n = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
    ASSERT_EQ(n, 3u);
  }
  void TearDown() override {
    for (FT_HANDLE h : opened) FT_Close(h);
    useBus(nullptr);
  }

  // Opens list entry i and makes the fake chip idle quickly.
  FT_HANDLE open(int i) {
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Open(i, &h), FT_OK);
    if (h) opened.push_back(h);
    return h;
  }
  void close(FT_HANDLE h) {
    EXPECT_EQ(FT_Close(h), FT_OK);
    std::erase(opened, h);
  }

  FakeBus bus;
  std::vector<FT_HANDLE> opened;
};

}  // namespace varn_d2xx_test
