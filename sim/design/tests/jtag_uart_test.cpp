// JTAG-UART scan semantics through the BscanUser interface, both register versions.
#include <gtest/gtest.h>

#include <string>

#include "sim/design/design.h"
#include "sim/design/tests/scan.h"

namespace varnsim {
namespace {

using test::scanDr;

std::unique_ptr<Design> make(DesignOptions o) {
  std::string err;
  auto d = makeDesignChecked(o, &err);
  EXPECT_TRUE(d) << err;
  return d;
}

void writeJtag(Design& d, const std::string& s) {
  for (unsigned char c : s) scanDr(d, 2, 8, c);
}

std::string readPins(Design& d) {
  uint8_t buf[8192];
  size_t n = d.uart().fromFpga(buf, sizeof buf);
  return std::string(reinterpret_cast<char*>(buf), n);
}

TEST(JtagUartV2, NinthBitMarksEmptyAndEachScanMovesOneByte) {
  auto d = make({{"uart", "v2"}, {"app", "echo"}});
  EXPECT_EQ(scanDr(*d, 1, 9), 0x100u);  // empty: no data, ninth bit set
  writeJtag(*d, "Hi!");
  EXPECT_EQ(d->uart().fromFpgaAvailable(), 3u);
  EXPECT_EQ(scanDr(*d, 1, 9), uint64_t{'H'});
  EXPECT_EQ(scanDr(*d, 1, 9), uint64_t{'i'});
  EXPECT_EQ(scanDr(*d, 1, 9), uint64_t{'!'});
  EXPECT_EQ(scanDr(*d, 1, 9), 0x100u);
  EXPECT_EQ(d->jtagCounters().bytesIn, 3u);
  EXPECT_EQ(d->jtagCounters().bytesOut, 3u);
  EXPECT_EQ(d->jtagCounters().emptyReads, 2u);
}

TEST(JtagUartV2, FortyBytesReadInBatchesStayInOrder) {
  auto d = make({{"uart", "v2"}});
  std::string msg;
  for (int i = 0; i < 40; ++i) msg.push_back(static_cast<char>('A' + i % 26));
  writeJtag(*d, msg);
  std::string got;
  for (int batch : {32, 8}) {
    for (int i = 0; i < batch; ++i) {
      uint64_t w = scanDr(*d, 1, 9);
      ASSERT_EQ(w & 0x100, 0u) << "slot " << got.size();
      got.push_back(static_cast<char>(w & 0xFF));
    }
  }
  EXPECT_EQ(got, msg);
  EXPECT_EQ(scanDr(*d, 1, 9) & 0x100, 0x100u);
}

TEST(JtagUartV1, StatusWordCountsAndEightBitReads) {
  auto d = make({{"uart", "v1"}});
  uint64_t st = scanDr(*d, 3, 32);
  EXPECT_EQ(st & 0x04, 0x04u);
  EXPECT_EQ((st >> 16) & 0xFF, 0u);
  writeJtag(*d, "hello");
  st = scanDr(*d, 3, 32);
  EXPECT_EQ(st & 0x04, 0u);
  EXPECT_EQ((st >> 16) & 0xFF, 5u);
  std::string got;
  for (int i = 0; i < 5; ++i) got.push_back(static_cast<char>(scanDr(*d, 1, 8)));
  EXPECT_EQ(got, "hello");
  st = scanDr(*d, 3, 32);
  EXPECT_EQ(st & 0x04, 0x04u);
  // An 8-bit read of an empty FIFO yields 0 and takes nothing.
  EXPECT_EQ(scanDr(*d, 1, 8), 0u);
  EXPECT_EQ(d->jtagCounters().emptyReads, 1u);
  EXPECT_EQ(d->jtagCounters().statusReads, 3u);
}

TEST(JtagUartV1, StatusCountSaturatesAt255) {
  auto d = make({{"uart", "v1"}, {"fifo_in", "1024"}, {"fifo_out", "1024"}});
  writeJtag(*d, std::string(300, 'x'));
  EXPECT_EQ((scanDr(*d, 3, 32) >> 16) & 0xFF, 255u);
  EXPECT_EQ(d->uart().fromFpgaAvailable(), 300u);
}

TEST(JtagUart, ShortOrAbortedScansMoveNothing) {
  auto d = make({{"uart", "v2"}});
  scanDr(*d, 2, 4, 0x5);  // only 4 bits: not a byte
  EXPECT_EQ(d->uart().fromFpgaAvailable(), 0u);
  scanDr(*d, 2, 8, 'a', /*doUpdate=*/false);  // left through Exit without Update
  d->capture(2);                              // next scan starts afresh
  d->update(2);
  EXPECT_EQ(d->uart().fromFpgaAvailable(), 0u);
  writeJtag(*d, "b");
  scanDr(*d, 1, 9, 0, /*doUpdate=*/false);  // read captured but not updated: byte stays
  EXPECT_EQ(scanDr(*d, 1, 9), uint64_t{'b'});
  EXPECT_EQ(d->jtagCounters().shortScans, 2u);
}

TEST(JtagUart, LongerScansKeepTheLastEightBitsShiftedIn) {
  // With two bypassed devices between this one and TDO the host shifts 10 bits and
  // puts its byte in the last 8 of them.
  auto d = make({{"uart", "v2"}});
  scanDr(*d, 2, 10, uint64_t{'Z'} << 2 | 0x3);
  EXPECT_EQ(readPins(*d), "Z");
  // On reads the first 9 bits out are this register; extra clocks don't take more.
  writeJtag(*d, "yz");
  EXPECT_EQ(scanDr(*d, 1, 12) & 0x1FF, uint64_t{'y'});
  EXPECT_EQ(readPins(*d), "z");
}

TEST(JtagUart, InputOverflowIsDroppedAndCounted) {
  auto d = make({{"uart", "v2"}, {"fifo_in", "16"}, {"fifo_out", "16"}});
  std::string msg;
  for (int i = 0; i < 40; ++i) msg.push_back(static_cast<char>('a' + i % 26));
  writeJtag(*d, msg);
  // 16 echoed into the answer FIFO, 16 waiting in the input FIFO, 8 lost.
  EXPECT_EQ(d->inputDropped(), 8u);
  EXPECT_EQ(d->jtagCounters().bytesIn, 32u);
  std::string got;
  for (;;) {
    uint64_t w = scanDr(*d, 1, 9);
    if (w & 0x100) break;
    got.push_back(static_cast<char>(w));
  }
  EXPECT_EQ(got, msg.substr(0, 32));
}

TEST(JtagUart, PinsShareTheChannelWithTheUserRegisters) {
  auto d = make({{"uart", "v1"}});
  writeJtag(*d, "via-jtag");
  EXPECT_EQ(readPins(*d), "via-jtag");
  const uint8_t in[] = {'p', 'i', 'n'};
  d->uart().toFpga(in, 3);
  std::string got;
  for (int i = 0; i < 3; ++i) got.push_back(static_cast<char>(scanDr(*d, 1, 8)));
  EXPECT_EQ(got, "pin");
  EXPECT_EQ(d->pinCounters().bytesIn, 3u);
  EXPECT_EQ(d->pinCounters().bytesOut, 8u);
}

TEST(DesignOptions, BadKeysAndValuesAreRefusedWithTheirName) {
  std::string err;
  EXPECT_FALSE(makeDesignChecked({{"uart", "v3"}}, &err));
  EXPECT_NE(err.find("'v3'"), std::string::npos) << err;
  EXPECT_FALSE(makeDesignChecked({{"colour", "red"}}, &err));
  EXPECT_NE(err.find("'colour'"), std::string::npos) << err;
  EXPECT_FALSE(makeDesignChecked({{"fifo_in", "8"}}, &err));
  EXPECT_FALSE(makeDesignChecked({{"fifo_in", "-5"}}, &err));
  EXPECT_FALSE(makeDesignChecked({{"vccint", "abc"}}, &err));
  EXPECT_EQ(makeDesign({{"app", "nope"}}), nullptr);
  EXPECT_NE(makeDesign({{"app", "echo"}, {"uart", "v1"}, {"family", "zk"}}), nullptr);
}

TEST(DesignRails, FamiliesReportTheirRails) {
  double v = 0;
  auto zk = make({{"family", "zk"}, {"vccint", "0.80"}});
  ASSERT_TRUE(zk->railVoltage(0, &v));
  EXPECT_DOUBLE_EQ(v, 0.80);
  EXPECT_FALSE(zk->railVoltage(3, &v));
  // LR rails sit on a potentiometer step: the nearest one to the asked voltage.
  auto lr = make({{"family", "lr"}, {"vccint", "0.85"}});
  ASSERT_TRUE(lr->railVoltage(0, &v));
  EXPECT_NEAR(v, 0.85, 0.003);
  auto none = make({{"family", "none"}});
  EXPECT_FALSE(none->railVoltage(0, &v));
}

}  // namespace
}  // namespace varnsim
