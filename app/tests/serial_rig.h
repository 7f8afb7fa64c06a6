// Shared by the serial-channel end-to-end tests and their soak: the boards whose
// FPGAs echo what they are sent over each route, a fixture that starts the bridge on
// them, and a bulk echo run that compares every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/tests/board_rig.h"

namespace serialrig {

inline const char* kJtagUartBoard = R"(board jb
device VU9P preconfigured=yes app=echo
device VU35P preconfigured=yes app=echo
ftdi FT232H serial=JU01
channel A jtag=jb
)";

inline const char* kCompanionUartBoard = R"(board ub
device VU9P preconfigured=yes app=echo
ftdi FT2232H serial=UA01
channel A jtag=ub
channel B uart=ub
)";

inline const std::vector<std::string> kCoeEchoBoard = {"--coe-fpga", "vu9p,app=echo", "--coe-fpga", "vu35p,app=echo"};

// How much of a soak runs: VARN_SOAK_SCALE=brief (CI) runs 1/64 of it, a number
// scales it.
size_t soakBytes(size_t full);

struct EchoRun {
  bool sentAll = false;
  size_t received = 0;
  size_t firstMismatch = std::string::npos;
  double seconds = 0;
};

// Sends `total` pseudo-random bytes into the port while reading the echo back, and
// compares every byte.
EchoRun echoBulk(uint16_t port, size_t total, double limitSeconds);
// Expects every byte back unchanged, and prints the rate.
void expectEcho(const EchoRun& r, size_t total, const char* route);

}  // namespace serialrig

// Starts the bridge on simulated boards and hands back the ports it opened.
class Serial : public BoardRig {
 protected:
  // Starts the bridge, waits for every board thread, returns the opened ports.
  std::vector<uint16_t> bridgeWith(const std::vector<std::string>& args, const std::string& ftdi, int boards) {
    startBridge(args, ftdi);
    EXPECT_TRUE(bridge().waitFor("Thread starting for board " + std::to_string(boards - 1) + "\n", 30))
        << bridgeOutput();
    return rig::openedPorts(bridgeOutput());
  }
  std::vector<uint16_t> coeBridge(const std::vector<std::string>& extra) {
    std::vector<std::string> addresses = startCoeSim({serialrig::kCoeEchoBoard});
    if (addresses.empty()) return {};
    std::vector<std::string> args = {"-c", addresses[0], "-q", "-p", std::to_string(rig::freePortRange(4))};
    args.insert(args.end(), extra.begin(), extra.end());
    return bridgeWith(args, "", 1);
  }
  std::vector<uint16_t> ftdiBridge(const char* boards, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"-a", "-q", "-p", std::to_string(rig::freePortRange(4))};
    args.insert(args.end(), extra.begin(), extra.end());
    return bridgeWith(args, boards, 1);
  }
};

