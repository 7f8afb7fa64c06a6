#include <gtest/gtest.h>

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

std::vector<uint8_t> rawPacket(uint8_t cmd, uint8_t seq, uint64_t address, uint32_t data) {
  std::vector<uint8_t> p(16);
  _VARNAXIMakePacket(p.data(), cmd, seq, address, data);
  return p;
}

TEST(AxiLink, ReadsWritesAndSequenceNumbersOnTheWire) {
  LinkRig rig;
  EXPECT_EQ(VARNAXIIsConnected(rig.link), 0);
  EXPECT_EQ(VARNAXIWrite(rig.link, 0xCAFEF00D, 0x1000, true), 0);
  EXPECT_EQ(VARNAXIWrite(rig.link, 0x11223344, 0x1004, false), 0);
  uint32_t v = 0;
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x1000), 0);
  EXPECT_EQ(v, 0xCAFEF00Du);
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x1004), 0);
  EXPECT_EQ(v, 0x11223344u);
  auto reqs = rig.target->requests();
  ASSERT_EQ(reqs.size(), 4u);
  for (uint8_t i = 0; i < 4; ++i) EXPECT_EQ(reqs[i].seq, i) << "every request takes the next number";
  EXPECT_EQ(reqs[0].cmd, 0x02);
  EXPECT_EQ(reqs[2].cmd, 0x01);
  EXPECT_EQ(reqs[2].data, 0xAAAAAAAAu) << "a read carries 0xAA in its data field";
  EXPECT_EQ(reqs[2].address, 0x1000u);
}

TEST(AxiLink, TestRequestLogsTheAnswer) {
  LinkRig rig;
  EXPECT_EQ(VARNAXITest(rig.link), 0);
  auto reqs = rig.target->requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].address, 0x12345678u);
  EXPECT_EQ(reqs[0].data, 0xAAAAAAAAu);
  EXPECT_EQ(rig.log.text(), "Test Response: 0000000000001234567" "8aaaaaaaa0c0d\n");
}

TEST(AxiLink, FireAndForgetWriteDoesNotWaitAndItsAnswerIsDropped) {
  LinkRig rig;
  rig.target->holdAnswers(true);
  uint64_t t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXIWrite(rig.link, 5, 0x20, false), 0);
  EXPECT_LT(msSince(t0), 20u);
  ASSERT_TRUE(rig.target->waitForRequests(1));
  rig.target->holdAnswers(false);
  rig.target->releaseHeld();
  uint32_t v = 0;
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x20), 0);
  EXPECT_EQ(v, 5u);
  EXPECT_EQ(rig.log.text(), "") << "the unwanted answer goes without a message";
}

TEST(AxiLink, PipelinesUpTo255OutstandingAndRefusesThe256th) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 20000);
  for (uint32_t i = 0; i < 255; ++i) rig.target->poke(0x10000 + 4 * i, i * 7 + 1);
  rig.target->holdAnswers(true);
  std::vector<std::thread> readers;
  std::vector<uint32_t> got(255, 0);
  std::vector<int> rc(255, -1);
  for (int i = 0; i < 255; ++i)
    readers.emplace_back([&, i] { rc[i] = VARNAXIRead(rig.link, &got[i], 0x10000 + 4 * uint64_t(i)); });
  ASSERT_TRUE(rig.target->waitForRequests(255, 10000));
  uint32_t v;
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0), 5);
  EXPECT_EQ(VARNAXIWrite(rig.link, 1, 0, false), 5) << "a full ring sends nothing at all";
  EXPECT_EQ(rig.target->requestCount(), 255u);
  rig.target->holdAnswers(false);
  rig.target->releaseHeld();
  for (auto& t : readers) t.join();
  for (int i = 0; i < 255; ++i) {
    EXPECT_EQ(rc[i], 0) << i;
    EXPECT_EQ(got[i], uint32_t(i) * 7 + 1) << "answer matched to its own request " << i;
  }
  EXPECT_EQ(rig.link->txHead, rig.link->txTail) << "every slot was given back";
}

TEST(AxiLink, AnswerWithMatchingSequenceButOtherCommandIsDropped) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 5000);
  rig.target->setAnswering(false);
  uint32_t v = 0;
  int rc = -1;
  std::thread reader([&] { rc = VARNAXIRead(rig.link, &v, 0x44); });
  ASSERT_TRUE(rig.target->waitForRequests(1));
  uint8_t seq = rig.target->requests()[0].seq;
  auto wrong = rawPacket(0x02, seq, 0x44, 0xBAD);
  rig.target->sendRaw(wrong.data(), wrong.size());
  auto right = rawPacket(0x01, seq, 0x44, 0x600D);
  rig.target->sendRaw(right.data(), right.size());
  reader.join();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(v, 0x600Du);
}

