// The UART-to-AXI master's answers, byte for byte, and its framing.
#include <gtest/gtest.h>

#include "sim/design/axi_master_app.h"
#include "sim/design/tests/axi_frames.h"

namespace varnsim {
namespace {

using namespace test;

TEST(AxiMaster, TestRequestIsAnsweredWithTheDocumentedBytes) {
  auto d = makeAxiDesign();
  const uint8_t req[16] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34,
                           0x56, 0x78, 0xAA, 0xAA, 0xAA, 0xAA, 0x0C, 0x0D};
  send(*d, req, 16);
  std::vector<uint8_t> ans = drainBytes(*d);
  EXPECT_EQ(ans, std::vector<uint8_t>(req, req + 16));
  // The same with the check bytes swapped is not a frame: nothing comes back.
  const uint8_t bad[16] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34,
                           0x56, 0x78, 0xAA, 0xAA, 0xAA, 0xAA, 0x0D, 0x0C};
  send(*d, bad, 16);
  EXPECT_TRUE(drainBytes(*d).empty());
  EXPECT_EQ(d->axi()->counters().tests, 1u);
}

TEST(AxiMaster, WriteThenReadRoundTripsWithFieldsEchoed) {
  auto d = makeAxiDesign();
  AxiFrame w = transact(*d, makeFrame(0x02, 0x07, 0x12345678, 0xDEADBEEF));
  EXPECT_EQ(w, makeFrame(0x02, 0x07, 0x12345678, 0xDEADBEEF));
  AxiFrame r = transact(*d, makeFrame(0x01, 0x08, 0x12345678, 0xAAAAAAAA));
  EXPECT_EQ(r, makeFrame(0x01, 0x08, 0x12345678, 0xDEADBEEF));
  // The RAM is little-endian byte-addressed: the low byte sits at the word's address.
  EXPECT_EQ(axiRead(*d, 0x12345678 + 1) & 0xFFFFFF, 0xDEADBEu);
  // Wide addresses reach the RAM too; untouched RAM reads zero.
  EXPECT_EQ(axiWrite(*d, 0x12'3456'7800ull, 42), 0x02);
  EXPECT_EQ(axiRead(*d, 0x12'3456'7800ull), 42u);
  EXPECT_EQ(axiRead(*d, 0x30'0000'0000ull), 0u);
}

TEST(AxiMaster, BadCheckBytesAreSkippedOneAtATime) {
  auto d = makeAxiDesign();
  uint8_t stray = 0x99;
  send(*d, &stray, 1);
  send(*d, makeFrame(0x00, 1, 0x12345678, 0xAAAAAAAA));
  auto f = drainFrames(*d);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0][1], 1);
  EXPECT_EQ(d->axi()->counters().badCrcBytes, 1u);

  // A whole corrupted frame costs 16 skipped bytes, then the next frame is found.
  AxiFrame broken = makeFrame(0x01, 2, 0x100, 0xAAAAAAAA);
  broken[5] ^= 0x40;
  send(*d, broken);
  send(*d, makeFrame(0x01, 3, 0x100, 0xAAAAAAAA));
  f = drainFrames(*d);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0][1], 3);
  EXPECT_EQ(d->axi()->counters().badCrcBytes, 17u);
}

TEST(AxiMaster, BulkWriteAnswersTheCrc32OfThePayloadAsReceived) {
  auto d = makeAxiDesign();
  uint8_t payload[32];
  for (int i = 0; i < 32; ++i) payload[i] = static_cast<uint8_t>(0x10 + i);
  send(*d, makeFrame(0x42, 0x21, 0x4000, 32));
  // Payload in uneven pieces: nothing is answered until it is complete.
  send(*d, payload, 5);
  EXPECT_TRUE(drainBytes(*d).empty());
  send(*d, payload + 5, 27);
  AxiFrame a = drainFrames(*d).at(0);
  EXPECT_EQ(a, makeFrame(0x02, 0x21, 0x4000, crc32Ieee(payload, 32)));
  // Each wire group of four is one word, first byte most significant.
  EXPECT_EQ(axiRead(*d, 0x4000), 0x10111213u);
  EXPECT_EQ(axiRead(*d, 0x401C), 0x2C2D2E2Fu);
  // The next frame after the payload is parsed normally.
  EXPECT_EQ(axiWrite(*d, 0x4000, 1), 0x02);
  EXPECT_EQ(d->axi()->counters().bulkBytes, 32u);
}

