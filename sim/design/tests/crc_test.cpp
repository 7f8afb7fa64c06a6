#include "sim/design/crc.h"

#include <gtest/gtest.h>

#include <cstring>

namespace varnsim {

TEST(Crc, CheckValuesOfBothCodes) {
  const char* s = "123456789";
  EXPECT_EQ(crc16Modbus(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
  EXPECT_EQ(crc32Ieee(reinterpret_cast<const uint8_t*>(s), 9), 0xCBF43926u);
  EXPECT_EQ(crc16Modbus(nullptr, 0), 0xFFFF);
}

TEST(Crc, TestPacketCheckIs0C0D) {
  const uint8_t p[14] = {0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(crc16Modbus(p, 14), 0x0C0D);
}

TEST(Crc, IncrementalCrc32MatchesOneShot) {
  uint8_t buf[1000];
  for (int i = 0; i < 1000; ++i) buf[i] = static_cast<uint8_t>(i * 7 + 3);
  Crc32 c;
  c.update(buf, 333);
  for (int i = 333; i < 500; ++i) c.update(buf[i]);
  c.update(buf + 500, 500);
  EXPECT_EQ(c.value(), crc32Ieee(buf, 1000));
}

}  // namespace varnsim
