// The channel's USB side in simulated time: latency timer, send-immediate, 512-byte
// packets and IN requests, the driver's read-ahead limit and the chip FIFO, time-outs,
// and the UART path to an FPGA's pins.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "sim/core/parts.h"
#include "sim/core/xilinx_device.h"
#include "sim/mpsse/ftdi_channel.h"

namespace varnsim {
namespace {

constexpr uint64_t kUs = 1'000'000, kMs = 1'000'000'000;

class Channel : public ::testing::Test {
 protected:
  explicit Channel(size_t driverCap = 65536) { build(driverCap); }
  void build(size_t driverCap) {
    chain = std::make_unique<JtagChain>();
    DeviceConfig cfg;
    cfg.part = findPart("VU33P");
    chain->add(std::make_unique<XilinxDevice>(cfg, nullptr));
    UsbTiming t = UsbTiming::forChip(chipInfo(ChipKind::FT2232H));
    t.driverCapacity = driverCap;
    ch = std::make_unique<FtdiChannel>(chipInfo(ChipKind::FT2232H), 0, t);
    ch->setChain(chain.get());
    ASSERT_TRUE(ch->setBitMode(0x0B, 2, now));
    ch->setLatencyMs(4);
    write({0x8A, 0x97, 0x86, 0x00, 0x00, 0x85, 0x80, 0xE8, 0xEB, 0x4B, 0x06, 0x7F, 0x4B, 0x03, 0x02});
  }
  size_t write(const std::vector<uint8_t>& b, uint64_t timeout = 1000 * kMs) {
    return ch->write(b.data(), b.size(), now, timeout);
  }
  std::vector<uint8_t> read(size_t n, uint64_t timeout = 1000 * kMs) {
    std::vector<uint8_t> v(n);
    v.resize(ch->read(v.data(), n, now, timeout));
    return v;
  }

  uint64_t now = 0;
  std::unique_ptr<JtagChain> chain;
  std::unique_ptr<FtdiChannel> ch;
};

TEST_F(Channel, ShortReplyWaitsForTheLatencyTimerUnlessSentImmediately) {
  // In Shift-DR: read the IDCODE (4 bytes), no send-immediate.
  const uint64_t t0 = now;
  write({0x2C, 0x03, 0x00});
  auto v = read(4);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x93, 0x90, 0xB6, 0x04}));
  const uint64_t slow = now - t0;
  EXPECT_GE(slow, 4 * kMs - 200 * kUs) << "the 4 ms latency timer sent the short packet";
  EXPECT_LE(slow, 8 * kMs + 200 * kUs);
  // Same with 0x87: one microframe each way.
  write({0x4B, 0x05, 0x1F, 0x4B, 0x03, 0x02});
  const uint64_t t1 = now;
  write({0x2C, 0x03, 0x00, 0x87});
  EXPECT_EQ(read(4).size(), 4u);
  EXPECT_LT(now - t1, 400 * kUs);
  EXPECT_EQ(ch->counters().exchanges, 2u);
}

TEST_F(Channel, FullPacketsWaitForTheRequestToComplete) {
  // 510 bytes fill exactly one packet; the IN request (4096 bytes) completes only with
  // the next short packet, the latency timer's status-only one.
  std::vector<uint8_t> cmd = {0x2C, 0xFD, 0x01};  // 510 bytes
  const uint64_t t0 = now;
  write(cmd);
  EXPECT_EQ(read(510).size(), 510u);
  EXPECT_GE(now - t0, 4 * kMs);
  // 4080 bytes = 8 full packets = one whole request: readable without the timer.
  write({0x4B, 0x05, 0x1F, 0x4B, 0x03, 0x02});
  const uint64_t t1 = now;
  write({0x2C, 0xEF, 0x0F});  // 4080 bytes
  EXPECT_EQ(read(4080).size(), 4080u);
  EXPECT_LT(now - t1, 4 * kMs);
  // The channel's bytes-in-flight all went somewhere.
  EXPECT_EQ(ch->inPath().bytesHeld(), 0u);
}

TEST_F(Channel, ReadTimesOutInSimulatedTimeOnly) {
  const auto wall0 = std::chrono::steady_clock::now();
  const uint64_t t0 = now;
  auto v = read(100, 1000 * kMs);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(now - t0, 1000 * kMs);
  EXPECT_EQ(ch->counters().readTimeouts, 1u);
  // Partly satisfiable: what came is returned after the time-out.
  write({0x2C, 0x03, 0x00, 0x87});
  v = read(10, 50 * kMs);
  EXPECT_EQ(v.size(), 4u);
  EXPECT_LT(std::chrono::steady_clock::now() - wall0, std::chrono::milliseconds(500));
  // No time-out and nothing on its way: a real driver would wait for ever.
  const uint64_t t2 = now;
  EXPECT_TRUE(read(1, 0).empty());
  EXPECT_EQ(now, t2);
}

