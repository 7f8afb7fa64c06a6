// What the end-to-end tests of board discovery and the board thread share: child
// processes (the real varn_tcp_bridge, varn_board_sim, varn_bitgen) whose output is
// also copied to a file in the test's own directory and which are always stopped when
// the test ends, free loopback addresses and ports, and a small blocking TCP client.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/platform/varn_platform.h"
#include "testsupport/process/process.h"

namespace rig {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& text);

// The one process launcher of the tests, under the name these tests know it by.
using Process = testsupport::Process;
using testsupport::countOf;

// A loopback address 127.x.y.z on which the CoE port 21363 is free (varies per call,
// so that tests running side by side do not meet).
std::string freeCoeAddress();
// The first of `n` consecutive TCP ports that are free now.
uint16_t freePortRange(int n);

// Blocking TCP client on 127.0.0.1.
class Client {
 public:
  // receiveBuffer > 0 shrinks the socket's receive buffer first: a client that does
  // not read then holds the sender up after a few kilobytes.
  explicit Client(uint16_t port, int receiveBuffer = 0);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return fd_ != VARN_INVALID_SOCKET; }
  varn_socket fd() const { return fd_; }
  bool send(const std::string& bytes);
  bool send(const void* data, size_t len);
  // Reads until `len` bytes came, the peer closed, or `seconds` passed.
  std::string receive(size_t len, double seconds);
  // Reads until `needle` is among what came (true), or `seconds` passed.
  bool receiveUntil(const std::string& needle, double seconds, std::string* got);
  // True when the peer closed the connection within `seconds`.
  bool closedByPeer(double seconds);
  void close();

 private:
  varn_socket fd_ = VARN_INVALID_SOCKET;
};

// Ports from the bridge's "Opened ... port %hu" lines, in order.
std::vector<uint16_t> openedPorts(const std::string& output);

// Binary paths, from the build.
const char* bridgePath();
const char* boardSimPath();
const char* bitgenPath();
const char* ftdiSimPath();

}  // namespace rig

// A scratch directory per test and the processes of one scenario.
// One preconfigured VU9P running the echo design, behind an FT232H.
inline constexpr const char* kOneEchoFpga =
    "board one\ndevice VU9P preconfigured=yes app=echo\nftdi FT232H serial=ONE1\nchannel A jtag=one\n";

class BoardRig : public ::testing::Test {
 protected:
  // The one port the bridge opened, once `line` is in its output; 0 (with a failure
  // recorded) when the line does not come or the bridge opened another number of ports.
  uint16_t onlyPortAfter(const std::string& line) {
    EXPECT_TRUE(bridge().waitFor(line, 30)) << bridgeOutput();
    std::vector<uint16_t> ports = rig::openedPorts(bridgeOutput());
    EXPECT_EQ(ports.size(), 1u) << bridgeOutput();
    return ports.size() == 1 ? ports[0] : 0;
  }

  void SetUp() override;
  void TearDown() override;

  // Starts varn_board_sim with one --coe-board per entry of `boards`; each entry holds
  // that board's --coe-* arguments after the address. Returns the addresses given.
  std::vector<std::string> startCoeSim(const std::vector<std::vector<std::string>>& boards);
  // The same on given addresses (a controller coming back); false when it did not start.
  bool startCoeSimAt(const std::vector<std::string>& addresses, const std::vector<std::vector<std::string>>& boards);
  // Starts the bridge with `args` (and, when `ftdiBoards` is not empty, the simulated
  // D2XX library preloaded over that board description).
  // `wrapper` runs the bridge (its command and arguments, the bridge's path after them).
  rig::Process& startBridge(const std::vector<std::string>& args, const std::string& ftdiBoards = "",
                            const std::vector<std::string>& wrapper = {});
  // Runs the bridge to its end (a run that registers no board).
  std::string runBridgeToEnd(const std::vector<std::string>& args, const std::string& ftdiBoards, int* status);
  // Makes a test bitstream with varn_bitgen; returns its path.
  std::string bitgen(const std::string& name, const std::vector<std::string>& args);

  rig::Process& bridge() { return *bridge_; }
  std::string bridgeOutput() const { return bridge_ ? bridge_->output() : std::string(); }

  rig::fs::path dir_;
  std::unique_ptr<rig::Process> sim_;
  std::unique_ptr<rig::Process> bridge_;
};
