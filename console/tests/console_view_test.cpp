// The console view (-g) of the real varn_tcp_bridge in a real terminal: tmux runs the
// unmodified binary against simulated boards (varn_board_sim's CoE controllers and the
// preloaded simulated D2XX library), types into it and reads its screen back.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/tests/board_rig.h"
#include "testsupport/tmux/tmux_session.h"

namespace {

using testsupport::screenLines;
using testsupport::TmuxSession;

// Columns of the '+' corners on a screen line.
std::vector<size_t> corners(const std::string& line) {
  std::vector<size_t> at;
  for (size_t i = line.find('+'); i != std::string::npos; i = line.find('+', i + 1)) at.push_back(i);
  return at;
}

// Lines that are a row of cell borders (begin with a corner).
std::vector<std::string> borderLines(const std::string& screen) {
  std::vector<std::string> out;
  for (const std::string& l : screenLines(screen)) {
    if (!l.empty() && l[0] == '+') out.push_back(l);
  }
  return out;
}

// Every "...: VCCINT target V" line of a regulator trace, as volts.
std::vector<double> vccintTargets(const std::string& trace) {
  static const std::regex target(R"(regulator write 0x[0-9A-F]+ = 0x[0-9A-F]+: VCCINT target ([0-9.]+) V)");
  std::vector<double> volts;
  for (std::sregex_iterator it(trace.begin(), trace.end(), target), end; it != end; ++it) {
    volts.push_back(std::stod((*it)[1]));
  }
  return volts;
}

class ConsoleView : public BoardRig {
 protected:
  // Runs the bridge with -g and `args` in a cols x lines terminal of type `term`
  // (with the simulated D2XX library over `ftdiBoards` when given). Its standard error
  // goes to bridge.out; status.txt and stty.txt tell how it ended and what it left of
  // the terminal.
  TmuxSession& startView(const std::vector<std::string>& args, const std::string& ftdiBoards, int cols, int lines,
                         const std::string& term = "screen") {
    std::string env = "TERM=" + term;
    std::string command;
    const std::vector<std::string> emulator = testsupport::emulatorFor(rig::bridgePath());
    for (const std::string& word : emulator) command += quote(word) + " ";
    if (!ftdiBoards.empty()) {
      rig::writeFile(dir_ / "boards.txt", ftdiBoards);
      // Under an emulator the library goes to the emulated program, not the emulator.
      env += " VARNSIM_BOARDS=" + quote((dir_ / "boards.txt").string()) +
             (emulator.empty() ? " LD_PRELOAD=" : " QEMU_SET_ENV=LD_PRELOAD=") + quote(rig::ftdiSimPath()) +
             " VARNSIM_POWER_TRACE=" + quote((dir_ / "power.trace").string()) +
             " ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0";
    }
    command += quote(rig::bridgePath()) + " -g";
    for (const std::string& a : args) command += " " + quote(a);
    for (const char* stale : {"status.txt", "stty.txt", "bridge.pid"}) rig::fs::remove(dir_ / stale);
    rig::writeFile(dir_ / "run.sh", "cd " + quote(dir_.string()) +
                                        "\n"
                                        // The bridge's own process id, for stopping it from outside.
                                        "sh -c 'echo $$ > bridge.pid; exec env \"$@\"' sh " +
                                        env + " " + command +
                                        " 2>>bridge.out\n"
                                        "echo $? > status.txt.part && mv status.txt.part status.txt\n"
                                        "stty -a > stty.txt\n"
                                        "exec sleep 600\n");
    tmux_ = std::make_unique<TmuxSession>("sh " + quote((dir_ / "run.sh").string()), cols, lines);
    EXPECT_TRUE(tmux_->started());
    return *tmux_;
  }

  // The bridge's exit status from status.txt, or -1 when it did not end within `seconds`.
  int exitStatus(double seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      std::string s = rig::readFile(dir_ / "status.txt");
      if (!s.empty()) return std::stoi(s);
      varn_sleep_ms(100);
    }
    return -1;
  }

