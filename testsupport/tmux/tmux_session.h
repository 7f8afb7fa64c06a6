// A real terminal for tests of full-screen programs: a tmux server of the test's own
// running one window of a given size. Keys go in with send-keys; the screen comes back
// with capture-pane, as text or with its colours as escape sequences.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class TmuxSession {
 public:
  // Starts `shellCommand` (run by sh) in a cols x lines window. started() tells
  // whether tmux came up.
  TmuxSession(const std::string& shellCommand, int cols, int lines);
  // Ends the server, and with it the window's processes (SIGHUP).
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  bool started() const { return started_; }
  // The visible screen, one line per row; with `colours`, SGR sequences included.
  std::string screen(bool colours = false);
  // Polls the screen until `done` holds (true) or `seconds` passed; `last` gets the
  // screen last seen.
  bool waitForScreen(const std::function<bool(const std::string&)>& done, double seconds, std::string* last,
                     bool colours = false);
  bool waitForText(const std::string& needle, double seconds, std::string* last);
  // send-keys: each entry a tmux key name (Down, Right, q) or, with `literal`, text.
  void keys(const std::vector<std::string>& names, bool literal = false);
  void resize(int cols, int lines);

 private:
  // Runs tmux with this session's socket; its standard output, or "" on failure.
  std::string tmux(const std::vector<std::string>& args, bool* ok = nullptr);

  std::string socket_;
  bool started_ = false;
};

// The lines of a captured screen.
std::vector<std::string> screenLines(const std::string& screen);

}  // namespace testsupport
