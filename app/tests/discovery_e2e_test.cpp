// Board discovery as a user meets it: the real varn_tcp_bridge against simulated FTDI
// chips (the simulated D2XX library, preloaded) and simulated CoE board controllers
// (varn_board_sim), with real command lines. What is listed, what is opened, which
// ports the FPGAs get, what "virtual_ports" says, and the limits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/tests/board_rig.h"

namespace {

using rig::countOf;

// A board description with `n` FT232H chips, each the JTAG channel of a board with
// one VU9P; serials S000, S001, ...
std::string singleChipBoards(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "S%03d", i);
    text += "board b" + std::to_string(i) + "\ndevice VU9P preconfigured=yes\n";
    text += std::string("ftdi FT232H serial=") + serial + "\nchannel A jtag=b" + std::to_string(i) + "\n";
  }
  return text;
}

const char* kMixedChips = R"(board dual
device VU35P preconfigured=yes
board single
device VU9P preconfigured=yes
board quad
device VU33P preconfigured=yes
ftdi FT2232H serial=DUALAB
channel A jtag=dual
channel B uart=dual
ftdi FT232H serial=SINGLE1
channel A jtag=single
ftdi FT4232H serial=QUADX
channel A jtag=quad
channel B uart=quad
channel C none
channel D none
ftdi FT232R serial=AL0001
channel A uart=single
)";

std::string portsFileOf(const rig::fs::path& dir) { return rig::readFile(dir / "virtual_ports"); }

class Discovery : public BoardRig {};

TEST_F(Discovery, ListOnlyShowsEveryJtagChannelWithItsIndexAndOpensNothing) {
  int status = -1;
  std::string out = runBridgeToEnd({"-l", "-a"}, kMixedChips, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Listing devices only\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Found 8 FTDI devices, targeting List Only\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Valid JTAG Device 0: Dual RS232-HS A (Serial: DUALABA)\n"
                     "Valid JTAG Device 1: Single RS232-HS (Serial: SINGLE1)\n"
                     "Valid JTAG Device 2: Quad RS232-HS A (Serial: QUADXA)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(countOf(out, "Valid JTAG Device"), 3) << out;
  EXPECT_EQ(countOf(out, "Scanning "), 0) << "no per-entry scan lines when only listing\n" << out;
  EXPECT_EQ(countOf(out, "Initializing Bus"), 0) << "nothing is opened\n" << out;
  EXPECT_EQ(countOf(out, "Opened virtual TCP serial port"), 0) << out;
  EXPECT_NE(out.find("Exiting with 0 active devices\n"), std::string::npos) << out;
  EXPECT_EQ(portsFileOf(dir_), "");
}

// The kernel's view of the bridge's end of a client connection: its keepalive timer
// runs (timer kind 2 in /proc/net/tcp), so a client that vanishes frees the port.
TEST_F(Discovery, AcceptedClientsAreWatchedByTcpKeepalive) {
  startBridge({"-a", "-q", "-p", std::to_string(rig::freePortRange(2))}, kOneEchoFpga);
  const uint16_t port = onlyPortAfter("Thread starting for board 0\n");
  ASSERT_NE(port, 0);
  rig::Client c(port);
  ASSERT_TRUE(c.send("ka\n"));
  ASSERT_EQ(c.receive(3, 10), "ka\n");
  sockaddr_in mine{};
  socklen_t len = sizeof mine;
  ASSERT_EQ(getsockname(c.fd(), reinterpret_cast<sockaddr*>(&mine), &len), 0);
  char local[32], remote[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", unsigned(port));
  std::snprintf(remote, sizeof remote, "0100007F:%04X", unsigned(ntohs(mine.sin_port)));
  std::ifstream tcp("/proc/net/tcp");
  std::string line, timer;
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string sl, l, r, st, queues, tm;
    fields >> sl >> l >> r >> st >> queues >> tm;
    if (l == local && r == remote) timer = tm.substr(0, 2);
  }
  EXPECT_EQ(timer, "02") << "the bridge's end of the connection has its keepalive timer running";
}

// `nc -N`: the command, then end of input; the answer still comes, and the connection
// ends once the device has been quiet, after which the port takes a new client.
TEST_F(Discovery, AClientThatEndsItsInputStillGetsTheAnswer) {
  startBridge({"-a", "-q", "-p", std::to_string(rig::freePortRange(2))}, kOneEchoFpga);
  const uint16_t port = onlyPortAfter("Thread starting for board 0\n");
  ASSERT_NE(port, 0);
  rig::Client c(port);
  ASSERT_TRUE(c.send("question\n"));
  ASSERT_EQ(shutdown(c.fd(), SHUT_WR), 0);
  EXPECT_EQ(c.receive(9, 10), "question\n");
  EXPECT_TRUE(c.closedByPeer(10)) << "closed once the device is quiet";
  EXPECT_TRUE(bridge().waitFor("Board 0 Device 0 TCP Client Disconnected\n", 10));
  rig::Client next(port);
  ASSERT_TRUE(next.send("again\n"));
  EXPECT_EQ(next.receive(6, 10), "again\n");
}

TEST_F(Discovery, PortsStopAt65535InsteadOfWrappingRound) {
  const char* boards = R"(board two
device VU33P preconfigured=yes
device VU9P preconfigured=yes
ftdi FT232H serial=TOP1
channel A jtag=two
)";
  startBridge({"-a", "-q", "-p", "65535"}, boards);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 0\n", 30)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_EQ(rig::openedPorts(out), std::vector<uint16_t>{65535}) << out;
  EXPECT_NE(out.find("No free TCP port from 65535 up to 65535\n"), std::string::npos) << out;
}

