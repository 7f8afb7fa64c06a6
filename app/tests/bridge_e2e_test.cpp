// The real varn_tcp_bridge binary, run as a user would, in a scratch directory of its
// own (the scan writes "virtual_ports" into the working directory).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/tests/expected_help.h"
#include "testsupport/process/process.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::current_path() / (std::string("e2e_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Arguments are passed through the shell in single quotes.
  Outcome run(const std::string& args) {
    std::string errPath = (dir_ / "stderr.txt").string();
    std::string command = "cd '" + dir_.string() + "' && exec ";
    for (const std::string& word : testsupport::emulatorFor(VARN_BRIDGE_PATH)) command += word + " ";
    command += "'" VARN_BRIDGE_PATH "' " + args + " 2>'" + errPath + "'";
    Outcome r;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
    int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = read(errPath);
    return r;
  }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_;
};

TEST_F(Bridge, HelpForNoArgumentsDashHAndDashDashHelp) {
  for (const char* args : {"", "-h", "--help", "-h -a"}) {
    SCOPED_TRACE(args);
    Outcome r = run(args);
    EXPECT_EQ(r.out, kExpectedHelp);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir_ / "virtual_ports")) << "the help scans nothing";
  }
}

TEST_F(Bridge, AnyOtherFirstArgumentRunsAndExitsWithoutBoards) {
  Outcome r = run("-x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Running FTDI USB Device Scan...\n"
            "Found 0 FTDI devices, targeting List Only\n"
            "Exiting with 0 active devices\n");
  EXPECT_TRUE(fs::exists(dir_ / "virtual_ports"));
  EXPECT_EQ(read(dir_ / "virtual_ports"), "");
}

TEST_F(Bridge, AllDevicesOnAHostWithoutFtdiChips) {
  Outcome r = run("-a");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Enabled for FTDI USB Devices\n"
            "Running in FTDI JTAG-UART Mode for FTDI USB Devices\n"
            "Selecting ALL devices\n"
            "Running FTDI USB Device Scan...\n"
            "Found 0 FTDI devices, targeting All Devices\n"
            "Exiting with 0 active devices\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Bridge, LogFileHoldsEveryMessage) {
  // Nothing listens on this loopback address: the CoE board is refused quickly, after
  // as many connection attempts as fit into the second the connection is given.
  Outcome r = run("-a -u -c 127.77.254.254 -f log.txt -k 3");
  EXPECT_EQ(r.status, 0);
  std::string head =
      "Enabled for FTDI USB Devices\n"
      "Running in FTDI Native-UART Mode for FTDI USB Devices\n"
      "Enabled for CoE Devices\n"
      "Selecting ALL devices\n"
      "Adding CoE Devices...\n"
      "Adding CoE Device at 127.77.254.254\n";
  std::string tail =
      "CoE Link Failed to connect!\n"
      "Failed to create VARN JTAG CoE Connection with error 7\n"
      "Running FTDI USB Device Scan...\n"
      "Found 0 FTDI devices, targeting All Devices\n"
      "Exiting with 0 active devices\n";
  // The link's own thread reports its attempts meanwhile, anywhere after the board was
  // named and until the process ends; every other line comes in this order.
  EXPECT_NE(r.out.find("Connecting CoE link to 127.77.254.254...\n"), std::string::npos) << r.out;
  std::string ordered;
  for (size_t at = 0; at < r.out.size();) {
    size_t end = r.out.find('\n', at);
    end = end == std::string::npos ? r.out.size() : end + 1;
    std::string line = r.out.substr(at, end - at);
    at = end;
    if (line.find("Connecting") != std::string::npos || line == "CoE Connection Failed, retrying...\n") continue;
    ordered += line;
  }
  EXPECT_EQ(ordered, head + tail) << r.out;
  EXPECT_EQ(read(dir_ / "log.txt"), r.out);
}

// Settings that cannot be used are named with the reason, and the program goes on
// without them instead of using something else in their place.
TEST_F(Bridge, UnusableLogFilePortsAndAddressesAreNamed) {
  Outcome r = run("-a -f missing/log.txt -p 70000 -n -5 -j 65536");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Cannot write the log file missing/log.txt (No such file or directory); going on without it\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Error - port 70000 for -p is not a TCP port (0..65535); keeping 2000\n"), std::string::npos);
  EXPECT_NE(r.out.find("Error - port -5 for -n is not a TCP port (0..65535); keeping 1999\n"), std::string::npos);
  EXPECT_NE(r.out.find("Error - port 65536 for -j is not a TCP port (0..65535); keeping 2345\n"), std::string::npos);
  r = run("-f .");
  EXPECT_NE(r.out.find("Cannot write the log file . (Is a directory); going on without it\n"), std::string::npos);
  r = run("-c board7.lab");
  EXPECT_NE(r.out.find("Adding CoE Device at board7.lab\nCoE Device board7.lab: not an IPv4 address (dotted, like "
                       "192.168.1.20), so it cannot be reached\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Failed to create VARN JTAG CoE Connection with error 7\n"), std::string::npos);
}

TEST_F(Bridge, GuiWithoutBoardsPrintsTheLastFiftyRingLines) {
  std::string args = "-g";
  for (int i = 0; i < 52; ++i) args += " -z";
  Outcome r = run(args);
  EXPECT_EQ(r.status, 0);
  // 52 refusals and 3 scan lines went into the 50-line ring: the first 5 are gone.
  std::string expected;
  for (int i = 0; i < 47; ++i) expected += "Error - invalid parameter -z\n";
  expected +=
      "Running FTDI USB Device Scan...\n"
      "Found 0 FTDI devices, targeting List Only\n"
      "Exiting with 0 active devices\n";
  EXPECT_EQ(r.out, expected);
}

TEST_F(Bridge, InvalidOptionIsReportedAndTheRunGoesOn) {
  Outcome r = run("-a -z -p");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Error - invalid parameter -z\n"
            "Error - invalid parameter -p\n"
            "Enabled for FTDI USB Devices\n"
            "Running in FTDI JTAG-UART Mode for FTDI USB Devices\n"
            "Selecting ALL devices\n"
            "Running FTDI USB Device Scan...\n"
            "Found 0 FTDI devices, targeting All Devices\n"
            "Exiting with 0 active devices\n");
  EXPECT_EQ(r.err, "") << "getopt's own message stays silent";
}

}  // namespace
