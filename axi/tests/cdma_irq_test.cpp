#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "axi/tests/link_rig.h"

namespace {

using varnaxitest::AxiRequest;
using varnaxitest::LinkRig;
using varnaxitest::msSince;

std::vector<AxiRequest> writesOnly(const std::vector<AxiRequest>& reqs) {
  std::vector<AxiRequest> w;
  for (const auto& r : reqs)
    if (r.cmd == 0x02) w.push_back(r);
  return w;
}

size_t countCmd(const std::vector<AxiRequest>& reqs, uint8_t cmd) {
  size_t n = 0;
  for (const auto& r : reqs) n += r.cmd == cmd;
  return n;
}

TEST(AxiCdma, UnalignedWriteWarnsProgramsTheSourceAndRefusesItsPiece) {
  LinkRig rig;
  uint8_t data[18] = {};
  EXPECT_EQ(VARNAXICDMAWriteBytes(rig.link, data, 18, 0x1000), 2);
  EXPECT_EQ(rig.log.count("WARNING! CDMA data not 32 bit aligned! Unsupported\n"), 1);
  ASSERT_TRUE(rig.target->waitForRequests(3));
  auto reqs = rig.target->requests();
  ASSERT_EQ(reqs.size(), 3u) << "nothing of the 18-byte piece is sent";
  EXPECT_EQ(reqs[0].address, 0x120000u);
  EXPECT_EQ(reqs[0].data, 4u);
  EXPECT_EQ(reqs[1].address, 0x120018u);
  EXPECT_EQ(reqs[1].data, 0u);
  EXPECT_EQ(reqs[2].address, 0x12001Cu);
  EXPECT_EQ(reqs[2].data, 2u);
}

TEST(AxiCdma, WriteInChunksAndPiecesThenReadBackEqual) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 2500);
  rig.target->enableCdma(true);
  std::vector<uint8_t> data(0x18000);
  std::mt19937 rng(11);
  for (auto& b : data) b = uint8_t(rng());
  // A destination whose low word carries into the high word at the second chunk.
  const uint64_t dst = 0x0FFFF8000ull;
  ASSERT_EQ(VARNAXICDMAWriteBytes(rig.link, data.data(), uint32_t(data.size()), dst), 0);
  auto reqs = rig.target->requests();
  // 0x10000 = 16 pieces of 3968 and one of 2048; 0x8000 = 8 pieces and one of 1024.
  std::vector<uint32_t> pieces;
  for (const auto& r : reqs)
    if (r.cmd == 0x42) pieces.push_back(r.data);
  ASSERT_EQ(pieces.size(), 17u + 9u);
  EXPECT_EQ(pieces[0], 3968u);
  EXPECT_EQ(pieces[16], 2048u);
  EXPECT_EQ(pieces[25], 1024u);
  auto xfers = rig.target->cdmaTransfers();
  ASSERT_EQ(xfers.size(), 2u);
  EXPECT_EQ(xfers[0].source, 0x200000000ull);
  EXPECT_EQ(xfers[0].destination, dst);
  EXPECT_EQ(xfers[0].length, 0x10000u);
  EXPECT_EQ(xfers[1].destination, dst + 0x10000);
  EXPECT_EQ(xfers[1].length, 0x8000u);
  uint32_t word0;
  std::memcpy(&word0, data.data(), 4);
  EXPECT_EQ(rig.target->peek(dst), word0);

  rig.target->clearRequests();
  std::vector<uint8_t> back(data.size(), 0);
  ASSERT_EQ(VARNAXICDMAReadBytes(rig.link, back.data(), uint32_t(back.size()), dst), 0);
  EXPECT_EQ(back, data);
  xfers = rig.target->cdmaTransfers();
  ASSERT_EQ(xfers.size(), 4u);
  EXPECT_EQ(xfers[2].source, dst);
  EXPECT_EQ(xfers[2].destination, 0x200000000ull);
  EXPECT_EQ(xfers[3].source, dst + 0x10000);
}

TEST(AxiCdma, UnalignedReadStoresNoMoreThanItWasAskedFor) {
  LinkRig rig;
  rig.target->enableCdma(true);
  for (int i = 0; i < 8; ++i) rig.target->poke(0x5000 + 4 * i, 0x01020304u * uint32_t(i + 1));
  uint8_t buf[32];
  std::memset(buf, 0xEE, sizeof(buf));
  ASSERT_EQ(VARNAXICDMAReadBytes(rig.link, buf, 18, 0x5000), 0);
  EXPECT_EQ(rig.log.count("WARNING! CDMA data not 32 bit aligned! Unsupported\n"), 1);
  uint32_t w4;
  std::memcpy(&w4, buf + 16, 4);
  uint32_t expect = 0x01020304u * 5;
  EXPECT_EQ(buf[16], uint8_t(expect));
  EXPECT_EQ(buf[17], uint8_t(expect >> 8));
  EXPECT_EQ(buf[18], 0xEE) << "the partial last word must not run past the caller's 18 bytes";
  EXPECT_EQ(buf[19], 0xEE);
}

