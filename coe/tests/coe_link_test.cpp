// The link against a fake controller on a loopback socket: the request/answer
// exchange, reassembly, UART rings, and what happens when the controller misbehaves.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "coe/coe_link.h"
#include "coe/coe_link_internal.h"
#include "testsupport/coe/coe_test_support.h"

using namespace coetest;

namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) v[i] = uint8_t(first + i);
  return v;
}

struct Result {
  int rc = -1;
  uint16_t command = 0, word = 0;
  uint32_t len = 0;
  uint8_t data[4096] = {};
};

class CoELink : public ::testing::Test {
 protected:
  void SetUp() override {
    LogCapture::get();
    link = VNCoELinkCreate("127.0.0.1", fc.port());
    ASSERT_NE(link, nullptr);
    link->retryDelayMs = 100;
    ASSERT_TRUE(fc.accept());
    Packet hello;
    ASSERT_TRUE(fc.read(&hello));
    EXPECT_EQ(encode(hello.tag, hello.command, hello.flags, hello.payload),
              (std::vector<uint8_t>{8, 0, 1, 0, 0x10, 0, 0, 0x80}));
    ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(link) == 1; }));
  }
  void TearDown() override { VNCoELinkDestroy(link); }

  // A request on its own thread, so the test can play the controller meanwhile.
  std::thread request(Result* r, std::vector<uint8_t> payload, uint32_t capacity = 4096, uint16_t tag = 1,
                      uint16_t command = 0x1012) {
    return std::thread([=, this] {
      r->rc = VNCoELinkTransaction(link, command, tag, 0x8000, payload.data(), uint32_t(payload.size()), &r->command,
                                   &r->word, r->data, &r->len, capacity);
    });
  }

  FakeController fc;
  _VNCoELink* link = nullptr;
};

TEST_F(CoELink, RequestCarriesHeaderAndPayloadAndAnswerComesBackWhole) {
  Result r;
  std::thread t = request(&r, {3, 0x11, 0x20, 0x00, 0xAB, 0xCD});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  EXPECT_EQ(p.length, 14);
  EXPECT_EQ(p.tag, 1);
  EXPECT_EQ(p.command, 0x1012);
  EXPECT_EQ(p.flags, 0x8000);
  EXPECT_EQ(p.payload, (std::vector<uint8_t>{3, 0x11, 0x20, 0x00, 0xAB, 0xCD}));
  fc.answer(p, {0xDE, 0xAD, 0xBE, 0xEF}, 0x1234);
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.command, VN_COE_ANSWER);
  EXPECT_EQ(r.word, 0x1234);
  ASSERT_EQ(r.len, 4u);
  EXPECT_EQ(std::vector<uint8_t>(r.data, r.data + 4), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST_F(CoELink, NegativeAnswerIsLoggedAndReturnedAsAnswerCommand) {
  size_t mark = LogCapture::get().mark();
  Result r;
  std::thread t = request(&r, {0});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  fc.answer(p, {0x05, 0x00, 0x01, 0x80}, 0, VN_COE_NAK);
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.command, VN_COE_NAK);
  EXPECT_NE(LogCapture::get().since(mark).find("Got NAK 80010005\n"), std::string::npos);
}

TEST_F(CoELink, AnswerLongerThanCapacityIsCutToCapacity) {
  Result r;
  r.data[256] = 0x5A;  // must survive: nothing past the capacity is written
  std::thread t = request(&r, {0}, 256);
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  fc.answer(p, bytes(300, 1));
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.len, 256u);
  EXPECT_EQ(r.data[0], 1);
  EXPECT_EQ(r.data[255], uint8_t(256));
  EXPECT_EQ(r.data[256], 0x5A);
}

TEST_F(CoELink, SeventeenthConcurrentRequestFindsNoSlotAndAnswersGoOldestFirst) {
  Result r[16];
  std::vector<std::thread> threads;
  std::vector<Packet> received;
  // One at a time, so the order on the wire is known.
  for (int i = 0; i < 16; i++) {
    threads.push_back(request(&r[i], {uint8_t(i)}));
    Packet p;
    ASSERT_TRUE(fc.readRequest(&p));
    ASSERT_EQ(p.payload, std::vector<uint8_t>{uint8_t(i)});
    received.push_back(p);
  }
  uint8_t one = 0;
  EXPECT_EQ(VNCoELinkTransaction(link, 0x1012, 1, 0x8000, &one, 1, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_SLOTS_BUSY);
  // The controller answers in order, each answer echoing its request.
  for (const Packet& p : received) fc.answer(p, p.payload);
  for (auto& t : threads) t.join();
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(r[i].rc, VN_COE_OK);
    ASSERT_EQ(r[i].len, 1u);
    EXPECT_EQ(r[i].data[0], i) << "request " << i << " got another request's answer";
  }
}

