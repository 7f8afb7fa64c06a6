#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "testsupport/axi/flood_client.h"
#include "axi/tests/bridge_rig.h"

namespace {

using varnaxitest::BridgeRig;
using varnaxitest::makePacket;
using varnaxitest::Packet;
using varnaxitest::recvPacket;
using varnaxitest::sawClose;
using varnaxitest::sendBytes;

size_t countCmd(const std::vector<varnaxitest::AxiRequest>& reqs, uint8_t cmd) {
  size_t n = 0;
  for (const auto& r : reqs) n += r.cmd == cmd;
  return n;
}

TEST(AxiBridge, TwoClientsWithTheSameSequenceNumberEachGetTheirOwnAnswer) {
  BridgeRig rig;
  rig.fpga->poke(0x100, 0xAAAA0001);
  rig.fpga->poke(0x200, 0xBBBB0002);
  varn_socket a = rig.raw(), b = rig.raw();
  ASSERT_TRUE(sendBytes(a, makePacket(0x01, 7, 0x100, 0xAAAAAAAA)));
  ASSERT_TRUE(sendBytes(b, makePacket(0x01, 7, 0x200, 0xAAAAAAAA)));
  auto pa = recvPacket(a), pb = recvPacket(b);
  ASSERT_TRUE(pa && pb);
  EXPECT_EQ((*pa)[1], 7);
  EXPECT_EQ((*pb)[1], 7);
  EXPECT_TRUE(VARNAXIPacketCheckOK(pa->data())) << "the check field is recomputed for the client";
  EXPECT_EQ(VARNAXIPacketData(pa->data()), 0xAAAA0001u);
  EXPECT_EQ(VARNAXIPacketData(pb->data()), 0xBBBB0002u);
  auto reqs = rig.fpga->requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_NE(reqs[0].seq, reqs[1].seq) << "upstream numbers are the bridge's own";
  EXPECT_EQ(rig.log.count("New client connected\n"), 2);
}

TEST(AxiBridge, LinksPipelineThroughTheBridgeWithoutLossOrMixUp) {
  BridgeRig rig;
  std::vector<_VARNAXI*> links;
  for (int i = 0; i < 4; ++i) links.push_back(rig.link());
  std::atomic<int> bad{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < 4; ++i)
    ts.emplace_back([&, i] {
      for (uint32_t k = 0; k < 400; ++k) {
        uint64_t a = 0x10000 * uint64_t(i + 1) + 4 * (k % 32);
        uint32_t v = (uint32_t(i) << 28) | k;
        if (VARNAXIWrite(links[i], v, a, false) != 0) ++bad;
        uint32_t got = 0;
        if (VARNAXIRead(links[i], &got, a) != 0 || got != v) ++bad;
      }
      if (VARNAXITest(links[i]) != 0) ++bad;
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(rig.fpga->requestCount(), 4u * 801u) << "nothing forwarded twice or lost";
}

// A client in the first slot that keeps 255 writes in flight against a slow FPGA, and
// three clients that each wait for one read at a time: the readers are served within
// a few answer batches, and the pipelining client still moves.
TEST(AxiBridge, APipeliningClientCannotStarveBlockingOnes) {
  BridgeRig rig;
  rig.fpga->setAnswerPaceUs(50);  // about 20 000 answers a second
  varnaxitest::FloodClient flood(rig.port);
  ASSERT_TRUE(rig.waitClients(1));
  for (int i = 0; i < 1000 && flood.answers() <= 2000; ++i) varn_sleep_ms(10);
  ASSERT_GT(flood.answers(), 2000u);
  for (int i = 0; i < 500 && rig.inFlight() != 255; ++i) varn_sleep_ms(10);
  EXPECT_EQ(rig.inFlight(), 255) << "the pipelining client alone fills every number";

  constexpr int kReaders = 3, kReads = 30;
  for (int r = 0; r < kReaders; ++r)
    for (int k = 0; k < kReads; ++k) rig.fpga->poke(0x8000 + 0x100 * r + 4 * k, uint32_t(r << 16 | k));
  std::vector<_VARNAXI*> links;
  for (int r = 0; r < kReaders; ++r) links.push_back(rig.link());
  const uint64_t floodBefore = flood.answers();
  std::vector<double> latencyMs;
  std::mutex mu;
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&, r] {
      for (int k = 0; k < kReads; ++k) {
        uint32_t v = 0;
        uint64_t t0 = varn_monotonic_ns();
        int rc = VARNAXIRead(links[size_t(r)], &v, 0x8000 + 0x100 * r + 4 * k);
        double ms = double(varn_monotonic_ns() - t0) / 1e6;
        if (rc != 0 || v != uint32_t(r << 16 | k)) ++wrong;
        std::lock_guard<std::mutex> hold(mu);
        latencyMs.push_back(ms);
      }
    });
  }
  for (auto& t : readers) t.join();
  const uint64_t floodDuring = flood.answers() - floodBefore;
  EXPECT_EQ(wrong, 0) << "every blocking read answered with its own value";
  std::sort(latencyMs.begin(), latencyMs.end());
  const double p99 = latencyMs[latencyMs.size() * 99 / 100];
  EXPECT_LT(p99, 250.0) << "p50 " << latencyMs[latencyMs.size() / 2] << " ms";
  EXPECT_GT(floodDuring, uint64_t(kReaders * kReads)) << "the pipelining client keeps moving";
}