  // Waits until `text` appears in file `name` of the test directory.
  bool waitForFile(const std::string& name, const std::string& text, double seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      if (rig::readFile(dir_ / name).find(text) != std::string::npos) return true;
      varn_sleep_ms(100);
    }
    return false;
  }

  // The terminal modes the bridge left: what a shell needs to read lines again.
  void expectTerminalUsable() {
    std::string stty;
    for (int i = 0; i < 100 && stty.empty(); ++i, varn_sleep_ms(100)) stty = rig::readFile(dir_ / "stty.txt");
    EXPECT_TRUE(std::regex_search(stty, std::regex(R"((^|\s)icanon(\s|$))"))) << stty;
    EXPECT_TRUE(std::regex_search(stty, std::regex(R"((^|\s)echo(\s|$))"))) << stty;
  }

  void TearDown() override {
    tmux_.reset();
    // A bridge that outlived its terminal is stopped here, whatever happened above.
    std::string pid = rig::readFile(dir_ / "bridge.pid");
    if (!pid.empty()) {
      pid_t p = static_cast<pid_t>(std::stol(pid));
      for (int i = 0; i < 50 && kill(p, 0) == 0; ++i) varn_sleep_ms(100);
      if (kill(p, 0) == 0) kill(p, SIGKILL);
    }
    BoardRig::TearDown();
  }

  static std::string quote(const std::string& s) { return "'" + s + "'"; }

  std::unique_ptr<TmuxSession> tmux_;
};

// The grid follows the terminal: 2 columns of 58 at 120 wide (five single-FPGA boards
// fill three rows, the last with one empty cell), 1 of 78 at 80, 16 of 50 from 818,
// each redrawn when the terminal is resized.
TEST_F(ConsoleView, GridColumnsFollowTheTerminalWidthAndItsResizes) {
  std::vector<std::vector<std::string>> boards(5, {"--coe-fpga", "vu9p"});
  std::vector<std::string> addresses = startCoeSim(boards);
  ASSERT_EQ(addresses.size(), 5u);
  std::string list = addresses[0];
  for (size_t i = 1; i < addresses.size(); ++i) list += "," + addresses[i];
  TmuxSession& t = startView({"-q", "-c", list, "-p", std::to_string(rig::freePortRange(5))}, "", 120, 50);
  std::string screen;
  // The whole grid: its last cell's title and the bottom border under it (a slow host
  // can show the screen between the two).
  ASSERT_TRUE(t.waitForScreen(
      [](const std::string& s) { return s.find("Board 4 FPGA A:") != std::string::npos && borderLines(s).size() >= 4; },
      30, &screen))
      << screen;

  std::vector<std::string> borders = borderLines(screen);
  ASSERT_EQ(borders.size(), 4u) << screen;  // three rows of cells
  for (const std::string& b : borders) EXPECT_EQ(corners(b), (std::vector<size_t>{0, 59, 118})) << b;
  for (int board = 0; board < 5; ++board) {
    const std::string& line = borders[board / 2];
    EXPECT_EQ(line.find("Board " + std::to_string(board) + " FPGA A:"), (board % 2) * 59 + 1u) << screen;
  }
  EXPECT_EQ(borders[2].find("Offline"), 60u) << screen;
  EXPECT_EQ(testsupport::countOf(screen, "Offline"), 1);
  EXPECT_EQ(testsupport::countOf(screen, "Model: 04b31093 (VU9P)"), 5) << screen;

  // Until curses redraws, the resized window still shows the old screen: wait for the
  // whole new grid.
  auto gridIs = [](const std::string& s, size_t rows, const std::vector<size_t>& at) {
    std::vector<std::string> borders = borderLines(s);
    if (borders.size() != rows + 1) return false;
    for (const std::string& b : borders)
      if (corners(b) != at) return false;
    return true;
  };
  t.resize(80, 50);
  EXPECT_TRUE(t.waitForScreen([&](const std::string& s) { return gridIs(s, 5, {0, 79}); }, 10, &screen)) << screen;
  EXPECT_EQ(testsupport::countOf(screen, "Offline"), 0) << screen;

  t.resize(818, 40);
  std::vector<size_t> want;
  for (size_t c = 0; c <= 16; ++c) want.push_back(c * 51);
  EXPECT_TRUE(t.waitForScreen([&](const std::string& s) { return gridIs(s, 1, want); }, 10, &screen)) << screen;
  EXPECT_EQ(testsupport::countOf(screen, "Offline"), 11) << screen;
}