TEST_F(CoELink, AnswersStayWithTheirRequestsWhenSlotsAreReused) {
  // Slot 0 is freed and taken again while the request in slot 1 is older: the next
  // answer belongs to slot 1.
  Result a, b, c;
  std::thread ta = request(&a, {0xA});
  Packet pa, pb, pc;
  ASSERT_TRUE(fc.readRequest(&pa));
  std::thread tb = request(&b, {0xB});
  ASSERT_TRUE(fc.readRequest(&pb));
  fc.answer(pa, {0xA});
  ta.join();
  std::thread tc = request(&c, {0xC});
  ASSERT_TRUE(fc.readRequest(&pc));
  fc.answer(pb, {0xB});
  fc.answer(pc, {0xC});
  tb.join();
  tc.join();
  EXPECT_EQ(b.data[0], 0xB);
  EXPECT_EQ(c.data[0], 0xC);
}

TEST_F(CoELink, PacketSplitOverThreeReadsIsDispatchedOnce) {
  size_t mark = LogCapture::get().mark();
  Result r;
  std::thread t = request(&r, {0});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  std::vector<uint8_t> whole = encode(1, VN_COE_ANSWER, 7, bytes(20, 0x40));
  fc.send({whole.begin(), whole.begin() + 3});
  varn_sleep_ms(30);
  fc.send({whole.begin() + 3, whole.begin() + 7});
  varn_sleep_ms(30);
  fc.send({whole.begin() + 7, whole.end()});
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.word, 7);
  ASSERT_EQ(r.len, 20u);
  EXPECT_EQ(r.data[19], 0x40 + 19);
  // Dispatched once: a second dispatch would have been an orphan.
  varn_sleep_ms(30);
  EXPECT_EQ(LogCapture::get().since(mark).find("Orphaned"), std::string::npos);
}

TEST_F(CoELink, TwoAnswersInOneReadAreBothDispatched) {
  Result a, b;
  std::thread ta = request(&a, {1}, 4096, 1);
  Packet pa, pb;
  ASSERT_TRUE(fc.readRequest(&pa));
  std::thread tb = request(&b, {2}, 4096, 2, 0x1204);
  ASSERT_TRUE(fc.readRequest(&pb));
  std::vector<uint8_t> both = encode(2, VN_COE_ANSWER, 0, {0x22});
  std::vector<uint8_t> first = encode(1, VN_COE_ANSWER, 0, {0x11, 0x11});
  both.insert(both.end(), first.begin(), first.end());
  fc.send(both);
  ta.join();
  tb.join();
  EXPECT_EQ(a.rc, VN_COE_OK);
  EXPECT_EQ(a.len, 2u);
  EXPECT_EQ(a.data[0], 0x11);
  EXPECT_EQ(b.rc, VN_COE_OK);
  EXPECT_EQ(b.len, 1u);
  EXPECT_EQ(b.data[0], 0x22);
}

TEST_F(CoELink, OrphanAnswerIsLoggedButTheKeepaliveAnswerIsNot) {
  size_t mark = LogCapture::get().mark();
  fc.send(encode(3, VN_COE_ANSWER, 0, {}));      // keepalive answer
  fc.send(encode(3, 0x1206, 0, {2}));            // overflow report, nobody waiting
  fc.send(encode(9, VN_COE_ANSWER, 0, {1, 2}));  // nobody waits for tag 9
  ASSERT_TRUE(LogCapture::get().waitFor(mark, "Orphaned Transaction 0009, 000a!\n"));
  std::string log = LogCapture::get().since(mark);
  EXPECT_EQ(log.find("Orphaned Transaction 0003"), std::string::npos);
  EXPECT_NE(log.find("BMC Reporting UART Overflow on bus 2\n"), std::string::npos);
}

