// The FPGAs' serial channels through the real varn_tcp_bridge: bytes typed into an
// FPGA's TCP port come back from the simulated FPGA's echo application over each of
// the three routes (JTAG-UART over FTDI, the FTDI chip's own UART, a CoE controller's
// UART), in bulk without a byte lost or changed, one client per port, and output
// nobody is connected for is counted and dropped.
#include <regex>
#include <string>
#include <vector>

#include "app/tests/board_rig.h"
#include "app/tests/serial_rig.h"

namespace {

using rig::countOf;
using serialrig::echoBulk;
using serialrig::expectEcho;


void typeAndExpectEcho(uint16_t port, const std::string& text, const char* route) {
  rig::Client c(port);
  ASSERT_TRUE(c.connected()) << route;
  ASSERT_TRUE(c.send(text));
  EXPECT_EQ(c.receive(text.size(), 10), text) << route;
}

TEST_F(Serial, TypedBytesComeBackOverJtagUart) {
  std::vector<uint16_t> ports = ftdiBridge(serialrig::kJtagUartBoard, {});
  ASSERT_EQ(ports.size(), 2u);
  typeAndExpectEcho(ports[0], "hello over JTAG-UART\r\n", "JTAG-UART device 0");
  typeAndExpectEcho(ports[1], std::string("\x00\x01\xfe\xff binary", 11), "JTAG-UART device 1");
  ASSERT_TRUE(bridge().waitFor("Board 0 Device 1 TCP Client Disconnected\n", 5)) << bridgeOutput();
  serialrig::EchoRun r = echoBulk(ports[1], 256 * 1024, 120);
  expectEcho(r, 256 * 1024, "JTAG-UART");
}

TEST_F(Serial, TypedBytesComeBackOverTheCompanionUart) {
  std::vector<uint16_t> ports = ftdiBridge(serialrig::kCompanionUartBoard, {"-u"});
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_NE(bridgeOutput().find("Initializing companion FTDI UART\n"), std::string::npos);
  typeAndExpectEcho(ports[0], "hello over the FTDI UART\r\n", "companion UART");
  ASSERT_TRUE(bridge().waitFor("Board 0 Device 0 TCP Client Disconnected\n", 5)) << bridgeOutput();
  serialrig::EchoRun r = echoBulk(ports[0], 256 * 1024, 120);
  expectEcho(r, 256 * 1024, "companion UART");
}

TEST_F(Serial, TypedBytesComeBackOverTheCoEControllersUart) {
  std::vector<uint16_t> ports = coeBridge({});
  ASSERT_EQ(ports.size(), 2u);
  typeAndExpectEcho(ports[0], "hello over CoE\r\n", "CoE device 0");
  typeAndExpectEcho(ports[1], "and its neighbour\r\n", "CoE device 1");
  ASSERT_TRUE(bridge().waitFor("Board 0 Device 0 TCP Client Disconnected\n", 5)) << bridgeOutput();
  // Faster than the controller's 1 Mbaud line: paced, nothing is dropped.
  serialrig::EchoRun r = echoBulk(ports[0], 128 * 1024, 60);
  expectEcho(r, 128 * 1024, "CoE UART");
  EXPECT_EQ(countOf(bridgeOutput(), "UART Overflow"), 0) << bridgeOutput();
}

TEST_F(Serial, ASecondClientIsTurnedAwayWhileTheFirstKeepsWorking) {
  std::vector<uint16_t> ports = coeBridge({});
  ASSERT_EQ(ports.size(), 2u);
  rig::Client first(ports[0]);
  ASSERT_TRUE(first.send("one\n"));
  EXPECT_EQ(first.receive(4, 10), "one\n");
  rig::Client second(ports[0]);
  ASSERT_TRUE(second.connected()) << "accepted at the TCP level";
  EXPECT_TRUE(second.closedByPeer(5)) << "and closed at once";
  EXPECT_TRUE(bridge().waitFor("Rejecting because we are already in use\n", 5)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_EQ(countOf(out, "Got connection for Board 0 Device 0\n"), 2) << out;
  EXPECT_EQ(countOf(out, "Accepting Client\n"), 1) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("Connection attempt from 127\\.0\\.0\\.1:[0-9]+\n"))) << out;
  ASSERT_TRUE(first.send("two\n"));
  EXPECT_EQ(first.receive(4, 10), "two\n") << "the first client is still served";
  // The other device's port is free all along.
  typeAndExpectEcho(ports[1], "free\n", "device 1");
}

TEST_F(Serial, AfterADisconnectTheNextClientIsServed) {
  std::vector<uint16_t> ports = ftdiBridge(serialrig::kJtagUartBoard, {});
  ASSERT_EQ(ports.size(), 2u);
  for (int round = 0; round < 3; ++round) {
    std::string text = "round " + std::to_string(round) + "\n";
    typeAndExpectEcho(ports[0], text, "JTAG-UART");
    ASSERT_TRUE(bridge().waitFor("Board 0 Device 0 TCP Client Disconnected\n", 5, round + 1)) << bridgeOutput();
  }
  EXPECT_EQ(countOf(bridgeOutput(), "Accepting Client\n"), 3);
  EXPECT_EQ(countOf(bridgeOutput(), "Rejecting"), 0);
}

// A device line of the telemetry report: its TX and RX counts.
bool reportCounts(const std::string& out, const char* fpga, unsigned long* tx, unsigned long* rx) {
  std::regex line(std::string("Board 0 FPGA ") + fpga + " TX ([0-9]+) / RX ([0-9]+) \\(");
  bool found = false;
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
    *tx = std::stoul((*it)[1]);
    *rx = std::stoul((*it)[2]);
    found = true;
  }
  return found;
}

TEST_F(Serial, OutputWithNoClientIsCountedAndDropped) {
  const char* boards = R"(board cb
device VU9P preconfigured=yes app=console name=CON console_period_ms=50
ftdi FT232H serial=CON1
channel A jtag=cb
)";
  // With the report on (-k 0: about every second) the RX count is visible.
  startBridge({"-a", "-k", "0", "-p", std::to_string(rig::freePortRange(2))}, boards);
  ASSERT_TRUE(bridge().waitFor("Thread starting for board 0\n", 30)) << bridgeOutput();
  ASSERT_TRUE(bridge().waitFor("Telemetry:\n", 10, 2)) << bridgeOutput();
  unsigned long tx = 0, rx = 0;
  ASSERT_TRUE(reportCounts(bridgeOutput(), "A", &tx, &rx)) << bridgeOutput();
  EXPECT_EQ(tx, 0u);
  EXPECT_GT(rx, 0u) << "the console's lines were read with nobody connected";
  std::vector<uint16_t> ports = rig::openedPorts(bridgeOutput());
  ASSERT_EQ(ports.size(), 1u);
  rig::Client c(ports[0]);
  std::string got;
  ASSERT_TRUE(c.receiveUntil("\r\n", 5, &got));
  ASSERT_TRUE(c.receiveUntil("CON: tick", 5, &got)) << got;
  EXPECT_EQ(got.find("console ready"), std::string::npos) << "what came before the client was dropped: " << got;
  EXPECT_EQ(got.find("CON: tick 1 "), std::string::npos) << got;
  // Typing goes through: TX counts it.
  ASSERT_TRUE(c.send("version\r\n"));
  ASSERT_TRUE(bridge().waitFor("Telemetry:\n", 10, countOf(bridgeOutput(), "Telemetry:\n") + 2));
  ASSERT_TRUE(reportCounts(bridgeOutput(), "A", &tx, &rx));
  EXPECT_EQ(tx, 9u);
}

}  // namespace