TEST(AxiBridge, SeventeenthClientIsClosedAndTheOthersCarryOn) {
  BridgeRig rig;
  std::vector<varn_socket> cs;
  for (int i = 0; i < 16; ++i) cs.push_back(rig.raw());
  varn_socket extra = varnaxitest::connectLoopback(rig.port);
  ASSERT_TRUE(varn_socket_valid(extra));
  EXPECT_TRUE(sawClose(extra)) << "the seventeenth is accepted and closed at once";
  varn_close_socket(extra);
  EXPECT_TRUE(rig.log.waitFor("Dropped client since 16 clients are already connected\n"));
  rig.fpga->poke(0x40, 77);
  for (int i = 0; i < 16; ++i) {
    ASSERT_TRUE(sendBytes(cs[size_t(i)], makePacket(0x01, uint8_t(i), 0x40, 0xAAAAAAAA)));
    auto p = recvPacket(cs[size_t(i)]);
    ASSERT_TRUE(p) << i;
    EXPECT_EQ((*p)[1], uint8_t(i));
    EXPECT_EQ(VARNAXIPacketData(p->data()), 77u);
  }
}

TEST(AxiBridge, InterruptsFanOutByMaskAndRegistrationsStayLocal) {
  BridgeRig rig;
  varn_socket one = rig.raw(), two = rig.raw(), none = rig.raw();
  ASSERT_TRUE(sendBytes(one, makePacket(0xFF, 0, uint64_t(0x01) << 56, 0)));
  ASSERT_TRUE(sendBytes(two, makePacket(0xFF, 0, uint64_t(0x02) << 56, 0)));
  ASSERT_TRUE(rig.log.waitFor("Interrupt Registration - Client 1 mask 02\n"));
  EXPECT_EQ(rig.log.count("Interrupt Registration - Client 0 mask 01\n"), 1);
  rig.fpga->sendInterrupt(0x17, 0, 0x11);
  rig.fpga->sendInterrupt(0x27, 1, 0x22);
  rig.fpga->sendInterrupt(0x37, 2, 0x33);
  auto p = recvPacket(one);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[0], 0x17);
  p = recvPacket(one);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[0], 0x37);
  p = recvPacket(two);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[0], 0x27);
  p = recvPacket(two);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[0], 0x37);
  EXPECT_EQ(VARNAXIPacketAddress(p->data()), 0x33u) << "passed on unchanged";
  EXPECT_FALSE(recvPacket(none, 200)) << "a client that never registered gets none";
  EXPECT_FALSE(recvPacket(one, 50));
  EXPECT_EQ(countCmd(rig.fpga->requests(), 0xFF), 0u) << "a registration never reaches the FPGA";
}

