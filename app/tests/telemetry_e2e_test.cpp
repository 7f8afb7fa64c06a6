// The real varn_tcp_bridge against simulated boards: CoE boards behind varn_board_sim's
// board controllers, FTDI boards through the simulated D2XX library (preloaded). The
// telemetry report at its interval, byte for byte; the regulators' validity; start-up
// voltages over PMBus and over the local AXI link.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/platform/varn_platform.h"
#include "testsupport/process/process.h"

namespace {

namespace fs = std::filesystem;

// One device's line of a report, taken apart.
struct DeviceLine {
  int board = -1;
  char fpga = '?';
  unsigned long tx = 0, rx = 0;
  std::vector<std::pair<double, double>> slrs;  // temperature, VCCINT
  bool vrm = false, bram = false, hbm = false, watts = false;
  double vrmTemp = 0, vrmVolts = 0, vrmAmps = 0, bramVolts = 0, bramAmps = 0, hbmVolts = 0, hbmAmps = 0, power = 0;
  std::string text;
};

struct Report {
  double seconds = 0;  // when "Telemetry:" arrived
  std::vector<DeviceLine> devices;
};

// Prints a device line back with the report's formats: equal to what the program
// printed only if every field had the right form, order and precision.
std::string reprint(const DeviceLine& d) {
  char buf[512];
  std::string s;
  std::snprintf(buf, sizeof(buf), "Board %i FPGA %c TX %lu / RX %lu (", d.board, d.fpga, d.tx, d.rx);
  s += buf;
  for (auto [t, v] : d.slrs) {
    std::snprintf(buf, sizeof(buf), "%0.2f C %0.3f V, ", t, v);
    s += buf;
  }
  if (d.vrm) {
    std::snprintf(buf, sizeof(buf), "VRM %0.0f C, %0.3f V, %0.2f A, ", d.vrmTemp, d.vrmVolts, d.vrmAmps);
    s += buf;
  }
  if (d.bram) {
    std::snprintf(buf, sizeof(buf), "BRAMVRM %0.3f V, %0.2f A, ", d.bramVolts, d.bramAmps);
    s += buf;
  }
  if (d.hbm) {
    std::snprintf(buf, sizeof(buf), "HBMVRM %0.3f V, %0.2f A, ", d.hbmVolts, d.hbmAmps);
    s += buf;
  }
  if (d.watts) {
    std::snprintf(buf, sizeof(buf), "Total Watts: %0.2f W", d.power);
    s += buf;
  }
  return s + ")\n";
}

bool parseDevice(const std::string& line, DeviceLine* out) {
  static const std::regex head(R"(^Board (\d+) FPGA ([A-D]) TX (\d+) / RX (\d+) \()");
  static const std::regex slr(R"(^(-?[0-9.]+) C (-?[0-9.]+) V, )");
  static const std::regex vrm(R"(^VRM (-?[0-9]+) C, (-?[0-9.]+) V, (-?[0-9.]+) A, )");
  static const std::regex bram(R"(^BRAMVRM (-?[0-9.]+) V, (-?[0-9.]+) A, )");
  static const std::regex hbm(R"(^HBMVRM (-?[0-9.]+) V, (-?[0-9.]+) A, )");
  static const std::regex watts(R"(^Total Watts: (-?[0-9.]+) W)");
  std::smatch m;
  if (!std::regex_search(line, m, head)) return false;
  out->text = line;
  out->board = std::stoi(m[1]);
  out->fpga = m.str(2)[0];
  out->tx = std::stoul(m[3]);
  out->rx = std::stoul(m[4]);
  std::string rest = m.suffix();
  while (std::regex_search(rest, m, slr)) {
    out->slrs.emplace_back(std::stod(m[1]), std::stod(m[2]));
    rest = m.suffix();
  }
  if (std::regex_search(rest, m, vrm)) {
    out->vrm = true;
    out->vrmTemp = std::stod(m[1]);
    out->vrmVolts = std::stod(m[2]);
    out->vrmAmps = std::stod(m[3]);
    rest = m.suffix();
  }
  if (std::regex_search(rest, m, bram)) {
    out->bram = true;
    out->bramVolts = std::stod(m[1]);
    out->bramAmps = std::stod(m[2]);
    rest = m.suffix();
  }
  if (std::regex_search(rest, m, hbm)) {
    out->hbm = true;
    out->hbmVolts = std::stod(m[1]);
    out->hbmAmps = std::stod(m[2]);
    rest = m.suffix();
  }
  if (std::regex_search(rest, m, watts)) {
    out->watts = true;
    out->power = std::stod(m[1]);
    rest = m.suffix();
  }
  return rest == ")\n";
}

class Rack : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::current_path() / (std::string("rack_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    expectNoSanitizerReport(bridge_.get());
    expectNoSanitizerReport(sim_.get());
    bridge_.reset();
    sim_.reset();
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // A sanitized build reports on its output and carries on: make that a failure.
  static void expectNoSanitizerReport(testsupport::Process* p) {
    if (p == nullptr) return;
    p->stop();
    std::string out = p->output();
    for (const char* report : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "runtime error:"})
      EXPECT_EQ(out.find(report), std::string::npos) << out;
  }

  // varn_board_sim with these arguments; true once its `boards` controllers listen.
  bool startSim(const std::vector<std::string>& args, int boards) {
    std::vector<std::string> argv = {VARN_BOARD_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    sim_ = std::make_unique<testsupport::Process>(argv, std::vector<std::string>{}, dir_.string());
    while (sim_->elapsed() < 10) {
      int up = 0;
      for (const auto& l : sim_->lines()) up += l.text.rfind("CoE board controller on", 0) == 0;
      if (up == boards) return true;
      varn_sleep_ms(20);
    }
    ADD_FAILURE() << "varn_board_sim did not come up:\n" << sim_->output();
    return false;
  }

  // The simulated FTDI boards of `rack` (a board description), preloaded.
  std::vector<std::string> ftdiEnv(const std::string& rack) {
    std::ofstream(dir_ / "rack.txt") << rack;
    return {"VARNSIM_BOARDS=" + (dir_ / "rack.txt").string(), std::string("LD_PRELOAD=") + VARN_FTDISIM_PATH,
            // A sanitized bridge accepts the preloaded library ahead of its runtime.
            "ASAN_OPTIONS=verify_asan_link_order=0"};
  }

  testsupport::Process& startBridge(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {VARN_BRIDGE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    expectNoSanitizerReport(bridge_.get());
    bridge_ = std::make_unique<testsupport::Process>(argv, env, dir_.string());
    return *bridge_;
  }

  // The reports printed so far, each device line checked against its own reprint.
  std::vector<Report> reports() {
    std::vector<Report> out;
    auto lines = bridge_->lines();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].text != "Telemetry:\n") continue;
      Report r;
      r.seconds = lines[i].seconds;
      size_t j = i + 1;
      for (; j < lines.size() && lines[j].text != "\n"; ++j) {
        DeviceLine d;
        EXPECT_TRUE(parseDevice(lines[j].text, &d)) << "not a report line: " << lines[j].text;
        EXPECT_EQ(reprint(d), lines[j].text);
        r.devices.push_back(d);
      }
      if (j == lines.size()) break;  // cut off by the stop
      out.push_back(r);
      i = j;
    }
    return out;
  }