TEST_F(Channel, LongDataShiftTakesTckTime) {
  // A 65533-byte TDI shift at 30 MHz: the write returns once all but the last FIFO's
  // worth of it has gone through the MPSSE.
  std::vector<uint8_t> cmd = {0x19, 0xFC, 0xFF};
  cmd.resize(3 + 65533, 0x5A);
  const uint64_t t0 = now;
  EXPECT_EQ(write(cmd), cmd.size());
  const double expected = (65536.0 - 4096) * 8 / 30e6 * 1e12;
  EXPECT_NEAR(static_cast<double>(now - t0), expected, expected * 0.02);
  EXPECT_EQ(ch->engine().counters().fastBytes, 65533u);
}

class SmallDriver : public Channel {
 protected:
  SmallDriver() : Channel(1024) {}
};

TEST_F(SmallDriver, AHostThatStopsReadingStallsTheChipAndKeepsEverything) {
  // 20000 reply bytes but the driver holds 1 KiB and the chip 4 KiB: the write stalls.
  std::vector<uint8_t> cmd;
  for (int i = 0; i < 5; ++i) cmd.insert(cmd.end(), {0x2C, 0x9F, 0x0F});  // 4000 bytes each
  cmd.push_back(0x87);
  // Padding behind the reads that the stalled MPSSE cannot take: 8 KiB of clock-only.
  for (int i = 0; i < 3000; ++i) cmd.insert(cmd.end(), {0x8E, 0x00});
  const uint64_t t0 = now;
  const size_t written = write(cmd, 200 * kMs);
  EXPECT_LT(written, cmd.size());
  EXPECT_EQ(now - t0, 200 * kMs);
  EXPECT_EQ(ch->counters().writeTimeouts, 1u);
  // Reading continuously gets every byte; the rest of the commands then go in.
  auto v = read(20000);
  ASSERT_EQ(v.size(), 20000u);
  EXPECT_EQ(std::vector<uint8_t>(v.begin(), v.begin() + 4), (std::vector<uint8_t>{0x93, 0x90, 0xB6, 0x04}));
  std::vector<uint8_t> rest(cmd.begin() + static_cast<long>(written), cmd.end());
  EXPECT_EQ(write(rest), rest.size());
}

TEST(ChannelUart, EchoesThroughTheFpgaPinsAtTheLineRate) {
  struct Echo : SerialLink {
    std::vector<uint8_t> q;
    void toFpga(const uint8_t* d, size_t n) override { q.insert(q.end(), d, d + n); }
    size_t fromFpga(uint8_t* out, size_t cap) override {
      size_t n = std::min(cap, q.size());
      std::copy(q.begin(), q.begin() + static_cast<long>(n), out);
      q.erase(q.begin(), q.begin() + static_cast<long>(n));
      return n;
    }
    size_t fromFpgaAvailable() const override { return q.size(); }
  } echo;
  FtdiChannel ch(chipInfo(ChipKind::FT2232H), 1, UsbTiming{});
  bool linked = true;
  ch.setUart([&]() -> SerialLink* { return linked ? &echo : nullptr; });
  ch.setBaud(1000000);
  ch.setLatencyMs(2);
  uint64_t now = 0;
  std::vector<uint8_t> msg(1000);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(ch.write(msg.data(), msg.size(), now, kMs * 1000), msg.size());
  std::vector<uint8_t> back(1000);
  EXPECT_EQ(ch.read(back.data(), back.size(), now, 1000 * kMs), 1000u);
  EXPECT_EQ(back, msg);
  // 1000 bytes of 10 bits at 1 Mbaud go out and come back: at least 10 ms.
  EXPECT_GE(now, 10 * kMs);
  EXPECT_LT(now, 30 * kMs);
  // Nothing behind the pins (an unconfigured FPGA): bytes are lost, reads time out.
  linked = false;
  ch.write(msg.data(), 10, now, kMs);
  EXPECT_EQ(ch.read(back.data(), 10, now, 100 * kMs), 0u);
  // A status poll costs simulated time and shows what is readable.
  uint64_t before = now;
  EXPECT_EQ(ch.rxQueue(now), 0u);
  EXPECT_GT(now, before);
}

TEST(ChannelModes, MpsseOnlyWhereTheChipHasOne) {
  uint64_t now = 0;
  FtdiChannel c(chipInfo(ChipKind::FT4232H), 2, UsbTiming{});
  EXPECT_FALSE(c.setBitMode(0x0B, 2, now));
  FtdiChannel r(chipInfo(ChipKind::FT232R), 0, UsbTiming::forChip(chipInfo(ChipKind::FT232R)));
  EXPECT_FALSE(r.setBitMode(0x0B, 2, now));
  FtdiChannel b(chipInfo(ChipKind::FT4232H), 1, UsbTiming{});
  EXPECT_TRUE(b.setBitMode(0x0B, 2, now));
  // A channel with no chain behind it reads TDO high.
  const uint8_t cmd[] = {0x2C, 0x00, 0x00, 0x87};
  b.write(cmd, 4, now, kMs);
  uint8_t v = 0;
  EXPECT_EQ(b.read(&v, 1, now, kMs), 1u);
  EXPECT_EQ(v, 0xFF);
}

}  // namespace
}  // namespace varnsim
