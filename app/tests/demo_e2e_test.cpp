// scripts/demo.sh as a user runs it, on its own addresses and ports: the scan, the
// ports, the telemetry report, a console answering on the first port, and nothing
// left running after it stops (by itself or on Ctrl-C).
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/platform/varn_platform.h"
#include "testsupport/process/process.h"

namespace {

namespace fs = std::filesystem;

// Processes whose command line mentions `needle` (the demo's boards' address).
std::vector<std::string> processesMentioning(const std::string& needle) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string cmd = s.str();
    for (char& c : cmd)
      if (c == '\0') c = ' ';
    if (cmd.find(needle) != std::string::npos) found.push_back(name + ": " + cmd);
  }
  return found;
}

// Sends `text` to the port and gathers what comes back within `seconds`.
std::string converse(uint16_t port, const std::string& text, double seconds) {
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) return "<no socket>";
  if (varn_connect_ipv4(s, "127.0.0.1", port) != 0) {
    varn_close_socket(s);
    return "<connect failed>";
  }
  varn_send_all(s, text.data(), text.size());
  std::string got;
  uint64_t end = varn_monotonic_ns() + static_cast<uint64_t>(seconds * 1e9);
  while (varn_monotonic_ns() < end) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    if (varn_select(s + 1, &set, nullptr, 100000) <= 0) continue;
    char buf[512];
    long n = varn_recv(s, buf, sizeof(buf));
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  varn_close_socket(s);
  return got;
}

class Demo : public ::testing::Test {
 protected:
  void SetUp() override {
    // The script starts the programs of the build as they are; a cross build's need an
    // emulator this host has no handler for.
    if (!testsupport::emulatorFor(VARN_BUILD_DIR "/app/varn_tcp_bridge").empty())
      GTEST_SKIP() << "the demo runs where its programs run natively";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::current_path() / (std::string("demo_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  testsupport::Process* run(const std::string& coe, uint16_t port, int seconds) {
    std::vector<std::string> argv = {"/bin/bash", VARN_SOURCE_DIR "/scripts/demo.sh", "--bin", VARN_BUILD_DIR,
                                     "--coe", coe, "--port", std::to_string(port), "--dir", dir_.string()};
    if (seconds > 0) {
      argv.push_back("--seconds");
      argv.push_back(std::to_string(seconds));
    }
    demo_ = std::make_unique<testsupport::Process>(argv, std::vector<std::string>{"ASAN_OPTIONS=verify_asan_link_order=0"},
                                           dir_.string());
    return demo_.get();
  }

  int count(const std::string& line) {
    int n = 0;
    for (const auto& l : demo_->lines()) n += l.text == line;
    return n;
  }

  fs::path dir_;
  std::unique_ptr<testsupport::Process> demo_;
};

TEST_F(Demo, ShowsTheScanThePortsAndTheReportThenStopsCleanly) {
  testsupport::Process* d = run("127.0.0.131,127.0.0.132", 24200, 7);
  ASSERT_TRUE(d->waitFor("nc localhost 24200", 60)) << d->output();
  std::string answer = converse(24200, "version\r\n", 1.5);
  ASSERT_TRUE(d->waitFor("Demo finished.", 30)) << d->output();
  EXPECT_EQ(d->stop(), 0);

  EXPECT_NE(answer.find("coe0-A"), std::string::npos) << "the first port's console answers: " << answer;
  EXPECT_EQ(count("Found 1 FPGAs on board 0, creating virtual TCP serial ports...\n"), 1) << d->output();
  EXPECT_EQ(count("Found 2 FPGAs on board 1, creating virtual TCP serial ports...\n"), 1);
  EXPECT_EQ(count("Found 1 FPGAs on board 2, creating virtual TCP serial ports...\n"), 1) << "the FTDI board";
  for (int p = 24200; p < 24204; ++p)
    EXPECT_EQ(count("Opened virtual TCP serial port " + std::to_string(p) + "\n"), 1) << p;
  EXPECT_EQ(count("   tcp://<hostname>:24203\n"), 1);
  EXPECT_GE(count("Telemetry:\n"), 3);
  std::string out = d->output();
  size_t last = out.rfind("Telemetry:\n");
  ASSERT_NE(last, std::string::npos);
  std::string report = out.substr(last, out.find("\n\n", last) - last);
  for (const char* fpga : {"Board 0 FPGA A TX", "Board 1 FPGA A TX", "Board 1 FPGA B TX", "Board 2 FPGA A TX"})
    EXPECT_NE(report.find(fpga), std::string::npos) << fpga << " in\n" << report;
  EXPECT_NE(report.find("HBMVRM"), std::string::npos) << report;
  EXPECT_EQ(processesMentioning("127.0.0.131"), std::vector<std::string>{});
}

TEST_F(Demo, CtrlCStopsEverything) {
  testsupport::Process* d = run("127.0.0.133,127.0.0.134", 24210, 0);
  ASSERT_TRUE(d->waitFor("nc localhost 24210", 60)) << d->output();
  ASSERT_TRUE(d->waitFor("Telemetry:", 10)) << d->output();
  // What the terminal does on Ctrl-C: SIGINT to the foreground process group.
  kill(-d->pid(), SIGINT);
  ASSERT_TRUE(d->waitFor("Demo stopped.", 15)) << d->output();
  EXPECT_EQ(d->stop(), 0);
  EXPECT_EQ(processesMentioning("127.0.0.133"), std::vector<std::string>{});
}

}  // namespace
