// The MPSSE command processor against AN_108 with hand-computed byte vectors. The
// chain behind it is one VU33P (IDCODE 0x04B69093: first bits out 1,1,0,0,1,0,0,1).
#include <gtest/gtest.h>

#include <vector>

#include "sim/core/parts.h"
#include "sim/core/xilinx_device.h"
#include "sim/mpsse/mpsse_engine.h"

namespace varnsim {
namespace {

struct VecSink : MpsseSink {
  std::vector<uint8_t> out;
  std::vector<uint64_t> times;
  size_t cap = 1 << 20;
  int immediates = 0;
  bool room(size_t n) const override { return out.size() + n <= cap; }
  void put(uint8_t b, uint64_t ps) override {
    out.push_back(b);
    times.push_back(ps);
  }
  void sendImmediate(uint64_t) override { ++immediates; }
};

class Mpsse : public ::testing::Test {
 protected:
  Mpsse() : eng(chipInfo(ChipKind::FT2232H), sink) {
    DeviceConfig cfg;
    cfg.part = findPart("VU33P");
    chain.add(std::make_unique<XilinxDevice>(cfg, nullptr));
    eng.setChain(&chain);
    eng.reset(0x0B);
    run({0x8A, 0x97, 0x86, 0x00, 0x00, 0x85, 0x80, 0xE8, 0xEB});
  }
  std::vector<uint8_t> run(std::vector<uint8_t> cmd) {
    size_t before = sink.out.size();
    EXPECT_EQ(eng.feed(cmd.data(), cmd.size()), cmd.size());
    return {sink.out.begin() + static_cast<long>(before), sink.out.end()};
  }
  TapState state() { return chain.device(0).state(); }
  // Test-Logic-Reset, then Shift-DR with IDCODE captured.
  void toShiftDR() { run({0x4B, 0x06, 0x7F, 0x4B, 0x03, 0x02}); }

