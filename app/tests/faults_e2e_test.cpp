// What the board threads of the real varn_tcp_bridge do when things go wrong around
// them: a CoE controller that vanishes and comes back, one that stops answering, a
// client that stops reading. The other boards and devices keep being served, nothing
// spins, nothing typed is lost, and service resumes by itself.
#include <sys/stat.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/tests/board_rig.h"

namespace {

using rig::countOf;

const char* kFtdiEchoBoard = R"(board fe
device VU9P preconfigured=yes app=echo
device VU9P preconfigured=yes app=echo
ftdi FT232H serial=FE01
channel A jtag=fe
)";
const std::vector<std::string> kCoeEcho = {"--coe-fpga", "vu35p,app=echo"};

// One round trip through an open client; how long it took, or -1.
double roundTrip(rig::Client& c, const std::string& text, double limit) {
  auto t0 = std::chrono::steady_clock::now();
  if (!c.send(text)) return -1;
  if (c.receive(text.size(), limit) != text) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

class Faults : public BoardRig {
 protected:
  // A CoE board (board 0, one port) and an FTDI board (board 1, two ports).
  std::vector<uint16_t> startRack() {
    addresses_ = startCoeSim({kCoeEcho});
    if (addresses_.empty()) return {};
    startBridge({"-a", "-c", addresses_[0], "-q", "-p", std::to_string(rig::freePortRange(4))}, kFtdiEchoBoard);
    EXPECT_TRUE(bridge().waitFor("Thread starting for board 1\n", 30)) << bridgeOutput();
    return rig::openedPorts(bridgeOutput());
  }
  // Bridge CPU seconds used over `seconds` of wall time.
  double cpuOver(double seconds) {
    double before = bridge().cpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return bridge().cpuSeconds() - before;
  }
  std::vector<std::string> addresses_;
};

TEST_F(Faults, AVanishedControllerHoldsUpNothingAndItsBoardResumesWhenItIsBack) {
  std::vector<uint16_t> ports = startRack();
  ASSERT_EQ(ports.size(), 3u);
  rig::Client coe(ports[0]);
  rig::Client usb(ports[1]);
  ASSERT_GT(roundTrip(coe, "before\n", 10), 0);
  ASSERT_GT(roundTrip(usb, "before\n", 10), 0);
  const double idleCpu = cpuOver(2.0);

  sim_->signal(SIGKILL);
  ASSERT_TRUE(bridge().waitFor("Board 0 lost its CoE controller link", 10)) << bridgeOutput();
  // Typed while the controller is away: kept in the client's stream, not dropped.
  ASSERT_TRUE(coe.send("typed during the outage\n"));
  // The other board is served as before, and the bridge does not spin meanwhile.
  for (int i = 0; i < 20; ++i) {
    double t = roundTrip(usb, "still here " + std::to_string(i) + "\n", 5);
    ASSERT_GT(t, 0) << "round " << i;
    EXPECT_LT(t, 1.0) << "round " << i;
  }
  const double outageCpu = cpuOver(2.0);
  EXPECT_LT(outageCpu, idleCpu + 0.5) << "idle " << idleCpu << " s, outage " << outageCpu << " s of CPU in 2 s";
  EXPECT_EQ(countOf(bridgeOutput(), "Failed to send VARN JTAG Board 0"), 0) << bridgeOutput();

  ASSERT_TRUE(startCoeSimAt(addresses_, {kCoeEcho}));
  ASSERT_TRUE(bridge().waitFor("Board 0 CoE controller link is back; setting the board up again\n", 15))
      << bridgeOutput();
  ASSERT_TRUE(bridge().waitFor("Board 0 is set up again\n", 15)) << bridgeOutput();
  EXPECT_EQ(coe.receive(24, 10), "typed during the outage\n");
  EXPECT_GT(roundTrip(coe, "after\n", 10), 0);
  EXPECT_EQ(countOf(bridgeOutput(), "TCP Client Disconnected"), 0) << "clients stay connected\n" << bridgeOutput();
}

TEST_F(Faults, AControllerThatStopsAnsweringDoesNotFreezeItsBoardForEver) {
  std::vector<uint16_t> ports = startRack();
  ASSERT_EQ(ports.size(), 3u);
  rig::Client coe(ports[0]);
  rig::Client usb(ports[1]);
  ASSERT_GT(roundTrip(coe, "before\n", 10), 0);
  const double idleCpu = cpuOver(2.0);

  // Frozen: its connection stays up, its requests are never answered.
  sim_->signal(SIGSTOP);
  ASSERT_TRUE(coe.send("typed while it was silent\n"));
  auto t0 = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(8)) {
    double t = roundTrip(usb, "other board\n", 5);
    ASSERT_GT(t, 0);
    EXPECT_LT(t, 1.0);
  }
  const double silentCpu = cpuOver(2.0);
  EXPECT_LT(silentCpu, idleCpu + 0.5) << "idle " << idleCpu << " s, silent " << silentCpu << " s of CPU in 2 s";
  sim_->signal(SIGCONT);

  // What was typed into the silent board arrived, or its client was told by the end of
  // its connection (and the log says why); never dropped silently.
  std::string got;
  const bool echoed = coe.receiveUntil("typed while it was silent\n", 10, &got);
  if (!echoed) {
    EXPECT_TRUE(coe.closedByPeer(10)) << got << "\n" << bridgeOutput();
    EXPECT_TRUE(bridge().waitFor("Board 0 Device 0: 26 bytes from the client may not have reached the device; "
                                 "closing the client\n",
                                 10))
        << bridgeOutput();
  }
  coe.close();
  // The board serves again within a few seconds of the controller's return.
  bool answered = false;
  for (int attempt = 0; attempt < 15 && !answered; ++attempt) {
    rig::Client again(ports[0]);
    const std::string probe = "after " + std::to_string(attempt) + "\n";
    if (!again.send(probe)) continue;
    answered = again.receiveUntil(probe, 2, &got);
  }
  EXPECT_TRUE(answered) << got << "\n" << bridgeOutput();
  // The log reaches us through its own pipe and may trail the echo: wait for it.
  EXPECT_TRUE(bridge().waitFor("Board 0 is set up again\n", 10)) << bridgeOutput();
}