TEST_F(CoELink, UnexpectedCommandIsLoggedWithItsPayloadAndStillAnswers) {
  size_t mark = LogCapture::get().mark();
  Result r;
  std::thread t = request(&r, {0});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  fc.answer(p, {0x0A, 0xFF}, 0, 0x4242);
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.command, 0x4242);
  EXPECT_NE(LogCapture::get().since(mark).find("Unexpected response!0aff\n"), std::string::npos);
}

TEST_F(CoELink, UartBytesLandInTheirSlotAndUnknownSlotsAreDropped) {
  size_t mark = LogCapture::get().mark();
  std::vector<uint8_t> data = {0x20};
  std::vector<uint8_t> ten = bytes(10, 'a');
  data.insert(data.end(), ten.begin(), ten.end());
  fc.send(encode(0, 0x1205, 0, {0x50, 'x', 'y'}));  // slot nibble 5
  fc.send(encode(0, 0x1205, 0, data));
  uint8_t buf[64];
  uint32_t count = 0;
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(link->lock);
    return link->uartHead[2] != link->uartTail[2];
  }));
  EXPECT_EQ(VNCoELinkReadUART(link, 2, buf, sizeof(buf), &count), 0);
  ASSERT_EQ(count, 10u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 10), ten);
  for (uint8_t slot = 0; slot < 4; slot++) {
    EXPECT_EQ(VNCoELinkReadUART(link, slot, buf, sizeof(buf), &count), 0);
    EXPECT_EQ(count, 0u) << "slot " << int(slot);
  }
  count = 99;
  EXPECT_EQ(VNCoELinkReadUART(link, 4, buf, sizeof(buf), &count), VN_COE_BAD_ARGUMENT);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(LogCapture::get().since(mark).find("Orphaned"), std::string::npos);
}

TEST_F(CoELink, UartRingHoldsExactly65535Bytes) {
  size_t mark = LogCapture::get().mark();
  uint32_t sent = 0;
  while (sent < 65535) {
    uint32_t n = std::min<uint32_t>(4087, 65535 - sent);
    std::vector<uint8_t> payload = {0x10};
    for (uint32_t i = 0; i < n; i++) payload.push_back(uint8_t((sent + i) * 7));
    fc.send(encode(0, 0x1205, 0, payload));
    sent += n;
  }
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(link->lock);
    return uint16_t(link->uartHead[1] - link->uartTail[1]) == 65535;
  }));
  EXPECT_EQ(LogCapture::get().since(mark).find("buffer full"), std::string::npos);
  fc.send(encode(0, 0x1205, 0, {0x10, 0xEE}));
  ASSERT_TRUE(LogCapture::get().waitFor(mark, "UART Bus 1 buffer full!\n"));
  // Read in odd pieces across the wrap of the ring.
  std::vector<uint8_t> got;
  uint8_t buf[1000];
  uint32_t count = 0;
  do {
    ASSERT_EQ(VNCoELinkReadUART(link, 1, buf, sizeof(buf), &count), 0);
    got.insert(got.end(), buf, buf + count);
  } while (count > 0);
  ASSERT_EQ(got.size(), 65535u);
  for (uint32_t i = 0; i < 65535; i++) ASSERT_EQ(got[i], uint8_t(i * 7)) << i;
  // Emptied, it takes bytes again, now across the index wrap.
  fc.send(encode(0, 0x1205, 0, {0x10, 1, 2, 3}));
  ASSERT_TRUE(eventually([&] {
    VNCoELinkReadUART(link, 1, buf, sizeof(buf), &count);
    return count == 3;
  }));
  EXPECT_EQ(buf[2], 3);
}

TEST_F(CoELink, KeepaliveGoesOutOnTheSetIntervalWithTagThree) {
  link->keepaliveIntervalNs = 50ull * 1000000ull;
  Packet p;
  ASSERT_TRUE(fc.read(&p));
  EXPECT_EQ(encode(p.tag, p.command, p.flags, p.payload), (std::vector<uint8_t>{8, 0, 3, 0, 0x10, 0, 0, 0x80}));
  // The keepalive took no slot for good: 16 requests still fit.
  Result r[16];
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; i++) threads.push_back(request(&r[i], {uint8_t(i)}));
  for (int i = 0; i < 16; i++) {
    ASSERT_TRUE(fc.readRequest(&p));
    fc.answer(p, {});
  }
  for (auto& t : threads) t.join();
  for (auto& x : r) EXPECT_EQ(x.rc, VN_COE_OK);
}

