// Start-up bitstream loads (-b) of the real varn_tcp_bridge against simulated boards:
// each device gets the first file of the list that suits it, the load's progress and
// outcome show in the log, the user code is read after a successful load, a device
// no file suits is skipped, and a file the device refuses ends in a failed load.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/tests/board_rig.h"

namespace {

using rig::countOf;

size_t at(const std::string& out, const std::string& line) { return out.find(line); }

class Loads : public BoardRig {};

TEST_F(Loads, EachDeviceTakesTheFirstFileThatSuitsItOverFtdi) {
  const std::string vu35p = bitgen("vu35p.bit", {"--part", "VU35P", "--usercode", "0x35350001"});
  // Large enough to take a while, so that its progress shows.
  const std::string vu9p = bitgen("vu9p.bit", {"--part", "VU9P", "--frames", "20000", "--usercode", "0x09090002"});
  const char* boards = R"(board lb
device VU9P app=echo
device VU35P app=echo
device VU13P app=echo
ftdi FT232H serial=LOAD1
channel A jtag=lb
)";
  startBridge({"-a", "-q", "-b", vu35p + "," + vu9p, "-p", std::to_string(rig::freePortRange(4))}, boards);
  ASSERT_TRUE(bridge().waitFor("Device 2, Skipping\n", 120)) << bridgeOutput();
  std::string out = bridgeOutput();

  const size_t load0 = at(out, "Using Bitstream " + vu9p + " for VARN JTAG Board 0 Device 0\n");
  const size_t done0 = at(out, "VARN JTAG Board 0 Device 0 Bitstream Loaded\n");
  const size_t code0 = at(out, "VARN JTAG Board 0 Device 0 USR_ACCESS Value: 0x09090002\n");
  const size_t load1 = at(out, "Using Bitstream " + vu35p + " for VARN JTAG Board 0 Device 1\n");
  const size_t code1 = at(out, "VARN JTAG Board 0 Device 1 USR_ACCESS Value: 0x35350001\n");
  const size_t skip2 = at(out, "No Specified Bitstream is valid for VARN JTAG Board 0 Device 2, Skipping\n");
  ASSERT_NE(load0, std::string::npos) << out;
  ASSERT_NE(done0, std::string::npos) << out;
  ASSERT_NE(code0, std::string::npos) << out;
  ASSERT_NE(load1, std::string::npos) << out;
  ASSERT_NE(code1, std::string::npos) << out;
  ASSERT_NE(skip2, std::string::npos) << out;
  // One device after the other, in device order, each a load of its own.
  EXPECT_LT(load0, done0);
  EXPECT_LT(done0, code0);
  EXPECT_LT(code0, load1);
  EXPECT_LT(code1, skip2);
  EXPECT_EQ(countOf(out, "Starting Bitstream Load...\n"), 3) << out;
  // Device 2 is told why neither file suits it, file by file, before it is skipped.
  const size_t why35 = at(out, "Bitstream " + vu35p + " refused: made for IDCODE 04B71093, the device is 04B51093\n");
  const size_t why9 = at(out, "Bitstream " + vu9p + " refused: made for IDCODE 04B31093, the device is 04B51093\n");
  EXPECT_NE(why35, std::string::npos) << out;
  EXPECT_NE(why9, std::string::npos) << out;
  EXPECT_LT(why9, skip2);
  EXPECT_GT(why35, code1);
  // The long load reported its way up, below 100 until it was done.
  const size_t progress = at(out, "VARN JTAG Board 0 Device 0 Bitstream Load Progress: ");
  ASSERT_NE(progress, std::string::npos) << out;
  EXPECT_GT(progress, load0);
  EXPECT_LT(progress, done0);
  EXPECT_EQ(countOf(out, "Bitstream Load Progress: 100%"), 0) << out;
  EXPECT_EQ(countOf(out, "Failed to load"), 0) << out;

  // The loaded designs run: their echo answers.
  std::vector<uint16_t> ports = rig::openedPorts(out);
  ASSERT_EQ(ports.size(), 3u);
  for (int d = 0; d < 2; ++d) {
    rig::Client c(ports[d]);
    ASSERT_TRUE(c.send("loaded\n"));
    EXPECT_EQ(c.receive(7, 10), "loaded\n") << "device " << d;
  }
}