TEST(AxiCdma, CopySplitsInto32MiBTransfersWithRegistersInOrder) {
  LinkRig rig;
  rig.target->enableCdma(true, 0);  // record only: do not move 48 MiB of model memory
  EXPECT_EQ(VARNAXICDMACopyBytes(rig.link, 0x10000000, 0x40000000, 0x3000000), 0);
  auto xfers = rig.target->cdmaTransfers();
  ASSERT_EQ(xfers.size(), 2u);
  EXPECT_EQ(xfers[0].length, 0x2000000u);
  EXPECT_EQ(xfers[1].source, 0x12000000u);
  EXPECT_EQ(xfers[1].destination, 0x42000000u);
  EXPECT_EQ(xfers[1].length, 0x1000000u);
  auto w = writesOnly(rig.target->requests());
  ASSERT_GE(w.size(), 6u);
  const uint64_t order[] = {0x120000, 0x120020, 0x120024, 0x120018, 0x12001C, 0x120028};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(w[size_t(i)].address, order[i]) << i;
  rig.target->clearRequests();
  EXPECT_EQ(VARNAXICDMACopyBytes(rig.link, 0, 0, 0), 0);
  ASSERT_TRUE(rig.target->waitForRequests(1));
  EXPECT_EQ(rig.target->requestCount(), 1u) << "a zero length only resets the engine";
}

TEST(AxiCdma, EngineErrorsAreLoggedByKindTheEngineResetAndOneReturned) {
  LinkRig rig;
  rig.target->enableCdma(true);
  rig.target->setCdmaError(0x70);
  EXPECT_EQ(VARNAXICDMACopyBytes(rig.link, 0, 0x1000, 64), 1);
  EXPECT_EQ(rig.log.text(), "CDMA Decode Error!\nCDMA Slave Error!\nCDMA Internal Error!\n");
  ASSERT_TRUE(rig.target->waitForRequests(8));
  auto reqs = rig.target->requests();
  EXPECT_EQ(reqs.back().cmd, 0x02);
  EXPECT_EQ(reqs.back().address, 0x120000u);
  EXPECT_EQ(reqs.back().data, 4u);
  EXPECT_EQ(countCmd(reqs, 0x01), 1u) << "the error ends the polling at once";
}

TEST(AxiCdma, AnEngineThatNeverFinishesEndsTheWaitWithATimeOut) {
  LinkRig rig;
  rig.target->enableCdma(true);
  rig.target->setReadHook([](uint64_t address, uint32_t* value) {
    if (address != 0x120004) return false;
    *value = 0;  // busy, no error, for ever
    return true;
  });
  uint64_t t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXICDMACopyBytes(rig.link, 0, 0x1000, 64), 3);
  EXPECT_GE(msSince(t0), 1000u);
  EXPECT_EQ(rig.log.count("CDMA engine still busy after 1000 ms for 64 bytes (status 00000000) - resetting it\n"),
            1);
  uint32_t v = 0;
  ASSERT_EQ(VARNAXIRead(rig.link, &v, 0x10), 0);  // answered in order: everything before it arrived
  auto reqs = rig.target->requests();
  ASSERT_GE(reqs.size(), 2u);
  EXPECT_EQ(reqs[reqs.size() - 2].address, 0x120000u) << "the engine is reset";
  EXPECT_EQ(reqs[reqs.size() - 2].data, 4u);
  std::vector<uint8_t> block(64, 0x5A);
  EXPECT_EQ(VARNAXICDMAReadBytes(rig.link, block.data(), 64, 0x1000), 3);
}

struct CallbackLog {
  std::atomic<int> calls{0};
  std::atomic<int> lastIndex{-1};
  std::atomic<uint64_t> lastValue{0};
};

void recordCallback(_VARNAXI*, int index, uint64_t value, void* ctx) {
  auto* log = static_cast<CallbackLog*>(ctx);
  log->lastIndex = index;
  log->lastValue = value;
  ++log->calls;
}

TEST(AxiInterrupts, MissedSequenceNumbersAreLogged) {
  LinkRig rig;
  rig.target->sendInterrupt(0x17, 0, 1);
  rig.target->sendInterrupt(0x17, 5, 2);
  rig.target->sendInterrupt(0x17, 7, 3);
  rig.target->sendInterrupt(0x17, 8, 4);
  ASSERT_TRUE(rig.log.waitFor("Interupts missed - 6 -> 7\n"));
  EXPECT_EQ(rig.log.text(), "Interupts missed - 1 -> 5\nInterupts missed - 6 -> 7\n");
}

TEST(AxiInterrupts, WaitReturnsQueuedValuesAndKickWakes) {
  LinkRig rig;
  uint32_t out[2] = {};
  uint64_t t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 60), 3);
  EXPECT_GE(msSince(t0), 55u);

  rig.target->sendInterrupt(0x17, 0, 0x1122334455667788ull);
  rig.target->sendInterrupt(0x17, 1, 0x99);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 2000), 0);
  EXPECT_EQ(out[0], 0x55667788u);
  EXPECT_EQ(out[1], 0x11223344u);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 1, out, 2000), 0);
  EXPECT_EQ(out[0], 0x99u);

  EXPECT_EQ(VARNAXIKickInterrupts(rig.link), 0);
  t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 5000), 3);
  EXPECT_LT(msSince(t0), 100u) << "a kick on an empty ring returns at once";

  // A kick also ends a wait already in progress.
  std::thread waiter([&] {
    uint32_t o[2];
    uint64_t s = varn_monotonic_ns();
    EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, o, 5000), 3);
    EXPECT_LT(msSince(s), 2000u);
  });
  varn_sleep_ms(50);
  VARNAXIKickInterrupts(rig.link);
  waiter.join();
}