TEST(AxiMaster, InterruptFramesCarrySequenceValueAndObeyTheMask) {
  auto d = makeAxiDesign();  // default mask 0x0F
  d->raiseInterrupt(0x1, 0x1122334455667788ull);
  d->raiseInterrupt(0x2, 7);
  auto f = drainFrames(*d);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], makeFrame(0x17, 0, 0x1122334455667788ull, 0));
  EXPECT_EQ(f[1], makeFrame(0x27, 1, 7, 0));

  // Mask frame: byte 2 holds the mask, no answer.
  AxiFrame mask{};
  mask[0] = 0xFF;
  mask[2] = 0x02;
  uint16_t c = crc16Modbus(mask.data(), 14);
  mask[14] = static_cast<uint8_t>(c >> 8);
  mask[15] = static_cast<uint8_t>(c);
  send(*d, mask);
  EXPECT_TRUE(drainBytes(*d).empty());
  EXPECT_EQ(d->axi()->irqMask(), 0x02);
  d->raiseInterrupt(0x1, 1);  // masked
  d->raiseInterrupt(0x3, 2);  // set 2 passes; the frame carries both sets
  f = drainFrames(*d);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], makeFrame(0x37, 2, 2, 0));
  EXPECT_EQ(d->axi()->counters().irqMasked, 1u);
}

TEST(AxiMaster, ErrorAndOverflowFlagsInAnswers) {
  auto d = makeAxiDesign({{"mem_limit_mib", "1"}});
  uint8_t cmd = 0;
  axiRead(*d, 0x50'0000'0000ull, &cmd);  // above the RAM: decode error
  EXPECT_EQ(cmd, 0x81);
  // One MiB of backing is 16 pages; the 17th distinct page is refused.
  const uint64_t base = 0x1000'0000;
  for (int p = 0; p < 16; ++p) ASSERT_EQ(axiWrite(*d, base + 0x10000ull * p, 1), 0x02);
  EXPECT_EQ(axiWrite(*d, base + 0x10000ull * 16, 1), 0x42);
  EXPECT_EQ(axiWrite(*d, base + 0x10000ull * 17, 0), 0x02);  // zeros need no backing
  EXPECT_EQ(axiWrite(*d, base + 4, 5), 0x02);                 // backed pages still take writes
  // Soft reset with a wrong key: the IIC core refuses with SLVERR.
  EXPECT_EQ(axiWrite(*d, 0x9040, 0x5), 0x42);

  d->axi()->forceAnswerFlags(0x10, 2);
  EXPECT_EQ(axiWrite(*d, base, 1), 0x12);
  EXPECT_EQ(transact(*d, makeFrame(0x00, 9, 0x12345678, 0xAAAAAAAA))[0], 0x10);
  EXPECT_EQ(axiWrite(*d, base, 1), 0x02);
}

TEST(AxiMaster, FullAnswerFifoStallsAndLostInputIsFlagged) {
  auto d = makeAxiDesign({{"fifo_in", "32"}, {"fifo_out", "16"}});
  for (int i = 0; i < 5; ++i) send(*d, makeFrame(0x01, static_cast<uint8_t>(i), 0x0, 0xAAAAAAAA));
  // One answer fits in the answer FIFO, the master holds the second and stops taking
  // input: requests 2 and 3 wait in the input FIFO and request 4 is lost.
  EXPECT_EQ(d->inputDropped(), 16u);
  std::vector<AxiFrame> got;
  for (int i = 0; i < 8; ++i)
    for (auto& f : drainFrames(*d)) got.push_back(f);
  ASSERT_EQ(got.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i][1], i);
  EXPECT_EQ(got[0][0] | got[1][0], 0x01);  // built before the loss
  EXPECT_EQ(got[2][0], 0x11);              // the first answer after the loss says so
  EXPECT_EQ(got[3][0], 0x01);
}

TEST(AxiMaster, UnknownCommandsAreDroppedSilently) {
  auto d = makeAxiDesign();
  send(*d, makeFrame(0x05, 1, 0, 0));
  EXPECT_TRUE(drainBytes(*d).empty());
  EXPECT_EQ(d->axi()->counters().unknownCommands, 1u);
}

TEST(AxiMaster, FramesThroughTheJtagUartReachTheSameMaster) {
  auto d = makeAxiDesign({{"uart", "v2"}});
  AxiFrame req = makeFrame(0x00, 0x44, 0x12345678, 0xAAAAAAAA);
  for (uint8_t b : req) {
    d->capture(2);
    for (int i = 0; i < 8; ++i) d->shift(2, (b >> i) & 1);
    d->update(2);
  }
  AxiFrame ans;
  for (auto& b : ans) {
    d->capture(1);
    uint32_t w = 0;
    for (int i = 0; i < 9; ++i) {
      w |= uint32_t{d->tdo(1)} << i;
      d->shift(1, false);
    }
    d->update(1);
    ASSERT_EQ(w & 0x100, 0u);
    b = static_cast<uint8_t>(w);
  }
  EXPECT_EQ(ans, req);
}

}  // namespace
}  // namespace varnsim