TEST(AxiLink, TimeoutLogsOnceAndTheLateAnswerDisturbsNothing) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 100);
  rig.target->holdAnswers(true);
  rig.target->poke(0x80, 0x1111);
  uint32_t v = 0;
  uint64_t t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x80), 3);
  uint64_t took = msSince(t0);
  EXPECT_GE(took, 95u);
  EXPECT_LT(took, 1000u);
  EXPECT_EQ(rig.log.count("AXI Timeout Expired 01 00 - Communications Error - 100 ms\n"), 1);
  rig.target->holdAnswers(false);
  rig.target->releaseHeld();  // the late answer to sequence 0
  rig.target->poke(0x84, 0x2222);
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x84), 0);
  EXPECT_EQ(v, 0x2222u);
  // The abandoned slot must not clog the ring.
  for (int i = 0; i < 300; ++i) ASSERT_EQ(VARNAXIRead(rig.link, &v, 0x84), 0) << i;
  EXPECT_EQ(rig.log.count("AXI Timeout"), 1);
}

// A late answer that arrives once the sequence numbers have gone round, while a new
// read under the same number waits: the target repeats addresses, so it is told apart.
TEST(AxiLink, ALateAnswerUnderAReusedNumberIsNotTakenForTheNewRead) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 100);
  rig.target->poke(0x80, 0x1111);
  rig.target->poke(0xB000, 0xB0B0);
  uint32_t v = 0;
  ASSERT_EQ(VARNAXIRead(rig.link, &v, 0x80), 0);  // sequence 0: the target repeats addresses
  rig.target->holdAnswers(true);
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0x80), 3);  // sequence 1, given up
  for (int i = 0; i < 255; ++i) ASSERT_EQ(VARNAXIWrite(rig.link, uint32_t(i), 0x90, false), 0);
  VARNAXISetTimeout(rig.link, 2500);
  int rc = -1;
  std::thread reader([&] { rc = VARNAXIRead(rig.link, &v, 0xB000); });  // sequence 1 again
  ASSERT_TRUE(rig.target->waitForRequests(258));
  rig.target->holdAnswers(false);
  rig.target->releaseHeld();
  reader.join();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(v, 0xB0B0u) << "not 0x1111, the answer to the read given up on";
}

TEST(AxiLink, TimeoutIsBoundedEvenWhileOtherAnswersKeepArriving) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 200);
  rig.target->setUnansweredAddress(0xDEAD00);
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::thread busy([&] {
    uint32_t x;
    while (!stop)
      if (VARNAXIRead(rig.link, &x, 0x40) == 0) ++answered;
  });
  uint32_t v;
  uint64_t t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0xDEAD00), 3);
  uint64_t took = msSince(t0);
  stop = true;
  busy.join();
  EXPECT_GT(answered.load(), 10) << "other answers kept waking the waiter";
  EXPECT_GE(took, 190u);
  EXPECT_LT(took, 1000u) << "answers for other requests must not stretch a wait";
}

TEST(AxiLink, DuplicateAnswersAreDroppedSilently) {
  LinkRig rig;
  rig.target->setDuplicateAnswers(true);
  for (uint32_t i = 0; i < 50; ++i) {
    rig.target->poke(4 * i, i ^ 0x5A5A);
    uint32_t v = 0;
    ASSERT_EQ(VARNAXIRead(rig.link, &v, 4 * i), 0);
    EXPECT_EQ(v, i ^ 0x5A5A);
  }
  EXPECT_EQ(rig.log.text(), "");
}

TEST(AxiLink, OverflowFlagIsReportedAndTheAnswerStillDelivered) {
  LinkRig rig;
  rig.target->setAnswerFlags(0x10);  // answer command 0x12 for a write
  EXPECT_EQ(VARNAXIWrite(rig.link, 9, 0x300, true), 0);
  EXPECT_EQ(rig.log.count("AXI Req Buffer Overflow\n"), 1);
}

TEST(AxiLink, BulkWriteChecksAndRefusals) {
  LinkRig rig;
  std::vector<uint8_t> data(3968);
  std::mt19937 rng(3);
  for (auto& b : data) b = uint8_t(rng());
  EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 20, 0x200000, false), 2);
  EXPECT_EQ(rig.target->requestCount(), 0u) << "a bad length sends nothing";

  EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), uint32_t(data.size()), 0x200000, false), 0);
  uint32_t host0;
  std::memcpy(&host0, data.data(), 4);
  EXPECT_EQ(rig.target->peek(0x200000), host0) << "swapped words arrive as the host's values";
  EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 32, 0x300000, true), 0);
  EXPECT_EQ(rig.target->peek(0x300000), (uint32_t(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3]);
  auto reqs = rig.target->requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].cmd, 0x42);
  EXPECT_EQ(reqs[0].data, 3968u);

  rig.target->setBulkCrcXor(1);
  EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 64, 0x200000, false), 4);
  rig.target->setBulkCrcXor(0);
  rig.target->setAnswerFlags(0x40);
  EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 64, 0x200000, false), 1);
  rig.target->setAnswerFlags(0);
  rig.target->setAnswering(false);
  uint64_t t0 = varn_monotonic_ns();
  EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 64, 0x200000, false), 3);
  EXPECT_GE(msSince(t0), 950u);
  EXPECT_EQ(rig.log.count("AXI Timeout!\n"), 1);
}