TEST_F(CoELink, TagThreeRequestReturnsOnceSent) {
  EXPECT_EQ(VNCoELinkTransaction(link, 0x0010, 3, 0x8000, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_OK);
  Packet p;
  ASSERT_TRUE(fc.read(&p));
  EXPECT_EQ(p.tag, 3);
}

TEST_F(CoELink, PayloadThatNoPacketCanCarryIsRefused) {
  std::vector<uint8_t> big(65535 - 8 + 1);
  EXPECT_EQ(VNCoELinkTransaction(link, 0x1204, 2, 0x8000, big.data(), uint32_t(big.size()), nullptr, nullptr,
                                 nullptr, nullptr, 0),
            VN_COE_BAD_ARGUMENT);
  EXPECT_EQ(VNCoELinkTransaction(link, 0x1204, 2, 0x8000, nullptr, 5, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_BAD_ARGUMENT);
  // The largest one goes out whole (XVC sends TMS/TDI pairs of 4096-byte vectors).
  Result r;
  std::thread t = request(&r, bytes(8196), 4096, 17, 0x100E);
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  EXPECT_EQ(p.length, 8204);
  EXPECT_EQ(p.payload, bytes(8196));
  fc.answer(p, {});
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
}

// --- the controller misbehaves --------------------------------------------------------

TEST_F(CoELink, UnansweredRequestFailsAfterTheBoundAndTheLinkReconnects) {
  VNCoELinkSetAnswerTimeout(link, 200);
  size_t mark = LogCapture::get().mark();
  uint64_t start = varn_monotonic_ns();
  uint8_t one = 0;
  int rc = VNCoELinkTransaction(link, 0x1110, 1, 0x8000, &one, 1, nullptr, nullptr, nullptr, nullptr, 0);
  double waited = secondsSince(start);
  EXPECT_EQ(rc, VN_COE_NO_ANSWER);
  EXPECT_GE(waited, 0.19);
  EXPECT_LT(waited, 1.0);
  EXPECT_TRUE(LogCapture::get().waitFor(mark, "not answered within 200 ms"));
  // A fresh connection, so a late answer cannot be taken for a later request's.
  ASSERT_TRUE(fc.accept());
  ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(link) == 1; }));
  Result r;
  std::thread t = request(&r, {1});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  fc.answer(p, {0x77});
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.data[0], 0x77);
}

TEST_F(CoELink, DropCompletesEveryRequestInFlightAtOnce) {
  VNCoELinkSetAnswerTimeout(link, 20000);
  Result r[3];
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; i++) {
    threads.push_back(request(&r[i], {uint8_t(i)}));
    Packet p;
    ASSERT_TRUE(fc.readRequest(&p));
  }
  uint64_t start = varn_monotonic_ns();
  fc.closeClient();
  for (auto& t : threads) t.join();
  EXPECT_LT(secondsSince(start), 0.5);
  for (auto& x : r) EXPECT_EQ(x.rc, VN_COE_NO_ANSWER);
  EXPECT_TRUE(eventually([&] { return VNCoELinkIsConnected(link) == 0; }));
}

TEST_F(CoELink, PostedRequestsLeaveBeforeTheNextRequestAndTheFlushCollectsTheirAnswers) {
  uint8_t a[4] = {}, b[8] = {};
  uint32_t aLen = 99, bLen = 99;
  const uint8_t one = 1, two = 2, three = 3;
  ASSERT_EQ(VNCoELinkPost(link, 0x1012, 1, &one, 1, a, sizeof a, &aLen), VN_COE_OK);
  ASSERT_EQ(VNCoELinkPost(link, 0x1110, 1, &two, 1, b, sizeof b, &bLen), VN_COE_OK);
  ASSERT_EQ(VNCoELinkPost(link, 0x100F, 1, &three, 1, nullptr, 0), VN_COE_OK);
  // An ordinary request sends what is held first, and takes only its own answer.
  Result r;
  std::thread t = request(&r, {4});
  Packet p[4];
  for (int i = 0; i < 4; i++) {
    ASSERT_TRUE(fc.readRequest(&p[i]));
    EXPECT_EQ(p[i].payload, std::vector<uint8_t>{uint8_t(i + 1)}) << "packet " << i << " out of order";
  }
  EXPECT_EQ(p[1].command, 0x1110);
  fc.answer(p[0], {0xA1, 0xA2});
  fc.answer(p[1], {0x05, 0x00, 0x00, 0x00}, 0, VN_COE_NAK);
  fc.answer(p[2], {});
  fc.answer(p[3], {0x44});
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  ASSERT_EQ(r.len, 1u);
  EXPECT_EQ(r.data[0], 0x44);
  uint32_t failed = 99;
  EXPECT_EQ(VNCoELinkFlushPosted(link, &failed), VN_COE_OK);
  EXPECT_EQ(failed, 1u) << "the negative answer";
  EXPECT_EQ(aLen, 2u);
  EXPECT_EQ(a[0], 0xA1);
  EXPECT_EQ(a[1], 0xA2);
  EXPECT_EQ(bLen, 4u) << "a refused read shows its code, not the two bytes asked for";
  EXPECT_EQ(VNCoELinkFlushPosted(link, &failed), VN_COE_OK);
  EXPECT_EQ(failed, 0u) << "each flush reports only what failed since the last";
}