TEST(AxiBridge, LinkReceivesItsInterruptsThroughTheBridge) {
  BridgeRig rig;
  _VARNAXI* l = rig.link();
  ASSERT_EQ(VARNAXIEnableInterruptsWithMask(l, 0x01), 0);
  ASSERT_TRUE(rig.log.waitFor("Interrupt Registration - Client 0 mask 01\n"));
  rig.fpga->sendInterrupt(0x17, 0, 0xFEEDFACE12345678ull);
  uint32_t out[2];
  EXPECT_EQ(VARNAXIWaitForInterrupt(l, 0, out, 2000), 0);
  EXPECT_EQ(out[0], 0x12345678u);
  EXPECT_EQ(out[1], 0xFEEDFACEu);
}

TEST(AxiBridge, BulkPayloadArrivingInPiecesReachesTheFpgaWhole) {
  BridgeRig rig;
  rig.fpga->recordRaw(true);
  varn_socket bulk = rig.raw();
  _VARNAXI* busy = rig.link();
  std::vector<uint8_t> payload(4096);
  std::mt19937 rng(5);
  for (auto& b : payload) b = uint8_t(rng());
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::thread flood([&] {
    while (!stop) {
      if (VARNAXIWrite(busy, 0x5A5A5A5A, 0x7000, false) == 0) ++writes;
      varn_sleep_us(50);
    }
  });
  ASSERT_TRUE(sendBytes(bulk, makePacket(0x42, 0x33, 0x200000, uint32_t(payload.size()))));
  for (size_t off = 0; off < payload.size(); off += 1000) {
    size_t n = std::min<size_t>(1000, payload.size() - off);
    varn_sleep_ms(20);
    ASSERT_EQ(varn_send_all(bulk, payload.data() + off, n), 0);
  }
  auto answer = recvPacket(bulk, 3000);
  stop = true;
  flood.join();
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[0], 0x02);
  EXPECT_EQ((*answer)[1], 0x33);
  EXPECT_EQ(VARNAXIPacketData(answer->data()), crc32(payload.data(), int(payload.size())));
  EXPECT_GT(writes.load(), 10);
  // In the FPGA's byte stream the payload follows its header with nothing in between.
  auto raw = rig.fpga->rawReceived();
  auto it = std::search(raw.begin(), raw.end(), payload.begin(), payload.begin() + 32);
  ASSERT_NE(it, raw.end());
  ASSERT_GE(it - raw.begin(), 16);
  EXPECT_EQ((it - raw.begin()) % 16, 0);
  EXPECT_EQ(*(it - 16), 0x42);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), it));
}

TEST(AxiBridge, GarbageFromAClientIsSkippedAndOthersAreUnaffected) {
  BridgeRig rig;
  varn_socket noisy = rig.raw(), quiet = rig.raw();
  rig.fpga->poke(0x10, 0x10101010);
  std::vector<uint8_t> stream{0xDE, 0xAD, 0xBE};
  Packet good = makePacket(0x01, 1, 0x10, 0xAAAAAAAA);
  Packet broken = good;
  broken[12] ^= 0x40;  // one corrupted byte
  stream.insert(stream.end(), broken.begin(), broken.end());
  stream.insert(stream.end(), good.begin(), good.end());
  ASSERT_TRUE(sendBytes(noisy, stream));
  ASSERT_TRUE(sendBytes(quiet, makePacket(0x01, 9, 0x10, 0xAAAAAAAA)));
  auto p = recvPacket(noisy);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[1], 1);
  EXPECT_FALSE(recvPacket(noisy, 100)) << "answered exactly once";
  p = recvPacket(quiet);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[1], 9);
  EXPECT_EQ(rig.fpga->requestCount(), 2u);
  EXPECT_EQ(rig.log.count("Bad CRC\n"), 1) << "the first of the 19 rejected windows is logged, the rest counted";
}