// The -f copy goes to a FIFO nobody reads: once its buffer is full, the log cannot be
// written, yet the boards go on serving (the log waits, bounded, or is dropped and counted).
TEST_F(Faults, ALogSinkThatStopsDrainingHoldsUpNobody) {
  const std::string fifo = (dir_ / "log.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  startBridge({"-a", "-q", "-f", fifo, "-p", std::to_string(rig::freePortRange(3))}, kFtdiEchoBoard);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 0\n", 30)) << bridgeOutput();
  std::vector<uint16_t> ports = rig::openedPorts(bridgeOutput());
  ASSERT_EQ(ports.size(), 2u);
  rig::Client a(ports[0]);
  ASSERT_GT(roundTrip(a, "before\n", 10), 0);
  // Each refused second client costs the log three lines (about 130 bytes): 800 of
  // them are more than the FIFO holds.
  for (int i = 0; i < 800; ++i) {
    rig::Client extra(ports[0]);
    ASSERT_TRUE(extra.closedByPeer(10)) << "refused client " << i << " was not answered";
  }
  for (int i = 0; i < 5; ++i) {
    const double t = roundTrip(a, "during " + std::to_string(i) + "\n", 10);
    ASSERT_GT(t, 0) << "the device's port stopped with its log";
    EXPECT_LT(t, 2.0);
  }
  rig::Client b(ports[1]);
  EXPECT_GT(roundTrip(b, "other\n", 10), 0);
}

TEST_F(Faults, AClientThatStopsReadingHoldsUpOnlyItsOwnDevice) {
  startBridge({"-a", "-q", "-p", std::to_string(rig::freePortRange(3))}, kFtdiEchoBoard);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 0\n", 30)) << bridgeOutput();
  std::vector<uint16_t> ports = rig::openedPorts(bridgeOutput());
  ASSERT_EQ(ports.size(), 2u);

  // How fast this route echoes here (sanitizer builds are many times slower).
  double rate = 0;
  {
    rig::Client probe(ports[0]);
    const std::string sample(256 * 1024, 'r');
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(probe.send(sample));
    ASSERT_EQ(probe.receive(sample.size(), 120).size(), sample.size());
    rate = double(sample.size()) / std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  ASSERT_TRUE(bridge().waitFor("Board 0 Device 0 TCP Client Disconnected\n", 5));
  // More than the bridge's socket buffers take (they grow to a few megabytes), so a
  // bridge that waited in send() for this client would hang there; as much as the
  // route moves in a few seconds where it is slow.
  const size_t total = std::clamp<size_t>(static_cast<size_t>(rate * 6), 1u << 20, 8u << 20);
  std::string data(total, '\0');
  std::mt19937 gen(7);
  for (char& ch : data) ch = static_cast<char>(gen());
  const int disconnectsBefore = countOf(bridgeOutput(), "Disconnected");
  rig::Client slow(ports[0], 4096);
  ASSERT_TRUE(slow.connected());
  std::thread writer([&] { slow.send(data); });

  // Not reading for a while: the echo backs up to the bridge, which keeps it.
  std::this_thread::sleep_for(std::chrono::seconds(6));
  rig::Client other(ports[1]);
  for (int i = 0; i < 10; ++i) {
    double t = roundTrip(other, "neighbour " + std::to_string(i) + "\n", 5);
    ASSERT_GT(t, 0) << "the board is held up by the slow client (round " << i << ")";
    EXPECT_LT(t, 1.0);
  }
  // Reading at last: every byte, in order.
  std::string got = slow.receive(total, 30 + 3 * double(total) / rate);
  writer.join();
  EXPECT_EQ(got.size(), total);
  EXPECT_TRUE(got == data) << "bytes changed or lost";
  EXPECT_EQ(countOf(bridgeOutput(), "Disconnected"), disconnectsBefore) << bridgeOutput();
}

}  // namespace