  JtagChain chain;
  VecSink sink;
  MpsseEngine eng;
};

TEST_F(Mpsse, BadCommandsAnswerFaAndParsingGoesOn) {
  EXPECT_EQ(run({0xAA}), (std::vector<uint8_t>{0xFA, 0xAA}));
  EXPECT_EQ(run({0xAB, 0x81}), (std::vector<uint8_t>{0xFA, 0xAB, 0xFC}));
  EXPECT_EQ(run({0x00, 0x50, 0x9A}), (std::vector<uint8_t>{0xFA, 0x00, 0xFA, 0x50, 0xFA, 0x9A}));
  EXPECT_EQ(eng.counters().badCommands, 5u);
  // The FT4232H has no high byte.
  VecSink s4;
  MpsseEngine e4(chipInfo(ChipKind::FT4232H), s4);
  const uint8_t c[] = {0x82, 0x00, 0x00};
  e4.feed(c, 3);
  EXPECT_EQ(s4.out, (std::vector<uint8_t>{0xFA, 0x82, 0xFA, 0x00, 0xFA, 0x00}));
}

TEST_F(Mpsse, IdcodeThroughReadOnlyByteCommand) {
  toShiftDR();
  EXPECT_EQ(state(), TapState::ShiftDR);
  EXPECT_EQ(run({0x2C, 0x03, 0x00}), (std::vector<uint8_t>{0x93, 0x90, 0xB6, 0x04}));
}

TEST_F(Mpsse, BitReadsLandInTheTopBits) {
  toShiftDR();
  // Four bits LSB first: 1,1,0,0 arrive in bits 4..7.
  EXPECT_EQ(run({0x2E, 0x03}), (std::vector<uint8_t>{0x30}));
  // MSB first: the same kind of read fills the low bits, first bit highest.
  EXPECT_EQ(run({0x26, 0x02}), (std::vector<uint8_t>{0x04}));  // bits 4,5,6 = 1,0,0
}

TEST_F(Mpsse, TmsReadVariants) {
  // 0x6B: TMS out on the falling edge, TDO read on the rising edge. The path "10"
  // (Exit1-DR, Pause-DR) clocks out bit 4 (1); the second sample is the line held by
  // the keeper (still 1). Two samples land in bits 6 and 7.
  toShiftDR();
  run({0x2E, 0x03});
  EXPECT_EQ(run({0x6B, 0x01, 0x01}), (std::vector<uint8_t>{0xC0}));
  EXPECT_EQ(state(), TapState::PauseDR);
  // 0x6F reads on the falling edge: TDO changes only on falling edges, so the same.
  toShiftDR();
  run({0x2E, 0x03});
  EXPECT_EQ(run({0x6F, 0x01, 0x01}), (std::vector<uint8_t>{0xC0}));
  // 0x6A/0x6E put TMS out on the rising edge, the edge the TAP samples on: it sees the
  // old level (0) first, shifts bit 4 out and only then leaves with bit 5 (0).
  toShiftDR();
  run({0x2E, 0x03});
  EXPECT_EQ(run({0x6A, 0x01, 0x01}), (std::vector<uint8_t>{0x40}));
  EXPECT_EQ(state(), TapState::Exit1DR);
  toShiftDR();
  run({0x2E, 0x03});
  EXPECT_EQ(run({0x6E, 0x01, 0x01}), (std::vector<uint8_t>{0x40}));
}

TEST_F(Mpsse, TdiBitSevenOfATmsCommandIsHeld) {
  // Into Shift-IR ("00110" after Test-Logic-Reset), five instruction bits of 0x09, and
  // the sixth bit carried on TDI by the exit command's bit 7.
  for (uint8_t exit : {0x03, 0x83}) {
    run({0x4B, 0x06, 0x7F, 0x4B, 0x04, 0x06});
    ASSERT_EQ(state(), TapState::ShiftIR);
    run({0x1B, 0x04, 0x09, 0x4B, 0x02, exit});
    EXPECT_EQ(state(), TapState::RunTestIdle);
    EXPECT_EQ(chain.device(0).instruction(), exit & 0x80 ? 0x29u : 0x09u);
  }
  // Held for every clock of the command: loop back three samples of TDI.
  run({0x84});
  EXPECT_EQ(run({0x6B, 0x02, 0x80}), (std::vector<uint8_t>{0xE0}));
  EXPECT_EQ(run({0x6B, 0x02, 0x00}), (std::vector<uint8_t>{0x00}));
  run({0x85});
}

TEST_F(Mpsse, SplitCommandsGiveTheSameReplies) {
  const std::vector<uint8_t> seq = {0x4B, 0x06, 0x7F, 0x4B, 0x03, 0x02, 0x2C, 0x01, 0x00, 0x2E,
                                    0x05, 0x6B, 0x01, 0x01, 0xAA, 0x81, 0x3D, 0x01, 0x00, 0x55, 0xAA};
  auto whole = run(seq);
  JtagChain c2;
  DeviceConfig cfg;
  cfg.part = findPart("VU33P");
  c2.add(std::make_unique<XilinxDevice>(cfg, nullptr));
  VecSink s2;
  MpsseEngine e2(chipInfo(ChipKind::FT2232H), s2);
  e2.setChain(&c2);
  e2.reset(0x0B);
  const uint8_t init[] = {0x8A, 0x97, 0x86, 0x00, 0x00, 0x85, 0x80, 0xE8, 0xEB};
  e2.feed(init, sizeof init);
  for (uint8_t b : seq) ASSERT_EQ(e2.feed(&b, 1), 1u);
  EXPECT_EQ(s2.out, whole);
  EXPECT_EQ(whole.size(), 2u + 1 + 1 + 2 + 1 + 2);
  EXPECT_EQ(e2.tcks(), eng.tcks());
}

TEST_F(Mpsse, LoopbackAndBitOrder) {
  run({0x84});
  EXPECT_EQ(run({0x39, 0x01, 0x00, 0x12, 0xC4}), (std::vector<uint8_t>{0x12, 0xC4}));
  EXPECT_EQ(run({0x31, 0x01, 0x00, 0x12, 0xC4}), (std::vector<uint8_t>{0x12, 0xC4}));
  EXPECT_EQ(run({0x3B, 0x03, 0x05}), (std::vector<uint8_t>{0x50}));  // 1,0,1,0 in bits 4..7
  EXPECT_EQ(run({0x33, 0x03, 0xA0}), (std::vector<uint8_t>{0x0A}));  // MSB first: 1,0,1,0 in bits 3..0
  run({0x85});
  EXPECT_EQ(state(), TapState::TestLogicReset) << "TMS stayed high: the data clocks kept the TAP in reset";
}

TEST_F(Mpsse, PinsReadBack) {
  // Outputs as driven, inputs (TDO, GPIOL0) high: 0xE8 | 0x04 | 0x10.
  EXPECT_EQ(run({0x81}), (std::vector<uint8_t>{0xFC}));
  EXPECT_EQ(run({0x82, 0x2C, 0x3C, 0x83}), (std::vector<uint8_t>{0xEF}));  // 0x2C driven, the rest inputs
}

TEST_F(Mpsse, ClockOnlyCountsAndTiming) {
  run({0x4B, 0x06, 0x7F, 0x4B, 0x00, 0x00});  // reset, then Run-Test/Idle
  auto& dev = chain.device(0);
  const uint64_t t0 = eng.tcks(), idle0 = dev.idleTcks();
  run({0x8F, 0x00, 0x00});
  EXPECT_EQ(eng.tcks() - t0, 8u);
  run({0x8F, 0xFF, 0xFF});
  EXPECT_EQ(eng.tcks() - t0, 8u + 524288u);
  run({0x8E, 0x04});
  EXPECT_EQ(eng.tcks() - t0, 8u + 524288u + 5u);
  EXPECT_EQ(dev.idleTcks() - idle0, 8u + 524288u + 5u);
  EXPECT_EQ(state(), TapState::RunTestIdle);
  // 128 clocks at 30 MHz, then with divide-by-5 (6 MHz) and divisor 4 (1.2 MHz).
  uint64_t p0 = eng.timePs();
  run({0x8F, 0x0F, 0x00});
  EXPECT_NEAR(static_cast<double>(eng.timePs() - p0), 4266667.0, 1.0);
  EXPECT_DOUBLE_EQ(eng.tckHz(), 30e6);
  run({0x8B});
  p0 = eng.timePs();
  run({0x8F, 0x0F, 0x00});
  EXPECT_NEAR(static_cast<double>(eng.timePs() - p0), 21333333.0, 2.0);
  run({0x86, 0x04, 0x00});
  EXPECT_DOUBLE_EQ(eng.tckHz(), 1.2e6);
}

TEST_F(Mpsse, SevenBitTmsLeavesBitSevenOnTms) {
  run({0x4B, 0x06, 0x7F});  // TDI flag 0: TMS ends low
  run({0x8E, 0x00});
  EXPECT_EQ(state(), TapState::RunTestIdle);
  run({0x4B, 0x06, 0xFF});  // TDI flag 1: TMS ends high
  run({0x8E, 0x00});
  EXPECT_EQ(state(), TapState::TestLogicReset);
  run({0x4B, 0x05, 0x3F});  // six bits: TMS keeps the last one (1)
  run({0x8E, 0x00});
  EXPECT_EQ(state(), TapState::TestLogicReset);
}

TEST_F(Mpsse, TckDrivenByHandClocksTheChain) {
  run({0x4B, 0x06, 0x7F});
  run({0x8E, 0x00});  // Run-Test/Idle, TMS low, TCK low
  run({0x80, 0x08, 0xEB, 0x80, 0x09, 0xEB});  // TMS up, then a rising edge
  EXPECT_EQ(state(), TapState::SelectDR);
  run({0x80, 0x00, 0xEB});  // TCK and TMS low
  // TMS changes together with the rising edge: the TAP still sees it low.
  run({0x80, 0x09, 0xEB});
  EXPECT_EQ(state(), TapState::CaptureDR);
}

TEST_F(Mpsse, WaitOnGpioThatNeverComesHangs) {
  const uint8_t cmd[] = {0x89, 0x81};
  EXPECT_EQ(eng.feed(cmd, 2), 1u);
  EXPECT_TRUE(eng.hung());
  eng.reset(0x0B);
  EXPECT_FALSE(eng.hung());
  EXPECT_EQ(run({0x88, 0x9C, 0x00, 0x00, 0x81}).size(), 1u) << "GPIOL1 reads high: no wait, no clocks";
}

TEST_F(Mpsse, StallsWhenTheReplySideIsFullAndResumes) {
  toShiftDR();
  sink.cap = sink.out.size() + 2;
  const uint8_t cmd[] = {0x2C, 0x03, 0x00, 0x87};
  EXPECT_EQ(eng.feed(cmd, 4), 3u);
  EXPECT_TRUE(eng.suspended());
  EXPECT_EQ(sink.out.size(), 2u);
  sink.cap = 100;
  eng.resume();
  EXPECT_EQ(eng.feed(cmd + 3, 1), 1u);
  EXPECT_EQ(sink.out, (std::vector<uint8_t>{0x93, 0x90, 0xB6, 0x04}));
  EXPECT_EQ(sink.immediates, 1);
}

}  // namespace
}  // namespace varnsim