const char* kIdentityBoard = R"(board gid
device VU9P preconfigured=yes app=echo dna=0x4123456789ABCDEF00112235 usercode=0x5A5A0001
ftdi FT232H serial=GUIVIEW1
channel A jtag=gid
)";

// A cell shows what the simulated FPGA really is, and its traffic once a client's bytes
// have gone through. The log area follows the ring with its colours, and `c` switches
// it between 10 lines and 1.
TEST_F(ConsoleView, CellShowsTheFpgaAndItsTrafficAndTheLogAreaItsColours) {
  const uint16_t mgmt = rig::freePortRange(2);
  TmuxSession& t = startView({"-a", "-q", "-p", std::to_string(mgmt + 1), "-m", "-n", std::to_string(mgmt)},
                             kIdentityBoard, 120, 40);
  std::string screen;
  const std::string title = "Board 0 FPGA A:" + std::to_string(mgmt + 1);
  ASSERT_TRUE(t.waitForText("Usr: 0x5A5A0001", 30, &screen)) << screen;
  EXPECT_NE(screen.find(title), std::string::npos) << screen;
  EXPECT_NE(screen.find("|Board Serial: GUIVIEW1 "), std::string::npos) << screen;
  EXPECT_NE(screen.find("|Model: 04b31093 (VU9P) "), std::string::npos) << screen;
  EXPECT_NE(screen.find("|DNA: 0x4123456789abcdef00112235 "), std::string::npos) << screen;
  EXPECT_NE(screen.find("|Bitstream: No Selected File Usr: 0x5A5A0001 "), std::string::npos) << screen;
  EXPECT_NE(screen.find("|Traffic (TX/RX): 0/0 "), std::string::npos) << screen;

  rig::Client client(mgmt + 1);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send("hello console"));
  EXPECT_EQ(client.receive(13, 20), "hello console");
  ASSERT_TRUE(t.waitForText("|Traffic (TX/RX): 13/13 ", 10, &screen)) << screen;

  // Log lines with each marker, sent as the names of management load requests (the
  // main loop logs each one).
  for (const char* name : {"MISSING-a", "FAIL-b", "****-c"}) {
    rig::Client m(mgmt);
    ASSERT_TRUE(m.connected());
    const std::string n(name);
    // A load request: "VNLB", the name's length, the name.
    const std::string request = "VNLB" + std::string(1, static_cast<char>(n.size())) + n;
    ASSERT_TRUE(m.send(request));
    ASSERT_TRUE(t.waitForText("Asked to load " + n, 10, &screen)) << screen;
  }
  std::string coloured;
  ASSERT_TRUE(t.waitForScreen(
      [](const std::string& s) { return s.find("Asked to load ****-c") != std::string::npos; }, 10, &coloured, true));
  auto colourOf = [&](const std::string& needle) {
    for (const std::string& l : screenLines(coloured)) {
      size_t at = l.find(needle);
      if (at == std::string::npos) continue;
      std::smatch m;
      std::string head = l.substr(0, at);
      return std::regex_search(head, m, std::regex(R"(\x1b\[3([0-7])m(?!.*\x1b\[3))")) ? std::stoi(m[1]) : -1;
    }
    return -2;
  };
  EXPECT_EQ(colourOf("Asked to load MISSING-a"), 3) << coloured;  // yellow
  EXPECT_EQ(colourOf("Asked to load FAIL-b"), 1) << coloured;     // red
  EXPECT_EQ(colourOf("Asked to load ****-c"), 2) << coloured;     // green
  EXPECT_NE(colourOf(title), 1) << coloured;

  // Ten log lines below the grid; one after `c`; ten again after another.
  auto logLines = [](const std::string& s) {
    std::vector<std::string> lines = screenLines(s);
    size_t last = 0;
    for (size_t i = 0; i < lines.size(); ++i)
      if (!lines[i].empty() && lines[i][0] == '+') last = i;
    int n = 0;
    for (size_t i = last + 1; i < lines.size(); ++i) n += lines[i].empty() ? 0 : 1;
    return n;
  };
  EXPECT_EQ(logLines(screen), 10) << screen;
  t.keys({"c"});
  ASSERT_TRUE(t.waitForScreen([&](const std::string& s) { return logLines(s) == 1; }, 10, &screen)) << screen;
  EXPECT_NE(screen.find("Asked to load ****-c"), std::string::npos) << screen;
  t.keys({"c"});
  ASSERT_TRUE(t.waitForScreen([&](const std::string& s) { return logLines(s) == 10; }, 10, &screen)) << screen;
}

