// The Windows build of varn_tcp_bridge, run under wine on this host as a user runs it
// on Windows: its help and exit statuses, the timer line, an FTDI board through the
// simulated driver DLL (which takes the vendor DLL's name, ftd2xx.dll, beside the
// program), a CoE board against this host's varn_board_sim, and the XVC refusal.
// VARN_WINDOWS_BUILD names the Windows build directory; without it these tests skip
// (CI sets it after building the windows preset).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/tests/board_rig.h"
#include "app/tests/serial_rig.h"

namespace {

using rig::countOf;
namespace fs = std::filesystem;

// What the program wrote, with the line ends a Windows program's text-mode output has
// ("\r\n") as this host's.
std::string plainOutput(testsupport::Process& p) {
  std::string out = p.output();
  std::string plain;
  plain.reserve(out.size());
  for (size_t i = 0; i < out.size(); ++i) {
    if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) plain += out[i];
  }
  return plain;
}

class WindowsBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("VARN_WINDOWS_BUILD");
    if (build == nullptr || *build == '\0') GTEST_SKIP() << "VARN_WINDOWS_BUILD is not set";
    const fs::path exe = fs::path(build) / "app" / "varn_tcp_bridge.exe";
    dll_ = fs::path(build) / "sim" / "d2xx" / "ftd2xx.dll";
    ASSERT_TRUE(fs::exists(exe)) << exe;
    ASSERT_TRUE(fs::exists(dll_)) << dll_;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::current_path() / (std::string("win_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(exe, dir_ / "varn_tcp_bridge.exe");
    prefix_ = fs::current_path() / "wineprefix";
    ASSERT_TRUE(preparePrefix()) << "wineboot could not make " << prefix_;
  }
  void TearDown() override {
    bridge_.reset();
    sim_.reset();
    if (!HasFailure() && !dir_.empty()) fs::remove_all(dir_);
  }

  // One wine prefix for all these tests, made once: tests running side by side wait for
  // the first to finish making it.
  bool preparePrefix() {
    fs::create_directories(fs::current_path());
    const std::string lock = (fs::current_path() / "wineprefix.lock").string();
    const int fd = ::open(lock.c_str(), O_CREAT | O_RDWR, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return false;
    bool ok = fs::exists(prefix_ / "system.reg");
    if (!ok) {
      testsupport::Process boot({"/usr/bin/env", "wineboot", "--init"}, wineEnv(), dir_.string());
      boot.waitExit(180);
      // wineserver writes the registry files a little after wineboot returns.
      testsupport::Process settle({"/usr/bin/env", "wineserver", "--wait"}, wineEnv(), dir_.string());
      settle.waitExit(60);
      for (int i = 0; i < 300 && !fs::exists(prefix_ / "system.reg"); ++i) varn_sleep_ms(100);
      ok = fs::exists(prefix_ / "system.reg");
    }
    ::close(fd);
    return ok;
  }

  std::vector<std::string> wineEnv() const { return {"WINEPREFIX=" + prefix_.string(), "WINEDEBUG=-all"}; }

  // The program with the simulated driver beside it when `ftdiBoards` is given.
  testsupport::Process& run(const std::vector<std::string>& args, const std::string& ftdiBoards = "") {
    std::vector<std::string> env = wineEnv();
    if (!ftdiBoards.empty()) {
      fs::copy_file(dll_, dir_ / "ftd2xx.dll", fs::copy_options::overwrite_existing);
      rig::writeFile(dir_ / "boards.txt", ftdiBoards);
      // The Windows program reads it as Z:\..., wine's name for this host's root.
      env.push_back("VARNSIM_BOARDS=Z:" + (dir_ / "boards.txt").string());
    }
    std::vector<std::string> argv = {"/usr/bin/env", "wine", (dir_ / "varn_tcp_bridge.exe").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    bridge_ = std::make_unique<testsupport::Process>(argv, env, dir_.string());
    return *bridge_;
  }

  bool startSim(const std::string& address, const std::vector<std::string>& fpgas) {
    std::vector<std::string> argv = {rig::boardSimPath(), "--coe-board", address};
    for (const auto& f : fpgas) argv.insert(argv.end(), {"--coe-fpga", f});
    sim_ = std::make_unique<testsupport::Process>(argv, std::vector<std::string>{}, dir_.string());
    return sim_->waitFor("CoE board controller on", 10);
  }

  fs::path dir_, dll_, prefix_;
  std::unique_ptr<testsupport::Process> bridge_, sim_;
};

TEST_F(WindowsBridge, HelpStatusesTimerLineAndAMissingDriver) {
  testsupport::Process& help = run({"-h"});
  EXPECT_EQ(help.waitExit(60), 255) << plainOutput(help);
  EXPECT_EQ(plainOutput(help).rfind("High resolution timers enabled\nV2.1.4 Arguments:\n", 0), 0u) << plainOutput(help);

  // No driver DLL beside it and none installed: the scan says which DLL is missing and
  // the run ends as one without boards does.
  testsupport::Process& none = run({"-a"});
  EXPECT_EQ(none.waitExit(60), 0) << plainOutput(none);
  EXPECT_NE(plainOutput(none).find("ftd2xx.dll could not be loaded"), std::string::npos) << plainOutput(none);
  EXPECT_NE(plainOutput(none).find("Exiting with 0 active devices\n"), std::string::npos) << plainOutput(none);
}

TEST_F(WindowsBridge, FtdiBoardThroughTheDriverDllIsScannedIdentifiedAndEchoes) {
  const uint16_t base = rig::freePortRange(2);
  testsupport::Process& b = run({"-a", "-q", "-p", std::to_string(base)}, serialrig::kJtagUartBoard);
  ASSERT_TRUE(b.waitFor("Board 0 Device 1 Open Complete", 60)) << plainOutput(b);
  const std::string out = plainOutput(b);
  EXPECT_NE(out.find("VU9P"), std::string::npos) << out;
  EXPECT_NE(out.find("VU35P"), std::string::npos) << out;
  const std::vector<uint16_t> ports = rig::openedPorts(out);
  ASSERT_EQ(ports.size(), 2u) << out;
  for (uint16_t port : ports) {
    rig::Client c(port);
    ASSERT_TRUE(c.connected()) << port;
    const std::string text = "through the DLL " + std::to_string(port) + "\r\n";
    ASSERT_TRUE(c.send(text));
    EXPECT_EQ(c.receive(text.size(), 20), text) << plainOutput(b);
  }
  EXPECT_EQ(countOf(plainOutput(b), "Error"), 0) << plainOutput(b);
}

TEST_F(WindowsBridge, CoeBoardEchoesReportsAndRefusesXvc) {
  const std::string address = rig::freeCoeAddress();
  ASSERT_TRUE(startSim(address, {"vu35p,app=echo", "vu9p,app=echo"}));
  const uint16_t base = rig::freePortRange(2);
  testsupport::Process& b = run({"-c", address, "-k", "1", "-j", "2345", "-p", std::to_string(base)});
  ASSERT_TRUE(b.waitFor("Opened", 60, 2)) << plainOutput(b);
  EXPECT_TRUE(b.waitFor("XVC Only Supported in Linux", 20)) << plainOutput(b);
  const std::vector<uint16_t> ports = rig::openedPorts(plainOutput(b));
  ASSERT_EQ(ports.size(), 2u) << plainOutput(b);
  rig::Client c(ports[0]);
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(c.send("over the controller\r\n"));
  EXPECT_EQ(c.receive(21, 20), "over the controller\r\n") << plainOutput(b);
  // Two reports with both FPGAs' sensors.
  EXPECT_TRUE(b.waitFor("Board 0 FPGA B", 30, 2)) << plainOutput(b);
  // The board's sensors and regulators all answered (the VU9P has no carrier to read,
  // and no FTDI driver is installed: those two are expected).
  EXPECT_EQ(countOf(plainOutput(b), "Failed"), 2) << plainOutput(b);
  EXPECT_EQ(countOf(plainOutput(b), "Zarvik Info: 3\n"), 1) << plainOutput(b);
  EXPECT_EQ(countOf(plainOutput(b), "ftd2xx.dll could not be loaded"), 1) << plainOutput(b);
}

}  // namespace