// A client sending random bytes as fast as it can: a bounded number of log lines (the
// first rejected window and a count about once a second), and the other clients' reads
// are answered as before.
TEST(AxiBridge, GarbageAtFullSpeedCostsAFewLogLinesAndNoService) {
  BridgeRig rig;
  varn_socket noisy = rig.raw();
  _VARNAXI* l = rig.link();
  rig.fpga->poke(0x44, 0x4444);
  std::atomic<bool> done{false};
  const uint64_t t0 = varn_monotonic_ns();
  std::thread flood([&] {
    std::mt19937 rng(7);
    std::vector<uint8_t> junk(65536);
    for (int i = 0; i < 128; ++i) {  // 8 MiB
      for (auto& b : junk) b = uint8_t(rng());
      if (!sendBytes(noisy, junk)) break;
    }
    done = true;
  });
  int failed = 0, reads = 0;
  for (; reads < 200 || !done; ++reads) {
    uint32_t v = 0;
    if (VARNAXIRead(l, &v, 0x44) != 0 || v != 0x4444u) ++failed;
  }
  flood.join();
  const double seconds = double(varn_monotonic_ns() - t0) / 1e9;
  EXPECT_EQ(failed, 0);
  const int lines = rig.log.count("Bad CRC\n") + rig.log.count("failed their check and were skipped\n");
  EXPECT_GE(rig.log.count("Bad CRC\n"), 1);
  EXPECT_LE(lines, 2 * (int(seconds) + 2)) << seconds << " s, " << reads << " reads";
}

TEST(AxiBridge, GarbageFromTheFpgaIsSkippedAndAnswersResume) {
  BridgeRig rig;
  varn_socket c = rig.raw();
  rig.fpga->holdAnswers(true);
  ASSERT_TRUE(sendBytes(c, makePacket(0x01, 4, 0x20, 0xAAAAAAAA)));
  ASSERT_TRUE(rig.fpga->waitForRequests(1));
  const uint8_t junk[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  rig.fpga->sendRaw(junk, sizeof(junk));
  rig.fpga->releaseHeld();
  auto p = recvPacket(c);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[1], 4);
  EXPECT_TRUE(rig.log.waitFor("Bad Upstream CRC\n", 1));
  EXPECT_EQ(rig.log.count("Bad Upstream CRC\n"), 1) << "one line for the burst of five";
}

TEST(AxiBridge, AnswerThatDoesNotFitItsRequestIsDroppedAndTheNumberKept) {
  BridgeRig rig;
  varn_socket c = rig.raw();
  rig.fpga->setAnswering(false);
  ASSERT_TRUE(sendBytes(c, makePacket(0x01, 8, 0x30, 0xAAAAAAAA)));
  ASSERT_TRUE(rig.fpga->waitForRequests(1));
  uint8_t up = rig.fpga->requests()[0].seq;
  Packet stray = makePacket(0x02, up, 0x30, 1);
  rig.fpga->sendRaw(stray.data(), stray.size());
  EXPECT_FALSE(recvPacket(c, 150));
  Packet real = makePacket(0x01, up, 0x30, 0x4321);
  rig.fpga->sendRaw(real.data(), real.size());
  auto p = recvPacket(c);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[1], 8);
  EXPECT_EQ(VARNAXIPacketData(p->data()), 0x4321u);
}