TEST_F(Discovery, AllBoardsGetConsecutivePortsPastOneThatAnotherProgramHolds) {
  const char* boards = R"(board four
device VU9P preconfigured=yes
device VU9P preconfigured=yes
device VU35P preconfigured=yes
device VU9P preconfigured=yes
board two
device VU33P preconfigured=yes
device VU9P preconfigured=yes
ftdi FT232H serial=FOUR1
channel A jtag=four
ftdi FT232H serial=TWO2
channel A jtag=two
)";
  const uint16_t base = rig::freePortRange(8);
  // Another program listens on the second port.
  varn_socket holder = varn_tcp_socket();
  ASSERT_EQ(varn_bind_any(holder, static_cast<uint16_t>(base + 1)), 0);
  ASSERT_EQ(varn_listen(holder, 1), 0);

  startBridge({"-a", "-q", "-p", std::to_string(base)}, boards);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 1\n", 30)) << bridgeOutput();
  varn_close_socket(holder);
  std::string out = bridgeOutput();
  EXPECT_NE(out.find("Found 4 FPGAs on board 0, creating virtual TCP serial ports...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Found 2 FPGAs on board 1, creating virtual TCP serial ports...\n"), std::string::npos) << out;
  std::vector<uint16_t> expected = {base, uint16_t(base + 2), uint16_t(base + 3), uint16_t(base + 4),
                                    uint16_t(base + 5), uint16_t(base + 6)};
  EXPECT_EQ(rig::openedPorts(out), expected) << out;
  std::string lines;
  for (uint16_t p : expected) lines += "tcp://<hostname>:" + std::to_string(p) + "\n";
  EXPECT_EQ(portsFileOf(dir_), lines);
  // Every port listens: a client reaches each of them.
  for (uint16_t p : expected) {
    rig::Client c(p);
    EXPECT_TRUE(c.connected()) << "port " << p;
  }
  EXPECT_TRUE(bridge().waitFor("Accepting Client\n", 10, 6)) << bridgeOutput();
  // Identity and start-up, per device and board.
  out = bridgeOutput();
  for (int d = 0; d < 4; ++d)
    EXPECT_NE(out.find("VARN JTAG Board 0 Device " + std::to_string(d) + " Open Complete\n"), std::string::npos);
  EXPECT_NE(out.find("Board 0 Device 2 IDCODE(04b71093) Name: VU35P\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Board 1 Device 0 IDCODE(04b69093) Name: VU33P\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Activating UART Bridge for Board 0\n"), std::string::npos);
}