TEST_F(CoELink, APostBeyondSixtyFourWaitsForAnAnswerAndADropFailsEveryPost) {
  VNCoELinkSetAnswerTimeout(link, 20000);
  static uint8_t answers[65][4];
  static uint32_t lengths[65];
  for (int i = 0; i < 64; i++) {
    const uint8_t payload = uint8_t(i);
    lengths[i] = 0;
    ASSERT_EQ(VNCoELinkPost(link, 0x1012, 1, &payload, 1, answers[i], 4, &lengths[i]), VN_COE_OK);
  }
  std::atomic<int> lastRc{-1};
  std::thread poster([&] {
    const uint8_t payload = 64;
    lastRc = VNCoELinkPost(link, 0x1012, 1, &payload, 1, answers[64], 4, &lengths[64]);
  });
  // The 65th has to send the held 64 for their answers to free an entry.
  Packet p[64];
  for (int i = 0; i < 64; i++) ASSERT_TRUE(fc.readRequest(&p[i]));
  EXPECT_EQ(lastRc.load(), -1) << "no entry is free before an answer";
  fc.answer(p[0], {0x10, 0x20});
  poster.join();
  EXPECT_EQ(lastRc.load(), VN_COE_OK);
  EXPECT_EQ(lengths[0], 2u);
  // The controller goes away with 64 posts (63 sent, one held) unanswered: the flush
  // returns without waiting out the bound and counts all of them.
  fc.closeClient();
  uint32_t failed = 0;
  EXPECT_EQ(VNCoELinkFlushPosted(link, &failed), VN_COE_OK);
  EXPECT_EQ(failed, 64u);
  for (int i = 1; i < 65; i++) EXPECT_EQ(lengths[i], 0u) << "post " << i << " got an answer from nowhere";
}

TEST_F(CoELink, ReconnectsWithinASecondOfTheControllerComingBack) {
  link->retryDelayMs = 1000;  // the production pacing
  fc.closeClient();
  fc.closeListener();
  ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(link) == 0; }));
  uint8_t one = 0;
  EXPECT_EQ(VNCoELinkTransaction(link, 0x1110, 1, 0x8000, &one, 1, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_NOT_CONNECTED);
  varn_sleep_ms(1500);  // at least one failed attempt
  ASSERT_TRUE(fc.relisten());
  uint64_t back = varn_monotonic_ns();
  ASSERT_TRUE(fc.accept(3000));
  ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(link) == 1; }));
  EXPECT_LT(secondsSince(back), 1.3);
  Packet hello;
  ASSERT_TRUE(fc.read(&hello));
  EXPECT_EQ(hello.command, 0x0010);
  EXPECT_EQ(hello.tag, 1);
}

TEST_F(CoELink, LengthBelowHeaderIsDroppedWithoutLoopingAndTheLinkGoesOn) {
  size_t mark = LogCapture::get().mark();
  Result r;
  std::thread t = request(&r, {0});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  for (uint16_t bad : {0, 1, 7}) {
    std::vector<uint8_t> junk = encode(1, VN_COE_ANSWER, 0, {1, 2, 3});
    junk[0] = uint8_t(bad);
    junk[1] = 0;
    fc.send(junk);
    ASSERT_TRUE(LogCapture::get().waitFor(mark, "packet length " + std::to_string(bad) + " is shorter"));
  }
  fc.answer(p, {0x42});
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.data[0], 0x42);
}