// Bulk payloads are gathered whole before they go upstream: a client that trickles
// its payload or leaves in the middle of one holds up nobody, and nothing of an
// incomplete one reaches the FPGA; one that never completes is dropped after a bound.
TEST(AxiBridge, AClientThatStallsOrLeavesMidBulkHoldsUpNobody) {
  BridgeRig rig;
  rig.fpga->recordRaw(true);
  varn_socket leaver = rig.raw(), staller = rig.raw(), other = rig.raw();
  std::vector<uint8_t> payload(4096);
  for (size_t k = 0; k < payload.size(); ++k) payload[k] = uint8_t(k * 7);
  std::vector<uint8_t> start = makePacket(0x42, 1, 0x200000, 4096);
  start.insert(start.end(), payload.begin(), payload.begin() + 1000);
  ASSERT_TRUE(sendBytes(leaver, start));
  std::vector<uint8_t> slow = makePacket(0x42, 5, 0x300000, 4096);
  slow.insert(slow.end(), payload.begin(), payload.begin() + 100);
  ASSERT_TRUE(sendBytes(staller, slow));
  rig.fpga->poke(0x50, 0x5050);
  for (uint8_t k = 0; k < 20; ++k) {
    uint64_t t0 = varn_monotonic_ns();
    ASSERT_TRUE(sendBytes(other, makePacket(0x01, k, 0x50, 0xAAAAAAAA)));
    auto p = recvPacket(other);
    ASSERT_TRUE(p) << "the other client is served while two payloads are incomplete";
    EXPECT_EQ(VARNAXIPacketData(p->data()), 0x5050u);
    EXPECT_LT((varn_monotonic_ns() - t0) / 1000000u, 1000u);
  }
  rig.closeRaw(leaver);
  ASSERT_TRUE(rig.log.waitFor("Client 0 left during a bulk write; none of its 4096 bytes were sent\n"));
  EXPECT_EQ(countCmd(rig.fpga->requests(), 0x42), 0u) << "no incomplete bulk went upstream";
  // The staller completes its payload: header and payload arrive together, answered.
  ASSERT_TRUE(sendBytes(staller, std::vector<uint8_t>(payload.begin() + 100, payload.end())));
  auto answer = recvPacket(staller);
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[1], 5);
  EXPECT_EQ(VARNAXIPacketData(answer->data()), crc32(payload.data(), int(payload.size())));
  EXPECT_EQ(rig.fpga->badWindows(), 0u) << "the FPGA never lost its framing";
  // A bulk write that is never completed ends its client after the bound.
  ASSERT_TRUE(sendBytes(staller, makePacket(0x42, 6, 0x300000, 4096)));
  EXPECT_TRUE(sawClose(staller, 10000));
  EXPECT_EQ(rig.log.count("Client 1 did not complete its bulk write of 4096 bytes within 5256 ms (4096 missing) - "
                          "dropping it\n"),
            1);
  EXPECT_EQ(rig.inFlight(), 0);
}

// A bulk length that cannot be framed closes its client (swallowing up to 4 GiB of what
// it sends next would lose its requests silently); nothing of it reaches the FPGA.
TEST(AxiBridge, BulkLengthsThatCannotBeFramedCloseTheirClient) {
  BridgeRig rig;
  varn_socket other = rig.raw();
  for (uint32_t length : {20u, 0xFFFFFFF0u}) {
    varn_socket c = rig.raw();
    std::vector<uint8_t> bytes = makePacket(0x42, 1, 0x200000, length);
    bytes.resize(16 + 64, 0xAB);
    ASSERT_TRUE(sendBytes(c, bytes));
    EXPECT_TRUE(sawClose(c)) << length;
    EXPECT_EQ(rig.log.count("Refused bulk write of " + std::to_string(length) + " bytes from client 1 (a multiple of 16 "
                            "up to 1048576 is allowed); closing its connection\n"),
              1);
    rig.closeRaw(c);
    ASSERT_TRUE(rig.waitClients(1));
  }
  rig.fpga->poke(0x60, 0x6060);
  ASSERT_TRUE(sendBytes(other, makePacket(0x01, 4, 0x60, 0xAAAAAAAA)));
  auto p = recvPacket(other);
  ASSERT_TRUE(p) << "the others go on";
  EXPECT_EQ(VARNAXIPacketData(p->data()), 0x6060u);
  EXPECT_EQ(countCmd(rig.fpga->requests(), 0x42), 0u);
  EXPECT_EQ(rig.fpga->requestCount(), 1u);
}