TEST_F(Discovery, SerialFiltersAndIndexSelection) {
  const char* boards = R"(board a
device VU9P preconfigured=yes
board b
device VU9P preconfigured=yes
board c
device VU9P preconfigured=yes
ftdi FT232H serial=ZZABC1
channel A jtag=a
ftdi FT232H serial=QQ0002
channel A jtag=b
ftdi FT232H serial=ZZ3ABC
channel A jtag=c
)";
  const uint16_t base = rig::freePortRange(4);
  {
    // A leading comma: the empty first piece is skipped, "ABC" is looked for anywhere.
    startBridge({"-s", ",ABC", "-q", "-p", std::to_string(base)}, boards);
    ASSERT_TRUE(bridge().waitFor("Thread starting for board 1\n", 30)) << bridgeOutput();
    std::string out = bridgeOutput();
    EXPECT_NE(out.find("Filtering for devices with serials containing any of the following comma separated values: "
                       ",ABC\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Device with serial ZZABC1 matches filter ABC"), std::string::npos) << out;
    EXPECT_NE(out.find("JTAG Device 1 Does Not Match Filter: Single RS232-HS (Serial: QQ0002)\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Device with serial ZZ3ABC matches filter ABC"), std::string::npos) << out;
    EXPECT_EQ(countOf(out, "Activating UART Bridge for Board"), 2) << out;
    EXPECT_EQ(rig::openedPorts(out), (std::vector<uint16_t>{base, uint16_t(base + 1)}));
    bridge_.reset();
  }
  {
    // A number selects the JTAG device at that index of the list.
    rig::fs::remove(dir_ / "bridge.out");
    startBridge({"-s", "1", "-q", "-p", std::to_string(base)}, boards);
    ASSERT_TRUE(bridge().waitFor("Thread starting for board 0\n", 30)) << bridgeOutput();
    std::string out = bridgeOutput();
    EXPECT_NE(out.find("Selecting device at FTDI Index 1 (Warning, FTDI indexes are not stable) If you meant to match "
                       "numeric serials, use a leading comma\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Found 3 FTDI devices, targeting 1\n"), std::string::npos) << out;
    EXPECT_EQ(countOf(out, "Activating UART Bridge for Board"), 1) << out;
    EXPECT_EQ(countOf(out, "Initializing Bus"), 1) << out;
    EXPECT_EQ(portsFileOf(dir_), "tcp://<hostname>:" + std::to_string(base) + "\n");
    bridge_.reset();
  }
  {
    // ",2" looks for serials containing "2", not for index 2.
    rig::fs::remove(dir_ / "bridge.out");
    startBridge({"-s", ",2", "-q", "-p", std::to_string(base)}, boards);
    ASSERT_TRUE(bridge().waitFor("Thread starting for board 0\n", 30)) << bridgeOutput();
    std::string out = bridgeOutput();
    EXPECT_NE(out.find("Device with serial QQ0002 matches filter 2"), std::string::npos) << out;
    EXPECT_EQ(countOf(out, "Does Not Match Filter"), 2) << out;
  }
}