// Several waiters of different indices: an interrupt that does not fit a waiter stays
// for another, and each one is delivered exactly once.
TEST(AxiInterrupts, EachInterruptReachesExactlyOneFittingWaiter) {
  LinkRig rig;
  uint32_t out[2] = {};
  // Index 2 fits no set-1 interrupt: its wait must leave them queued.
  std::thread other([&] {
    uint32_t o[2];
    EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 2, o, 300), 3);
  });
  varn_sleep_ms(20);
  rig.target->sendInterrupt(0x17, 0, 1);
  rig.target->sendInterrupt(0x17, 1, 2);
  other.join();
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 1, out, 2000), 0);
  EXPECT_EQ(out[0], 1u);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 1, out, 2000), 0);
  EXPECT_EQ(out[0], 2u);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 50), 3) << "each was taken once";

  constexpr int kWaiters = 6;
  std::vector<uint32_t> got(kWaiters, 0);
  std::vector<std::thread> waiters;
  for (int w = 0; w < kWaiters; ++w) {
    waiters.emplace_back([&, w] {
      uint32_t o[2] = {};
      if (VARNAXIWaitForInterrupt(rig.link, unsigned(w % 2), o, 5000) == 0) got[size_t(w)] = o[0];
    });
  }
  for (int k = 0; k < kWaiters; ++k) rig.target->sendInterrupt(0x17, uint8_t(2 + k), uint64_t(100 + k));
  for (auto& t : waiters) t.join();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<uint32_t>{100, 101, 102, 103, 104, 105}));
}

TEST(AxiInterrupts, OnlySetOneIsDispatchedAndCallbacksDecideQueueing) {
  LinkRig rig;
  CallbackLog c0, c1;
  uint32_t out[2];
  EXPECT_EQ(VARNAXIRegisterForInterrupts(rig.link, 4, recordCallback, &c0), 2);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 4, out, 1), 2);
  ASSERT_EQ(VARNAXIRegisterForInterrupts(rig.link, 0, recordCallback, &c0), 0);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 1), 1) << "index 0 belongs to its callback";

  rig.target->sendInterrupt(0x27, 0, 0xAB);  // another interrupt set: not for the link
  rig.target->sendInterrupt(0x17, 1, 0xCD);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 1, out, 2000), 0);
  EXPECT_EQ(out[0], 0xCDu) << "with one callback the interrupt is also queued";
  EXPECT_EQ(c0.calls.load(), 1);
  EXPECT_EQ(c0.lastIndex.load(), 0);
  EXPECT_EQ(c0.lastValue.load(), 0xCDu);

  ASSERT_EQ(VARNAXIRegisterForInterrupts(rig.link, 1, recordCallback, &c1), 0);
  rig.target->sendInterrupt(0x17, 2, 0xEF);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 2, out, 200), 3) << "with both callbacks nothing is queued";
  EXPECT_EQ(c0.calls.load(), 2);
  EXPECT_EQ(c1.calls.load(), 1);
  EXPECT_EQ(c1.lastIndex.load(), 1);
  EXPECT_EQ(c1.lastValue.load(), 0xEFu);
  EXPECT_EQ(rig.log.text(), "");
}

TEST(AxiInterrupts, StormEmptiesTheQueueAndGoesOn) {
  LinkRig rig;
  for (int i = 0; i < 256; ++i) rig.target->sendInterrupt(0x17, uint8_t(i), uint64_t(i));
  ASSERT_TRUE(rig.log.waitFor("Interrupt Storm - suppressing queued interrupts until the weather clears\n"));
  uint32_t out[2];
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 1000), 0);
  EXPECT_EQ(out[0], 255u) << "only the interrupt after the storm is left";
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, out, 50), 3);
}

TEST(AxiInterrupts, MaskPacketTakesASequenceNumberAndWaitsForNothing) {
  LinkRig rig;
  rig.target->setAnswering(false);
  EXPECT_EQ(VARNAXIEnableInterruptsWithMask(rig.link, 0x05), 0);
  EXPECT_EQ(VARNAXIWrite(rig.link, 1, 0, false), 0);
  ASSERT_TRUE(rig.target->waitForRequests(2));
  auto reqs = rig.target->requests();
  EXPECT_EQ(reqs[0].cmd, 0xFF);
  EXPECT_EQ(reqs[0].seq, 0);
  EXPECT_EQ(reqs[0].address, 0x0500000000000000ull) << "byte 2 carries the mask, the rest is zero";
  EXPECT_EQ(reqs[0].data, 0u);
  EXPECT_EQ(reqs[1].seq, 1);
}

}  // namespace