TEST(AxiBridge, AnswersOfADepartedClientDoNotReachItsSuccessor) {
  BridgeRig rig;
  varn_socket first = rig.raw();
  rig.fpga->holdAnswers(true);
  ASSERT_TRUE(sendBytes(first, makePacket(0xFF, 0, uint64_t(0x01) << 56, 0)));
  std::vector<uint8_t> part = makePacket(0x01, 5, 0x70, 0xAAAAAAAA);
  part.resize(16 + 7, 0x01);  // a request, then a partial packet
  ASSERT_TRUE(sendBytes(first, part));
  ASSERT_TRUE(rig.fpga->waitForRequests(1));
  rig.closeRaw(first);
  ASSERT_TRUE(rig.waitClients(0));
  EXPECT_EQ(rig.log.count("Client disconnected\n!"), 1);
  varn_socket next = rig.raw();  // takes slot 0 again
  rig.fpga->holdAnswers(false);
  rig.fpga->releaseHeld();
  rig.fpga->sendInterrupt(0x17, 0, 1);
  EXPECT_FALSE(recvPacket(next, 200)) << "no old answer, no interrupt for an unregistered newcomer";
  rig.fpga->poke(0x74, 0x7474);
  ASSERT_TRUE(sendBytes(next, makePacket(0x01, 6, 0x74, 0xAAAAAAAA)));
  auto p = recvPacket(next);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[1], 6);
  EXPECT_EQ(VARNAXIPacketData(p->data()), 0x7474u);
  EXPECT_EQ(rig.log.count("Bad CRC\n"), 0) << "the newcomer starts with an empty window";
  EXPECT_EQ(rig.inFlight(), 0);
}

TEST(AxiBridge, ClientThatStopsReadingIsDroppedAndServiceGoesOn) {
  BridgeRig rig;
  varn_socket deaf = rig.raw();
  ASSERT_TRUE(sendBytes(deaf, makePacket(0xFF, 0, uint64_t(0x01) << 56, 0)));
  ASSERT_TRUE(rig.log.waitFor("Interrupt Registration - Client 0 mask 01\n"));
  // Far more interrupts than the socket buffers hold, for a client that reads none.
  std::vector<uint8_t> burst;
  for (int i = 0; i < 4096; ++i) {
    Packet p = makePacket(0x17, uint8_t(i), uint64_t(i), 0);
    burst.insert(burst.end(), p.begin(), p.end());
  }
  _VARNAXI* other = rig.link();
  rig.fpga->poke(0x88, 0x8888);
  std::thread pump([&] {
    for (int k = 0; k < 400 && rig.log.count("Client Dropped\n") == 0; ++k) rig.fpga->sendRaw(burst.data(), burst.size());
  });
  // Meanwhile another client is served as usual: the bridge never waits for the deaf
  // one (a bridge stuck on its full socket would leave these reads to time out).
  for (int i = 0; i < 2000 && rig.log.count("Client Dropped\n") == 0; ++i) {
    uint32_t v = 0;
    ASSERT_EQ(VARNAXIRead(other, &v, 0x88), 0);
    ASSERT_EQ(v, 0x8888u);
  }
  EXPECT_TRUE(rig.log.waitFor("Client Dropped\n", 1, 20000));
  pump.join();
  EXPECT_EQ(rig.log.count("Client 0 does not take its answers"), 1);
  EXPECT_EQ(VARNAXIBridgeStatus(rig.bridge, nullptr, nullptr), 0) << "losing the last client ends nothing";
  EXPECT_EQ(rig.log.count("Lost all clients"), 0);
  _VARNAXI* l = rig.link();
  rig.fpga->poke(0x80, 8);
  uint32_t v = 0;
  EXPECT_EQ(VARNAXIRead(l, &v, 0x80), 0);
  EXPECT_EQ(v, 8u);
}