// V, v and the deselect row, against the regulator's own record of its writes: the
// keys typed together reach the rail as one write of their sum; below the grid no key
// reaches any device.
void expectStepKeysWriteTheSelectedRail(TmuxSession& t, const std::function<std::string()>& trace) {
  std::string screen;
  ASSERT_TRUE(t.waitForText("|VCCINT: ", 30, &screen)) << screen;
  ASSERT_TRUE(vccintTargets(trace()).empty()) << trace();
  // The rail's start: the regulator's output register (volts x 256) as the host reads it.
  const double start = std::round(0.85 * 256) / 256;
  auto waitForWrites = [&](size_t n) {
    for (int i = 0; i < 200 && vccintTargets(trace()).size() < n; ++i) varn_sleep_ms(100);
    return vccintTargets(trace());
  };

  t.keys({"VVV"}, true);
  std::vector<double> w = waitForWrites(1);
  ASSERT_EQ(w.size(), 1u) << trace();
  EXPECT_NEAR(w[0], start + 0.03, 0.005) << trace();
  // The new level on screen means the rail was sampled again after the write.
  char shown[32];
  std::snprintf(shown, sizeof shown, " %0.2fV ", w[0]);
  ASSERT_TRUE(t.waitForText(shown, 20, &screen)) << screen;

  t.keys({"v"}, true);
  w = waitForWrites(2);
  ASSERT_EQ(w.size(), 2u) << trace();
  EXPECT_NEAR(w[1], w[0] - 0.01, 0.005) << trace();

  // Below the last row: V reaches nothing. Back on the cell, v alone goes down 10 mV
  // (had the V counted, the two would have cancelled and nothing been written).
  t.keys({"Down"});
  t.keys({"V"}, true);
  t.keys({"Up"});
  t.keys({"v"}, true);
  w = waitForWrites(3);
  ASSERT_EQ(w.size(), 3u) << trace();
  EXPECT_NEAR(w[2], w[1] - 0.01, 0.005) << trace();
  std::snprintf(shown, sizeof shown, " %0.2fV ", w[2]);
  ASSERT_TRUE(t.waitForText(shown, 20, &screen)) << screen;
  EXPECT_EQ(vccintTargets(trace()).size(), 3u) << trace();
}

TEST_F(ConsoleView, StepKeysOnACoeBoardWriteItsRegulatorOverTheController) {
  std::vector<std::string> addresses = startCoeSim({{"--verbose", "--coe-fpga", "vu9p"}});
  ASSERT_EQ(addresses.size(), 1u);
  TmuxSession& t = startView({"-q", "-c", addresses[0], "-p", std::to_string(rig::freePortRange(1))}, "", 120, 40);
  expectStepKeysWriteTheSelectedRail(t, [&] { return sim_->output(); });
}

const char* kZkLocalAxiBoard = R"(board zk clock=wall
device VU35P preconfigured=yes usercode=0x5A4B0001 app=axi family=zk
ftdi FT2232H serial=ZKGUI description="Dual RS232-HS"
channel A jtag=zk
channel B uart=zk.0
)";

TEST_F(ConsoleView, StepKeysOnALocalAxiBoardWriteItsRegulatorOverTheLink) {
  TmuxSession& t = startView({"-a", "-x", "-q", "-p", std::to_string(rig::freePortRange(1))}, kZkLocalAxiBoard, 120, 40);
  expectStepKeysWriteTheSelectedRail(t, [&] { return rig::readFile(dir_ / "power.trace"); });
}

