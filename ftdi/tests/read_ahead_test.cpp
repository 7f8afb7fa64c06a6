// Status-byte stripping of IN transfers and the read-ahead ring.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "ftdi/d2xx_read_ahead.h"

using namespace varn_d2xx;

namespace {

// A raw transfer of whole and partial packets carrying payload 0, 1, 2, ...
std::vector<uint8_t> rawTransfer(size_t payload, size_t packet, uint8_t modem = 0x32) {
  std::vector<uint8_t> raw;
  size_t v = 0;
  while (v < payload || raw.empty()) {
    raw.push_back(modem);
    raw.push_back(0x60);
    for (size_t k = 0; k < packet - 2 && v < payload; ++k) raw.push_back(uint8_t(v++));
  }
  return raw;
}

}  // namespace

TEST(StripStatus, TwoBytesGoFromEveryPacketPartialLastOneIncluded) {
  for (size_t payload : {size_t(0), size_t(1), size_t(509), size_t(510), size_t(511), size_t(2000), size_t(16320)}) {
    std::vector<uint8_t> raw = rawTransfer(payload, 512);
    std::vector<uint8_t> out(raw.size());
    uint16_t status = 0;
    size_t n = stripStatusBytes(raw.data(), raw.size(), 512, out.data(), &status);
    ASSERT_EQ(n, payload) << payload;
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], uint8_t(i)) << payload << " at " << i;
    EXPECT_EQ(status, 0x6032);
  }
}

TEST(StripStatus, InPlaceFullSpeedPacketsAndRunts) {
  std::vector<uint8_t> raw = rawTransfer(300, 64);
  size_t n = stripStatusBytes(raw.data(), raw.size(), 64, raw.data(), nullptr);
  ASSERT_EQ(n, 300u);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(raw[i], uint8_t(i));
  // Status-only packets and a one-byte runt carry nothing.
  uint8_t runts[] = {0x31, 0x60, 0x32, 0x60, 0x33};
  uint8_t out[8];
  uint16_t status = 0;
  EXPECT_EQ(stripStatusBytes(runts, 2, 2, out, &status), 0u);  // nonsense packet size
  EXPECT_EQ(stripStatusBytes(runts, 5, 512, out, &status), 3u);  // one packet: 2 status + 3 bytes
  EXPECT_EQ(stripStatusBytes(runts, 2, 512, out, &status), 0u);
  EXPECT_EQ(status, 0x6031);
}

TEST(ReadAheadRing, WrapsAroundAndRefusesOverflow) {
  ReadAheadRing ring(10);
  uint8_t in[16];
  std::iota(in, in + 16, 0);
  uint8_t out[16] = {};
  EXPECT_EQ(ring.push(in, 7), 7u);
  EXPECT_EQ(ring.pop(out, 5), 5u);
  EXPECT_EQ(ring.push(in + 7, 9), 8u);  // only 8 fit; the rest stays with the caller
  EXPECT_EQ(ring.size(), 10u);
  EXPECT_EQ(ring.room(), 0u);
  EXPECT_EQ(ring.pop(out, 16), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], uint8_t(5 + i));
  ring.push(in, 3);
  ring.clear();
  EXPECT_EQ(ring.pop(out, 3), 0u);
}