TEST_F(Discovery, SeveralCoEBoardsAndOneThatIsNotThere) {
  std::vector<std::string> addresses =
      startCoeSim({{"--coe-fpga", "vu35p", "--coe-fpga", "vu9p"}, {"--coe-fpga", "vu13p"}});
  ASSERT_EQ(addresses.size(), 2u);
  const std::string absent = rig::freeCoeAddress();
  const uint16_t base = rig::freePortRange(5);
  const std::string xvc = std::to_string(base + 4);
  // With -j every CoE board is handed to an XVC server on that one port: the first
  // to bind serves, the other says once that the port is taken and waits quietly.
  startBridge({"-c", addresses[0] + "," + absent + "," + addresses[1], "-q", "-j", xvc, "-p", std::to_string(base)});
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 1\n", 30)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_NE(out.find("Enabled for CoE Devices\n"), std::string::npos);
  EXPECT_NE(out.find("Adding CoE Device at " + addresses[0] + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Adding CoE Device at " + absent + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Failed to create VARN JTAG CoE Connection with error 7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Found 2 FPGAs on board 0, creating virtual TCP serial ports...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Found 1 FPGAs on board 1, creating virtual TCP serial ports...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Board 1 Device 0 IDCODE(04b51093) Name: VU13P\n"), std::string::npos) << out;
  EXPECT_EQ(rig::openedPorts(out), (std::vector<uint16_t>{base, uint16_t(base + 1), uint16_t(base + 2)}));
  EXPECT_EQ(countOf(out, "Activating UART Bridge for Board"), 2) << out;
  EXPECT_EQ(countOf(out, "Thread starting for board"), 2) << out;
  ASSERT_TRUE(bridge().waitFor("waiting for XVC connection on port " + xvc + "...\n", 10)) << bridgeOutput();
  ASSERT_TRUE(bridge().waitFor("bind: Address already in use", 10)) << bridgeOutput();
  // And the boards are served.
  rig::Client c(base);
  ASSERT_TRUE(c.send("x"));
  EXPECT_TRUE(bridge().waitFor("Accepting Client\n", 5)) << bridgeOutput();
  out = bridgeOutput();
  EXPECT_EQ(countOf(out, "waiting for XVC connection on port " + xvc + "...\n"), 1) << out;
  EXPECT_EQ(countOf(out, "bind: Address already in use"), 1) << out;
}