TEST(AxiBridge, AnFpgaThatLostItsRequestsIsProbedAndTheBridgeRecovers) {
  BridgeRig rig;
  varn_socket c = rig.raw();
  rig.fpga->setAnswering(false);  // requests taken, answers lost
  std::vector<uint8_t> writes;
  for (int i = 0; i < 300; ++i) {
    Packet p = makePacket(0x02, uint8_t(i), 0x90, uint32_t(i));
    writes.insert(writes.end(), p.begin(), p.end());
  }
  ASSERT_TRUE(sendBytes(c, writes));
  ASSERT_TRUE(rig.fpga->waitForRequests(255));
  varn_sleep_ms(100);
  EXPECT_EQ(rig.fpga->requestCount(), 255u) << "never more outstanding than clients' numbers";
  EXPECT_EQ(rig.inFlight(), 255);
  ASSERT_TRUE(rig.log.waitFor("255 upstream requests unanswered for 5000 ms or more\n", 1, 8000));
  ASSERT_TRUE(rig.fpga->waitForRequests(256));
  varnaxitest::AxiRequest probe = rig.fpga->requests()[255];
  EXPECT_EQ(probe.cmd, 0x00);
  EXPECT_EQ(probe.address, 0x12345678u);
  EXPECT_EQ(rig.fpga->requestCount(), 256u) << "nothing but the test request while all numbers are out";
  rig.fpga->setAnswering(true);  // the next test request is answered
  ASSERT_TRUE(rig.log.waitFor("The FPGA answered past 255 overdue upstream requests; their answers are lost\n", 1,
                              5000));
  ASSERT_TRUE(rig.fpga->waitForRequests(300 + 2)) << "the held-back requests go out";
  _VARNAXI* l = rig.link();
  rig.fpga->poke(0x94, 0x9494);
  uint32_t v = 0;
  EXPECT_EQ(VARNAXIRead(l, &v, 0x94), 0);
  EXPECT_EQ(v, 0x9494u);
  EXPECT_EQ(VARNAXIBridgeStatus(rig.bridge, nullptr, nullptr), 0);
}

// Answers held back longer than the overdue bound, then released in order: every
// client gets its own answers or none, never another request's.
TEST(AxiBridge, OverdueAnswersNeverReachAnotherRequest) {
  BridgeRig rig;
  varn_socket a = rig.raw();
  for (int i = 0; i < 255; ++i) rig.fpga->poke(0x1000 + 4 * i, 0xA0000000u + i);
  rig.fpga->poke(0xB000, 0xB0B0);
  rig.fpga->holdAnswers(true);
  std::vector<uint8_t> reads;
  for (int i = 0; i < 255; ++i) {
    Packet p = makePacket(0x01, uint8_t(i + 1), 0x1000 + 4 * i, 0xAAAAAAAA);
    reads.insert(reads.end(), p.begin(), p.end());
  }
  ASSERT_TRUE(sendBytes(a, reads));
  ASSERT_TRUE(rig.log.waitFor("255 upstream requests unanswered for 5000 ms or more\n", 1, 8000));
  _VARNAXI* b = rig.link();
  uint32_t bValue = 0;
  int bResult = -1;
  std::thread reader([&] { bResult = VARNAXIRead(b, &bValue, 0xB000); });
  varn_sleep_ms(50);  // B's request waits for a number; held or not, the outcome must hold
  rig.fpga->holdAnswers(false);
  rig.fpga->releaseHeld();
  reader.join();
  EXPECT_EQ(bResult, 0);
  EXPECT_EQ(bValue, 0xB0B0u);
  int got = 0;
  while (auto p = recvPacket(a, 500)) {
    uint8_t seq = (*p)[1];
    ASSERT_GE(seq, 1);
    EXPECT_EQ(VARNAXIPacketAddress(p->data()), 0x1000u + 4 * (seq - 1u));
    EXPECT_EQ(VARNAXIPacketData(p->data()), 0xA0000000u + (seq - 1u));
    ++got;
  }
  EXPECT_EQ(got, 255) << "the client that asked gets its late answers";
  EXPECT_EQ(rig.inFlight(), 0);
}