// A FIFO in the list (nobody writes it) is refused at once: the board thread goes on
// serving its port instead of waiting in open for ever.
TEST_F(Loads, AFifoIsRefusedWithoutHoldingTheBoard) {
  const std::string real = bitgen("real.bit", {"--part", "VU9P"});
  const std::string fifo = real.substr(0, real.rfind('/') + 1) + "pipe.bit";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  startBridge({"-a", "-q", "-b", fifo, "-p", std::to_string(rig::freePortRange(2))}, kOneEchoFpga);
  const uint16_t port = onlyPortAfter("No Specified Bitstream is valid for VARN JTAG Board 0 Device 0, Skipping\n");
  ASSERT_NE(port, 0);
  rig::Client c(port);
  ASSERT_TRUE(c.send("still here\n"));
  EXPECT_EQ(c.receive(11, 10), "still here\n");
}

// A .bit file that holds less than its header declares is refused before the device
// is touched: the design that runs there keeps serving its port.
TEST_F(Loads, ATruncatedFileLeavesTheRunningDesignAlone) {
  const std::string cut = bitgen("cut.bit", {"--part", "VU9P", "--frames", "2000", "--truncate", "100000"});
  startBridge({"-a", "-q", "-b", cut, "-p", std::to_string(rig::freePortRange(2))}, kOneEchoFpga);
  const uint16_t port = onlyPortAfter("not loaded, the device is left as it was\n");
  ASSERT_NE(port, 0);
  EXPECT_EQ(countOf(bridgeOutput(), "Houseclean"), 0) << bridgeOutput();
  rig::Client c(port);
  ASSERT_TRUE(c.send("design\n"));
  EXPECT_EQ(c.receive(7, 10), "design\n") << "the FPGA still runs its design";
}

TEST_F(Loads, OverCoEAndAFileTheDeviceRefuses) {
  const std::string good = bitgen("good.bit", {"--part", "VU35P", "--usercode", "0x00C0E001"});
  const std::string broken = bitgen("broken.bit", {"--part", "VU9P", "--corrupt"});
  std::vector<std::string> addresses =
      startCoeSim({{"--coe-fpga", "vu35p,preconfigured=no,app=echo", "--coe-fpga", "vu9p,preconfigured=no"}});
  ASSERT_EQ(addresses.size(), 1u);
  startBridge({"-c", addresses[0], "-q", "-b", good + "," + broken, "-p", std::to_string(rig::freePortRange(3))});
  ASSERT_TRUE(bridge().waitFor("Device 1 bitstream: ", 120)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_NE(at(out, "Using Bitstream " + good + " for VARN JTAG Board 0 Device 0\n"), std::string::npos) << out;
  EXPECT_NE(at(out, "VARN JTAG Board 0 Device 0 Bitstream Loaded\n"), std::string::npos) << out;
  EXPECT_NE(at(out, "VARN JTAG Board 0 Device 0 USR_ACCESS Value: 0x00c0e001\n"), std::string::npos) << out;
  EXPECT_NE(at(out, "Using Bitstream " + broken + " for VARN JTAG Board 0 Device 1\n"), std::string::npos) << out;
  EXPECT_NE(at(out, "Failed to load VARN JTAG Board 0 Device 1 bitstream: "), std::string::npos) << out;
  EXPECT_EQ(countOf(out, "VARN JTAG Board 0 Device 1 Bitstream Loaded"), 0) << out;
  // The board goes on serving its ports after the failure.
  std::vector<uint16_t> ports = rig::openedPorts(out);
  ASSERT_EQ(ports.size(), 2u);
  rig::Client c(ports[0]);
  ASSERT_TRUE(c.send("after the loads\n"));
  EXPECT_EQ(c.receive(16, 10), "after the loads\n");
}

TEST_F(Loads, WithoutACommaTheWholeTextIsTheChoice) {
  const std::string only = bitgen("only.bit", {"--part", "VU9P"});
  const char* boards = R"(board one
device VU35P app=echo
device VU9P app=echo
ftdi FT232H serial=ONE1
channel A jtag=one
)";
  startBridge({"-a", "-q", "-b", only, "-p", std::to_string(rig::freePortRange(3))}, boards);
  ASSERT_TRUE(bridge().waitFor("VARN JTAG Board 0 Device 1 Bitstream Loaded\n", 60)) << bridgeOutput();
  std::string out = bridgeOutput();
  EXPECT_NE(at(out, "No Specified Bitstream is valid for VARN JTAG Board 0 Device 0, Skipping\n"), std::string::npos)
      << out;
  EXPECT_NE(at(out, "Using Bitstream " + only + " for VARN JTAG Board 0 Device 1\n"), std::string::npos) << out;
}

}  // namespace