TEST_F(Discovery, SecondChannelIsSkippedWithoutDashUAndTheBoardsUartWithIt) {
  const uint16_t base = rig::freePortRange(4);
  {
    startBridge({"-a", "-q", "-p", std::to_string(base)}, kMixedChips);
    ASSERT_TRUE(bridge().waitFor("Thread starting for board 2\n", 30)) << bridgeOutput();
    std::string out = bridgeOutput();
    EXPECT_NE(out.find("Skipping non-JTAG (Likely UART Port) device Dual RS232-HS B (Serial: DUALABB)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Skipping non-JTAG (Likely UART Port) device Quad RS232-HS D (Serial: QUADXD)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Skipping non-JTAG (Likely UART Port) device FT232R USB UART (Serial: AL0001)\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(countOf(out, "Initializing companion FTDI UART"), 0) << out;
    // The second channel is never opened as a JTAG device.
    EXPECT_EQ(countOf(out, "Activating UART Bridge for Board"), 3) << out;
    bridge_.reset();
  }
  {
    rig::fs::remove(dir_ / "bridge.out");
    startBridge({"-a", "-u", "-q", "-p", std::to_string(base)}, kMixedChips);
    ASSERT_TRUE(bridge().waitFor("Thread starting for board 2\n", 30)) << bridgeOutput();
    std::string out = bridgeOutput();
    EXPECT_NE(out.find("Running in FTDI Native-UART Mode for FTDI USB Devices\n"), std::string::npos);
    EXPECT_EQ(countOf(out, "Skipping non-JTAG"), 0) << out;
    // DUALABB goes to the dual board and QUADXB to the quad board; QUADXC and QUADXD
    // stay closed, the quad board has its UART; so does the CVP UART, first in line
    // for board 0, which has DUALABB already.
    EXPECT_EQ(countOf(out, "Initializing companion FTDI UART\n"), 2) << out;
    EXPECT_EQ(countOf(out, "Board 2 already has a companion UART"), 2) << out;
    EXPECT_EQ(countOf(out, "Board 0 already has a companion UART"), 1) << out;
    EXPECT_NE(out.find("Found CVP UART\n"), std::string::npos) << out;
  }
}

TEST_F(Discovery, CvpUartsGoToTheBoardsInTheOrderTheyAreListed) {
  // The first CVP UART listed is wired to the second board's FPGA: paired in list
  // order it serves board 0, and board 0's port shows that FPGA's console.
  const char* boards = R"(board first
device VU9P preconfigured=yes app=console name=FIRST console_period_ms=100
board second
device VU9P preconfigured=yes app=console name=SECOND console_period_ms=100
ftdi FT232H serial=J0
channel A jtag=first
ftdi FT232H serial=J1
channel A jtag=second
ftdi FT232R serial=AL0001
channel A uart=second
ftdi FT232R serial=AL0002
channel A uart=first
ftdi FT232R serial=AL0003
channel A none
)";
  const uint16_t base = rig::freePortRange(3);
  startBridge({"-a", "-u", "-q", "-p", std::to_string(base)}, boards);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 1\n", 30)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_EQ(countOf(out, "Found CVP UART\n"), 3) << out;
  EXPECT_EQ(countOf(out, "Initializing companion FTDI UART\n"), 2) << "the third has no board left\n" << out;
  std::vector<uint16_t> ports = rig::openedPorts(out);
  ASSERT_EQ(ports.size(), 2u);
  for (int b = 0; b < 2; ++b) {
    rig::Client c(ports[b]);
    std::string got;
    const std::string want = b == 0 ? "SECOND: tick" : "FIRST: tick";
    EXPECT_TRUE(c.receiveUntil(want, 10, &got)) << "board " << b << " got: " << got;
  }
}

TEST_F(Discovery, MoreThanFourDevicesOnAChainAreReportedAndFourServed) {
  const char* boards = R"(board five
device VU9P preconfigured=yes
device VU9P preconfigured=yes
device VU9P preconfigured=yes
device VU9P preconfigured=yes
device VU9P preconfigured=yes
ftdi FT232H serial=FIVE
channel A jtag=five
)";
  std::vector<std::string> addresses = startCoeSim(
      {{"--coe-fpga", "vu9p", "--coe-idcodes", "0x04b31093,0x04b31093,0x04b31093,0x04b31093,0x04b31093"}});
  ASSERT_EQ(addresses.size(), 1u);
  const uint16_t base = rig::freePortRange(9);
  startBridge({"-a", "-c", addresses[0], "-q", "-p", std::to_string(base)}, boards);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 1\n", 40)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_NE(out.find("WARNING: CoE controller reports 5 devices on the chain; only the first 4 are used\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("WARNING: JTAG chain holds more than 4 devices"), std::string::npos) << out;
  EXPECT_EQ(countOf(out, "Found 4 FPGAs on board"), 2) << out;
  EXPECT_EQ(rig::openedPorts(out).size(), 8u) << out;
}

TEST_F(Discovery, BoardsBeyondSixtyFourAreRefusedByName) {
  const uint16_t base = rig::freePortRange(66);
  startBridge({"-a", "-q", "-t", "-p", std::to_string(base)}, singleChipBoards(65));
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 63\n", 120)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_NE(out.find("Board limit of 64 reached, not opening Single RS232-HS (Serial: S064)\n"), std::string::npos)
      << out;
  EXPECT_EQ(countOf(out, "Activating UART Bridge for Board"), 64);
  EXPECT_EQ(countOf(out, "Thread starting for board 64"), 0);
  EXPECT_EQ(rig::openedPorts(out).size(), 64u);
  EXPECT_EQ(countOf(portsFileOf(dir_), "tcp://<hostname>:"), 64);
}

}  // namespace
