#include "testsupport/tmux/tmux_session.h"

#include <unistd.h>

#include <atomic>
#include <sstream>

#include "app/platform/varn_platform.h"
#include "testsupport/process/process.h"

namespace testsupport {

namespace {
std::atomic<int> gSessions{0};
}

TmuxSession::TmuxSession(const std::string& shellCommand, int cols, int lines) {
  socket_ = "varn-test-" + std::to_string(getpid()) + "-" + std::to_string(gSessions++);
  bool ok = false;
  // No user configuration; the window keeps the size asked for even without a client.
  tmux({"-f", "/dev/null", "new-session", "-d", "-s", "t", "-x", std::to_string(cols), "-y", std::to_string(lines),
        shellCommand, ";", "set-option", "-g", "window-size", "manual"},
       &ok);
  started_ = ok;
}

TmuxSession::~TmuxSession() { tmux({"kill-server"}); }

std::string TmuxSession::tmux(const std::vector<std::string>& args, bool* ok) {
  std::vector<std::string> argv = {"/usr/bin/tmux", "-L", socket_};
  argv.insert(argv.end(), args.begin(), args.end());
  Process p(argv, {}, "");
  const int status = p.waitExit(20.0);
  if (ok != nullptr) *ok = status == 0;
  return status == 0 ? p.output() : std::string();
}

std::string TmuxSession::screen(bool colours) {
  if (colours) return tmux({"capture-pane", "-p", "-e", "-t", "t"});
  return tmux({"capture-pane", "-p", "-t", "t"});
}

bool TmuxSession::waitForScreen(const std::function<bool(const std::string&)>& done, double seconds,
                                std::string* last, bool colours) {
  const uint64_t end = varn_monotonic_ns() + static_cast<uint64_t>(seconds * 1e9);
  for (;;) {
    std::string s = screen(colours);
    if (last != nullptr) *last = s;
    if (done(s)) return true;
    if (varn_monotonic_ns() > end) return false;
    varn_sleep_ms(100);
  }
}

bool TmuxSession::waitForText(const std::string& needle, double seconds, std::string* last) {
  return waitForScreen([&](const std::string& s) { return s.find(needle) != std::string::npos; }, seconds, last);
}

void TmuxSession::keys(const std::vector<std::string>& names, bool literal) {
  std::vector<std::string> args = {"send-keys", "-t", "t"};
  if (literal) args.push_back("-l");
  args.insert(args.end(), names.begin(), names.end());
  tmux(args);
}

void TmuxSession::resize(int cols, int lines) {
  tmux({"resize-window", "-t", "t", "-x", std::to_string(cols), "-y", std::to_string(lines)});
}

std::vector<std::string> screenLines(const std::string& screen) {
  std::vector<std::string> lines;
  std::istringstream in(screen);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace testsupport