TEST(AxiBridge, LostUpstreamStopsOnlyThisBridge) {
  BridgeRig rig;
  varn_socket c = rig.raw();
  rig.fpga->closeConnection();
  ASSERT_TRUE(rig.log.waitFor("Lost upstream connection\n"));
  EXPECT_TRUE(sawClose(c)) << "its clients are closed";
  EXPECT_EQ(VARNAXIBridgeStatus(rig.bridge, nullptr, nullptr), 6);
  // Still here: the process goes on serving every other board.
}

TEST(AxiBridge, DestroyIsPromptWithClientsConnected) {
  BridgeRig rig;
  rig.raw();
  rig.link();
  uint64_t t0 = varn_monotonic_ns();
  VARNAXIBridgeDestroy(&rig.bridge);
  EXPECT_EQ(rig.bridge, nullptr);
  EXPECT_LT((varn_monotonic_ns() - t0) / 1000000u, 200u);
  EXPECT_TRUE(sawClose(rig.raws[0]));
}

#ifndef _WIN32
TEST(AxiBridge, DescriptorsTheWaitCannotWatchAreRefused) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  const rlim_t need = FD_SETSIZE + 16;
  if (old.rlim_max != RLIM_INFINITY && old.rlim_max < need) GTEST_SKIP() << "descriptor limit " << old.rlim_max;
  rlimit raised = old;
  if (raised.rlim_cur != RLIM_INFINITY && raised.rlim_cur < need) raised.rlim_cur = need;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  varnaxitest::LogCapture log;
  varn_socket pair[2];
  ASSERT_EQ(varn_socketpair(pair), 0);
  const int high = dup2(pair[0], FD_SETSIZE + 5);
  ASSERT_EQ(high, FD_SETSIZE + 5);
  uint16_t port = 0;
  varn_socket listener = varnaxitest::listenLoopback(&port);
  EXPECT_EQ(VARNAXIBridgeCreate(high, listener), nullptr);
  EXPECT_EQ(log.count("AXI bridge upstream: socket " + std::to_string(high) + " is beyond what the wait can watch (" +
                      std::to_string(FD_SETSIZE) + ")\n"),
            1);
  VARNAXIBridge* ok = VARNAXIBridgeCreate(pair[0], listener);
  EXPECT_NE(ok, nullptr) << "the same stream on a low descriptor works";
  VARNAXIBridgeDestroy(&ok);
  for (int fd : {high, pair[0], pair[1], listener}) varn_close_socket(fd);
  setrlimit(RLIMIT_NOFILE, &old);
}
#endif

TEST(AxiBridge, UnknownCommandsAreDropped) {
  BridgeRig rig;
  varn_socket c = rig.raw();
  ASSERT_TRUE(sendBytes(c, makePacket(0x05, 1, 0, 0)));
  ASSERT_TRUE(sendBytes(c, makePacket(0x00, 2, 0x12345678, 0xAAAAAAAA)));
  auto p = recvPacket(c);
  ASSERT_TRUE(p);
  EXPECT_EQ((*p)[1], 2);
  EXPECT_EQ(rig.log.count("Unknown CMD: 05\n"), 1);
  EXPECT_EQ(rig.fpga->requestCount(), 1u);
}

}  // namespace