// r asks for the selected FPGA's load again: its state moves through the progress
// percentage to done, and the device is loaded a second time.
TEST_F(ConsoleView, ReloadKeyLoadsTheSelectedFpgaAgainAndShowsItsProgress) {
  // Large enough that the load spans several redraws; under an emulator every step is
  // slower, so a smaller file spans as many.
  const bool emulated = !testsupport::emulatorFor(rig::bridgePath()).empty();
  const std::string bit =
      bitgen("vu9p.bit", {"--part", "VU9P", "--size", emulated ? "4M" : "32M", "--usercode", "0x09090002"});
  const char* board = "board gl\ndevice VU9P app=echo\nftdi FT232H serial=GUILOAD1\nchannel A jtag=gl\n";
  TmuxSession& t =
      startView({"-a", "-q", "-b", bit, "-p", std::to_string(rig::freePortRange(1)), "-f", "bridge.log"}, board, 120, 40);
  std::string screen;
  ASSERT_TRUE(t.waitForText("Bitstream: Programming Done Usr: 0x09090002", 60, &screen)) << screen;
  const char* loaded = "VARN JTAG Board 0 Device 0 Bitstream Loaded\n";
  ASSERT_TRUE(waitForFile("bridge.log", loaded, 10));

  t.keys({"r"}, true);
  // Any other key redraws at once: keep pressing one to see the load as it goes.
  static const std::regex progress(R"(\|Bitstream: Programming +[0-9]{1,3}% Usr: )");
  bool sawProgress = false, doneAgain = false;
  const uint64_t giveUp = varn_monotonic_ns() + 150 * 1000000000ull;
  for (int i = 0; i < 1200 && !doneAgain && varn_monotonic_ns() < giveUp; ++i) {
    t.keys({"x"}, true);
    screen = t.screen();
    if (std::regex_search(screen, progress)) sawProgress = true;
    doneAgain = sawProgress && screen.find("Bitstream: Programming Done") != std::string::npos;
    varn_sleep_ms(20);
  }
  EXPECT_TRUE(sawProgress) << screen;
  EXPECT_TRUE(doneAgain) << screen;
  for (int i = 0; i < 100 && testsupport::countOf(rig::readFile(dir_ / "bridge.log"), loaded) < 2; ++i) varn_sleep_ms(100);
  EXPECT_EQ(testsupport::countOf(rig::readFile(dir_ / "bridge.log"), loaded), 2) << rig::readFile(dir_ / "bridge.log");
}

// q ends the program with status 1, and a terminal without colours says so; a signal
// ends it as a signal would without the view. Either way the terminal is left as a
// shell needs it.
TEST_F(ConsoleView, QuitKeyAndSignalsGiveTheTerminalBack) {
  std::vector<std::string> addresses = startCoeSim({{"--coe-fpga", "vu9p"}});
  ASSERT_EQ(addresses.size(), 1u);
  const std::vector<std::string> args = {"-q", "-c", addresses[0], "-p", std::to_string(rig::freePortRange(1))};
  TmuxSession& plain = startView(args, "", 100, 30, "vt100");
  std::string screen;
  // The title and the notice are drawn in one pass; a slow host can show the screen
  // between the two.
  EXPECT_TRUE(plain.waitForScreen(
      [](const std::string& s) {
        return s.find("Board 0 FPGA A:") != std::string::npos && s.find("NO COLORS SUPPORTED") != std::string::npos;
      },
      30, &screen))
      << screen;
  plain.keys({"q"}, true);
  EXPECT_EQ(exitStatus(20), 1) << rig::readFile(dir_ / "bridge.out");
  expectTerminalUsable();

  TmuxSession& coloured = startView(args, "", 100, 30);
  ASSERT_TRUE(coloured.waitForText("Board 0 FPGA A:", 30, &screen)) << screen;
  EXPECT_EQ(screen.find("NO COLORS SUPPORTED"), std::string::npos) << screen;
  const std::string pid = rig::readFile(dir_ / "bridge.pid");
  ASSERT_FALSE(pid.empty());
  kill(static_cast<pid_t>(std::stol(pid)), SIGTERM);
  EXPECT_EQ(exitStatus(20), 128 + SIGTERM) << rig::readFile(dir_ / "bridge.out");
  expectTerminalUsable();
}

}  // namespace