  int count(const std::string& line) {
    int n = 0;
    for (const auto& l : bridge_->lines()) n += l.text == line;
    return n;
  }

  fs::path dir_;
  std::unique_ptr<testsupport::Process> sim_;
  std::unique_ptr<testsupport::Process> bridge_;
};

void expectPowerFromRails(const DeviceLine& d) {
  ASSERT_TRUE(d.watts) << d.text;
  double expected = (d.vrmVolts * d.vrmAmps + d.bramVolts * d.bramAmps + (d.hbm ? d.hbmVolts * d.hbmAmps : 0) + 10) / 0.85;
  EXPECT_NEAR(d.power, expected, 0.05 + 0.001 * expected) << d.text;
}

TEST_F(Rack, CoeReportEverySecondWithEveryRegulatorItsBoardHas) {
  ASSERT_TRUE(startSim({"--coe-board", "127.0.0.121", "--coe-fpga", "vu35p", "--coe-fpga", "vu9p"}, 1));
  testsupport::Process& b = startBridge({"-c", "127.0.0.121", "-k", "0", "-p", "24100"});
  ASSERT_TRUE(b.waitFor("Activating UART Bridge for Board 0", 20)) << b.output();
  double start = b.elapsed();
  b.runUntil(start + 4.6);
  std::vector<Report> got = reports();
  ASSERT_GE(got.size(), 4u) << b.output();
  EXPECT_NEAR(got[0].seconds - start, 1.0, 0.3) << "the first report a second after the main loop starts";
  for (size_t i = 1; i < got.size(); ++i) EXPECT_NEAR(got[i].seconds - got[i - 1].seconds, 1.0, 0.25);

  // From the third report on the board thread has sampled (it starts after 1 s).
  for (size_t i = 2; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(got[i].devices.size(), 2u);
    const DeviceLine& vu35p = got[i].devices[0];
    EXPECT_EQ(vu35p.board, 0);
    EXPECT_EQ(vu35p.fpga, 'A');
    EXPECT_FALSE(vu35p.slrs.empty());
    EXPECT_TRUE(vu35p.vrm && vu35p.bram && vu35p.hbm) << vu35p.text;
    EXPECT_NEAR(vu35p.vrmVolts, 0.85, 0.01);
    EXPECT_NEAR(vu35p.vrmAmps, 40, 4);
    EXPECT_NEAR(vu35p.bramVolts, 0.85, 0.01);
    EXPECT_NEAR(vu35p.hbmVolts, 1.20, 0.01);
    EXPECT_NEAR(vu35p.hbmAmps, 8, 1);
    EXPECT_GT(vu35p.vrmTemp, 40);
    expectPowerFromRails(vu35p);
    const DeviceLine& vu9p = got[i].devices[1];
    EXPECT_EQ(vu9p.fpga, 'B');
    EXPECT_TRUE(vu9p.vrm && vu9p.bram) << vu9p.text;
    EXPECT_FALSE(vu9p.hbm) << "a VU9P module has no HBM regulator: " << vu9p.text;
    EXPECT_NEAR(vu9p.bramAmps, 3, 0.5);
    expectPowerFromRails(vu9p);
    for (const auto& d : got[i].devices)
      for (auto [t, v] : d.slrs) {
        EXPECT_GT(t, 0);
        EXPECT_LT(t, 100);
        EXPECT_NEAR(v, 0.85, 0.05);
      }
  }
}