TEST(AxiLink, BulkWriteSucceedsWhileOtherThreadsKeepTheLinkBusy) {
  LinkRig rig;
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::vector<std::thread> busy;
  for (int t = 0; t < 2; ++t)
    busy.emplace_back([&] {
      uint32_t x;
      while (!stop) {
        if (VARNAXIRead(rig.link, &x, 0x40) == 0) ++reads;
      }
    });
  std::vector<uint8_t> data(3968, 0x5C);
  rig.target->setAnswerDelayUs(200);  // every answer a little late
  // At least 20 bulk writes, and on until the readers have had their turns too (on a
  // loaded machine they may start late).
  for (int i = 0; i < 20 || (reads.load() <= 20 && i < 5000); ++i)
    EXPECT_EQ(VARNAXIWriteBulk(rig.link, data.data(), 3968, 0x200000, false), 0) << i;
  stop = true;
  for (auto& t : busy) t.join();
  EXPECT_GT(reads.load(), 20);
  EXPECT_EQ(rig.log.count("AXI Timeout"), 0);
}

TEST(AxiLink, EveryOperationReportsNotConnectedAfterThePeerCloses) {
  LinkRig rig;
  rig.target->closeConnection();
  ASSERT_TRUE(rig.log.waitFor("Got disconnected\n!"));
  uint32_t v, pair[2];
  uint8_t buf[32] = {};
  EXPECT_EQ(VARNAXIIsConnected(rig.link), 6);
  EXPECT_EQ(VARNAXIRead(rig.link, &v, 0), 6);
  EXPECT_EQ(VARNAXIWrite(rig.link, 1, 0, false), 6);
  EXPECT_EQ(VARNAXIWrite(rig.link, 1, 0, true), 6);
  EXPECT_EQ(VARNAXITest(rig.link), 6);
  EXPECT_EQ(VARNAXIWriteBulk(rig.link, buf, 16, 0, true), 6);
  EXPECT_EQ(VARNAXIEnableInterruptsWithMask(rig.link, 1), 6);
  EXPECT_EQ(VARNAXIWaitForInterrupt(rig.link, 0, pair, 10), 6);
  EXPECT_EQ(VARNAXICDMAWriteBytes(rig.link, buf, 16, 0), 6);
  EXPECT_EQ(VARNAXICDMAReadBytes(rig.link, buf, 16, 0), 6);
  EXPECT_EQ(VARNAXICDMACopyBytes(rig.link, 0, 16, 16), 6);
}

TEST(AxiLink, UnconnectedHandleAndFailedCreates) {
  varnaxitest::LogCapture log;
  _VARNAXI* idle = VARNAXICreate(1, "10.0.0.1", 1);
  ASSERT_NE(idle, nullptr);
  uint32_t v;
  EXPECT_EQ(VARNAXIIsConnected(idle), 6);
  EXPECT_EQ(VARNAXIRead(idle, &v, 0), 6);
  EXPECT_EQ(VARNAXIWrite(idle, 0, 0, true), 6);
  VARNAXIDestroy(&idle);
  EXPECT_EQ(idle, nullptr);
  VARNAXIDestroy(&idle);  // a cleared pointer is fine
  VARNAXIDestroy(nullptr);

  EXPECT_EQ(VARNAXICreate(0, "not-an-address", 2000), nullptr);
  EXPECT_EQ(log.count("failed to convert address not-an-address to binary net address\n"), 1);
  uint16_t port = 0;
  varn_socket l = varnaxitest::listenLoopback(&port);
  varn_close_socket(l);  // nobody listens there now
  EXPECT_EQ(VARNAXICreate(0, "127.0.0.1", port), nullptr);
}

TEST(AxiLink, DestroyWakesTheReceiveThreadAndClearsThePointer) {
  LinkRig rig;
  uint64_t t0 = varn_monotonic_ns();
  VARNAXIDestroy(&rig.link);
  EXPECT_EQ(rig.link, nullptr);
  EXPECT_LT(msSince(t0), 500u);
  EXPECT_EQ(rig.log.count("Got disconnected\n!"), 1);
}

TEST(AxiLink, ManyThreadsShareOneLink) {
  LinkRig rig;
  VARNAXISetTimeout(rig.link, 5000);
  std::vector<std::thread> ts;
  std::atomic<int> bad{0};
  for (int t = 0; t < 8; ++t)
    ts.emplace_back([&, t] {
      for (uint32_t i = 0; i < 300; ++i) {
        uint64_t a = 0x100000 + uint64_t(t) * 0x1000 + 4 * (i % 64);
        uint32_t val = (uint32_t(t) << 24) | i;
        if (VARNAXIWrite(rig.link, val, a, true) != 0) ++bad;
        uint32_t got = 0;
        if (VARNAXIRead(rig.link, &got, a) != 0 || got != val) ++bad;
        if (i % 3 == 0 && VARNAXIWrite(rig.link, val, a + 0x800, false) != 0) ++bad;
      }
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