TEST_F(CoELink, LengthAbove4096IsDroppedAndTheLinkGoesOn) {
  size_t mark = LogCapture::get().mark();
  Result r;
  std::thread t = request(&r, {0});
  Packet p;
  ASSERT_TRUE(fc.readRequest(&p));
  std::vector<uint8_t> big = encode(1, VN_COE_ANSWER, 0, bytes(4089));  // length 4097
  fc.send(big);
  ASSERT_TRUE(LogCapture::get().waitFor(mark, "ERROR: RX buffer Overflow!\n"));
  varn_sleep_ms(30);  // its tail arrives first and is dropped too
  fc.answer(p, {0x43});
  t.join();
  EXPECT_EQ(r.rc, VN_COE_OK);
  EXPECT_EQ(r.data[0], 0x43);
}

TEST_F(CoELink, GarbageNeverHangsTheLinkAndItRecovers) {
  VNCoELinkSetAnswerTimeout(link, 300);
  uint32_t seed = 12345;
  for (int round = 0; round < 20; round++) {
    std::vector<uint8_t> junk(1 + round * 97);
    for (auto& b : junk) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    fc.send(junk);
  }
  // Whatever the garbage did to the stream, a request ends within the bound, and the
  // link is usable again afterwards.
  for (int attempt = 0;; attempt++) {
    ASSERT_LT(attempt, 5);
    if (!VNCoELinkIsConnected(link)) {
      ASSERT_TRUE(fc.accept());
      ASSERT_TRUE(eventually([&] { return VNCoELinkIsConnected(link) == 1; }));
    }
    Result r;
    uint64_t start = varn_monotonic_ns();
    std::thread t = request(&r, {9});
    Packet p;
    if (fc.readRequest(&p, 1000)) fc.answer(p, {0x99});
    t.join();
    EXPECT_LT(secondsSince(start), 1.5);
    if (r.rc == VN_COE_OK && r.len == 1 && r.data[0] == 0x99) break;
  }
}

TEST(CoELinkNoController, TransactionOnALinkThatIsNotConnectedReturnsTwo) {
  LogCapture::get();
  FakeController fc;
  uint16_t port = fc.port();
  fc.closeListener();  // nobody listens there now
  _VNCoELink* link = VNCoELinkCreate("127.0.0.1", port);
  ASSERT_NE(link, nullptr);
  uint8_t one = 1;
  EXPECT_EQ(VNCoELinkTransaction(link, 0x1110, 1, 0x8000, &one, 1, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_NOT_CONNECTED);
  EXPECT_EQ(VNCoELinkIsConnected(link), 0);
  uint64_t start = varn_monotonic_ns();
  VNCoELinkDestroy(link);
  EXPECT_LT(secondsSince(start), 0.5);  // no waiting out the retry delay
  EXPECT_EQ(VNCoELinkTransaction(nullptr, 0x1110, 1, 0x8000, &one, 1, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_NOT_CONNECTED);
  EXPECT_EQ(VNCoELinkIsConnected(nullptr), 0);
}

// A refused connection keeps its socket until the next attempt, which says so (the
// line has no newline of its own) and closes it before trying again.
TEST(CoELinkNoController, NextAttemptReportsAndClosesTheSocketAFailedConnectLeft) {
  LogCapture& log = LogCapture::get();
  FakeController fc;
  uint16_t port = fc.port();
  fc.closeListener();
  size_t mark = log.mark();
  _VNCoELink* link = VNCoELinkCreate("127.0.0.1", port);
  ASSERT_NE(link, nullptr);
  link->retryDelayMs = 50;
  // EXPECT, not ASSERT: the link must be destroyed either way, or its retries would
  // run on into the logs of later tests.
  EXPECT_TRUE(log.waitFor(mark, "Warning: Connecting but socket already existsConnecting...\n"));
  std::string text = log.since(mark);
  // The first attempt had nothing to close.
  EXPECT_EQ(text.find("Connecting...\n"), 0u) << text;
  EXPECT_NE(text.find("CoE Connection Failed, retrying...\n"), std::string::npos) << text;
  VNCoELinkDestroy(link);
}

}  // namespace