TEST_F(Rack, DefaultIntervalReportsEveryTwoSecondsAndQuietNone) {
  ASSERT_TRUE(startSim({"--coe-board", "127.0.0.122", "--coe-fpga", "vu9p", "--coe-board", "127.0.0.123",
                        "--coe-fpga", "vu13p"},
                       2));
  {
    testsupport::Process& b = startBridge({"-c", "127.0.0.122,127.0.0.123", "-p", "24110"});
    ASSERT_TRUE(b.waitFor("Activating UART Bridge for Board 1", 20)) << b.output();
    double start = b.elapsed();
    b.runUntil(start + 4.6);
    std::vector<Report> got = reports();
    ASSERT_EQ(got.size(), 2u) << b.output();
    EXPECT_NEAR(got[0].seconds - start, 2.0, 0.3);
    EXPECT_NEAR(got[1].seconds - got[0].seconds, 2.0, 0.25);
    ASSERT_EQ(got[1].devices.size(), 2u);
    EXPECT_EQ(got[1].devices[1].board, 1);
    EXPECT_EQ(got[1].devices[1].fpga, 'A');
  }
  testsupport::Process& q = startBridge({"-c", "127.0.0.122,127.0.0.123", "-p", "24110", "-q", "-k", "0"});
  ASSERT_TRUE(q.waitFor("Activating UART Bridge for Board 1", 20)) << q.output();
  q.runUntil(q.elapsed() + 2.5);
  EXPECT_EQ(count("Telemetry:\n"), 0) << q.output();
}

TEST_F(Rack, ConsoleViewWithoutATerminalEndsWithOneLineSayingSo) {
  ASSERT_TRUE(startSim({"--coe-board", "127.0.0.126", "--coe-fpga", "vu9p"}, 1));
  testsupport::Process& b = startBridge({"-g", "-c", "127.0.0.126", "-k", "0", "-p", "24160"});
  // Standard output is a pipe here: instead of curses' own abort, the ring collected so
  // far and the reason.
  EXPECT_EQ(b.waitExit(30), 255) << b.output();
  const std::string out = b.output();
  EXPECT_TRUE(std::regex_search(
      out, std::regex("Cannot start the console view \\(-g\\): standard (input|output) is not a terminal\n$")))
      << out;
  EXPECT_NE(out.find("Adding CoE Device at 127.0.0.126\n"), std::string::npos) << out;
}

TEST_F(Rack, DeviceWithoutRegulatorsShowsOnlyItsSlrValues) {
  ASSERT_TRUE(startSim({"--coe-board", "127.0.0.124", "--coe-fpga", "vu35p,vrm=no"}, 1));
  testsupport::Process& b = startBridge({"-c", "127.0.0.124", "-k", "0", "-p", "24120"});
  ASSERT_TRUE(b.waitFor("Activating UART Bridge for Board 0", 20)) << b.output();
  b.runUntil(b.elapsed() + 3.6);
  std::vector<Report> got = reports();
  ASSERT_GE(got.size(), 3u) << b.output();
  const DeviceLine& d = got.back().devices.at(0);
  EXPECT_FALSE(d.slrs.empty());
  EXPECT_FALSE(d.vrm || d.bram || d.hbm || d.watts) << d.text;
  std::string expected = "Board 0 FPGA A TX 0 / RX 0 (";
  char buf[64];
  for (auto [t, v] : d.slrs) {
    std::snprintf(buf, sizeof(buf), "%0.2f C %0.3f V, ", t, v);
    expected += buf;
  }
  EXPECT_EQ(d.text, expected + ")\n");
}

TEST_F(Rack, StartupVoltagesOverPmbusLandInTheRegulators) {
  ASSERT_TRUE(startSim({"--coe-board", "127.0.0.125", "--coe-fpga", "vu35p", "--coe-fpga", "vu9p"}, 1));
  testsupport::Process& b = startBridge({"-c", "127.0.0.125", "-k", "0", "-p", "24130", "-v", "0.80:0.99,", "-y", "0.90",
                                 "-w", "1.25"});
  ASSERT_TRUE(b.waitFor("Activating UART Bridge for Board 0", 20)) << b.output();
  b.runUntil(b.elapsed() + 3.6);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 0 setting voltage 0.80\n"), 1);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 1 specified voltage 0.99 is out of range\n"), 1);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 0 setting BRAM voltage 0.90\n"), 1);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 1 setting BRAM voltage 0.90\n"), 1);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 0 setting HBM voltage 1.25\n"), 1);
  std::vector<Report> got = reports();
  ASSERT_GE(got.size(), 3u) << b.output();
  const DeviceLine& vu35p = got.back().devices.at(0);
  const DeviceLine& vu9p = got.back().devices.at(1);
  ASSERT_TRUE(vu35p.vrm && vu35p.bram && vu35p.hbm) << vu35p.text;
  EXPECT_NEAR(vu35p.vrmVolts, 0.80, 0.005);
  EXPECT_NEAR(vu35p.bramVolts, 0.90, 0.005);
  EXPECT_NEAR(vu35p.hbmVolts, 1.25, 0.005);
  ASSERT_TRUE(vu9p.vrm && vu9p.bram) << vu9p.text;
  EXPECT_NEAR(vu9p.vrmVolts, 0.85, 0.005) << "the out-of-range value was skipped";
  EXPECT_NEAR(vu9p.bramVolts, 0.90, 0.005);
}

const char* kZkRack = R"(
board zk clock=wall
device VU35P preconfigured=yes usercode=0x5A4B0001 app=axi family=zk
ftdi FT2232H serial=ZKE2E description="Dual RS232-HS"
channel A jtag=zk
channel B uart=zk.0
)";

TEST_F(Rack, LocalAxiOnZkPatchesOnceAndSetsStartupVoltagesThroughTheLink) {
  testsupport::Process& b = startBridge({"-a", "-x", "-k", "0", "-p", "24140", "-v", "0.82", "-y", "0.99", "-w", "1.25"},
                                ftdiEnv(kZkRack));
  ASSERT_TRUE(b.waitFor("Activating UART Bridge for Board 0", 20)) << b.output();
  EXPECT_EQ(count("Using JTAG-UART on a ZK - enabling AXI-I2C bridge\n"), 1) << b.output();
  ASSERT_TRUE(b.waitFor("VARN JTAG Board 0 Device 0 setting HBM voltage 1.25", 10)) << b.output();
  b.runUntil(b.elapsed() + 3.2);
  EXPECT_EQ(count("Patching - Module ID is 00a3\n"), 1) << b.output();
  EXPECT_EQ(count("Gen 2 Q5826 - Applying Patches\n"), 1);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 0 setting voltage 0.82\n"), 1);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 0 specified BRAM voltage 0.99 is out of range\n"), 1);
  EXPECT_EQ(count("Failed to set voltage\n"), 0);
  std::string out = b.output();
  EXPECT_LT(out.find("Gen 2 Q5826 - Applying Patches\n"), out.find("setting voltage 0.82"))
      << "the patch goes in before the command line's voltages";
  std::vector<Report> got = reports();
  ASSERT_FALSE(got.empty()) << out;
  const DeviceLine& d = got.back().devices.at(0);
  ASSERT_TRUE(d.vrm && d.bram && d.hbm) << d.text;
  EXPECT_NEAR(d.vrmVolts, 0.82, 0.01);  // the regulator holds volts * 256, truncated
  EXPECT_NEAR(d.bramVolts, 0.85, 0.01) << "the out-of-range value was skipped";
  EXPECT_NEAR(d.hbmVolts, 1.25, 0.01);
  expectPowerFromRails(d);
}

const char* kLrRack = R"(
board lr clock=wall
device VU33P preconfigured=yes usercode=0x1B000001 app=axi family=lr
ftdi FT2232H serial=LRE2E description="Dual RS232-HS"
channel A jtag=lr
channel B uart=lr.0
)";

TEST_F(Rack, LocalAxiOnLrSetsThePotentiometersWithoutPatch) {
  testsupport::Process& b = startBridge({"-a", "-u", "-x", "-k", "0", "-p", "24150", "-v", "0.80", "-w", "1.3"},
                                ftdiEnv(kLrRack));
  ASSERT_TRUE(b.waitFor("Activating UART Bridge for Board 0", 20)) << b.output();
  EXPECT_EQ(count("Using an LR - enabling AXI-I2C bridge\n"), 1) << b.output();
  ASSERT_TRUE(b.waitFor("VARN JTAG Board 0 Device 0 setting HBM voltage 1.30", 10)) << b.output();
  b.runUntil(b.elapsed() + 3.2);
  EXPECT_EQ(count("VARN JTAG Board 0 Device 0 setting voltage 0.80\n"), 1);
  EXPECT_EQ(count("Failed to set voltage\n"), 0);
  EXPECT_EQ(b.output().find("Patching"), std::string::npos) << "no ZK patch on an LR board";
  std::vector<Report> got = reports();
  ASSERT_FALSE(got.empty()) << b.output();
  const DeviceLine& d = got.back().devices.at(0);
  ASSERT_TRUE(d.vrm && d.bram && d.hbm) << d.text;
  // The potentiometers move in steps of a few millivolts.
  EXPECT_NEAR(d.vrmVolts, 0.80, 0.01);
  EXPECT_NEAR(d.hbmVolts, 1.30, 0.01);
  EXPECT_NEAR(d.bramVolts, 0.85, 0.01);
  expectPowerFromRails(d);
}

}  // namespace
