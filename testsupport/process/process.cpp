#include "testsupport/process/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/platform/varn_platform.h"

namespace testsupport {

int countOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

std::vector<std::string> emulatorFor(const std::string& program) {
#ifdef VARN_TEST_EMULATOR
  // A cross-built test starts cross-built programs through the emulator (this host has
  // no binfmt handler for them); the host's own tools (tmux, openFPGALoader) start as
  // they are.
  const std::string built = VARN_TEST_BUILD_DIR;
  struct stat st {};
  if (program.compare(0, built.size(), built) == 0 && ::stat(program.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      ::access(program.c_str(), X_OK) == 0) {
    std::vector<std::string> words;
    std::string all = VARN_TEST_EMULATOR, word;
    for (char c : all + ";") {
      if (c != ';') {
        word += c;
      } else if (!word.empty()) {
        words.push_back(word);
        word.clear();
      }
    }
    return words;
  }
#else
  (void)program;
#endif
  return {};
}

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& dir,
                 const std::string& copyTo) {
  if (!copyTo.empty()) copy_ = std::fopen(copyTo.c_str(), "ab");
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  startNs_ = varn_monotonic_ns();
  pid_ = fork();
  if (pid_ == 0) {
    // Its own process group, so a stop reaches anything it starts; and it goes with
    // the test process if that dies without its destructors.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    // The emulator goes before the first program of the build tree (a wrapper such as
    // prlimit may come first), and a library for that program goes to it, not to the
    // emulator.
    std::vector<std::string> full;
    std::vector<std::string> emulator;
    for (const auto& a : argv) {
      if (emulator.empty() && full.size() < argv.size()) {
        emulator = emulatorFor(a);
        if (!emulator.empty()) {
          full.push_back(emulator[0]);
          for (const auto& e : env)
            if (e.rfind("LD_PRELOAD=", 0) == 0) full.insert(full.end(), {"-E", e});
          full.insert(full.end(), emulator.begin() + 1, emulator.end());
        }
      }
      full.push_back(a);
    }
    for (const auto& e : env) {
      if (emulator.empty() || e.rfind("LD_PRELOAD=", 0) != 0) putenv(const_cast<char*>(e.c_str()));
    }
    std::vector<char*> args;
    for (const auto& a : full) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid_ < 0) {
    close(pipeFds[0]);
    return;
  }
  reader_ = std::thread(&Process::readLoop, this, pipeFds[0]);
}

Process::~Process() {
  stop();
  if (reader_.joinable()) reader_.join();
  if (copy_ != nullptr) std::fclose(copy_);
}

double Process::elapsed() const { return (varn_monotonic_ns() - startNs_) / 1e9; }

void Process::readLoop(int fd) {
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    double at = elapsed();
    if (copy_ != nullptr) {
      std::fwrite(buf, 1, static_cast<size_t>(n), copy_);
      std::fflush(copy_);
    }
    std::lock_guard<std::mutex> hold(mutex_);
    text_.append(buf, static_cast<size_t>(n));
    partial_.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      lines_.push_back({partial_.substr(0, nl + 1), at});
      partial_.erase(0, nl + 1);
    }
    arrived_.notify_all();
  }
  close(fd);
  std::lock_guard<std::mutex> hold(mutex_);
  if (!partial_.empty()) lines_.push_back({partial_, elapsed()});
  partial_.clear();
  ended_ = true;
  arrived_.notify_all();
}

void Process::reap(int options) {
  if (pid_ <= 0 || reaped_) return;
  int status = 0;
  if (waitpid(pid_, &status, options) == pid_) {
    reaped_ = true;
    status_ = status;
  }
}

bool Process::running() {
  reap(WNOHANG);
  return pid_ > 0 && !reaped_;
}

bool Process::waitFor(const std::string& needle, double seconds, int times) {
  std::unique_lock<std::mutex> hold(mutex_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  // Counted as countOf does (left to right, not overlapping), over new output only: a
  // match starting before `from` would have been found by an earlier pass.
  int found = 0;
  size_t next = 0;
  size_t from = 0;
  auto scan = [&] {
    for (size_t at = text_.find(needle, from); at != std::string::npos; at = text_.find(needle, next)) {
      ++found;
      next = at + needle.size();
    }
    from = text_.size() + 1 > needle.size() ? text_.size() + 1 - needle.size() : 0;
    if (from < next) from = next;
    return found >= times;
  };
  for (;;) {
    if (scan()) return true;
    if (ended_) return false;
    if (arrived_.wait_until(hold, deadline) == std::cv_status::timeout) return scan();
  }
}

int Process::waitExit(double seconds) {
  const uint64_t until = varn_monotonic_ns() + static_cast<uint64_t>(seconds * 1e9);
  while (running() && varn_monotonic_ns() < until) varn_sleep_ms(10);
  if (!reaped_) return -1;
  // What it wrote just before it ended may still be in the pipe: let the reader take it
  // (bounded, since something the program started may hold the pipe open).
  {
    std::unique_lock<std::mutex> hold(mutex_);
    arrived_.wait_for(hold, std::chrono::seconds(2), [this] { return ended_; });
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void Process::runUntil(double seconds) {
  while (elapsed() < seconds) varn_sleep_ms(20);
}

int Process::stop() {
  if (pid_ <= 0) return status_;
  if (!reaped_) {
    kill(-pid_, SIGCONT);  // a frozen program cannot act on TERM
    kill(-pid_, SIGTERM);
    for (int i = 0; i < 150 && running(); ++i) varn_sleep_ms(20);
    if (running()) {
      kill(-pid_, SIGKILL);
      reap(0);
    }
  }
  // Anything the program started in its group goes with it.
  kill(-pid_, SIGKILL);
  if (reader_.joinable()) reader_.join();
  return status_;
}

void Process::signal(int sig) {
  if (running()) kill(pid_, sig);
}

double Process::cpuSeconds() const {
  // Fields 14 and 15 of /proc/PID/stat, after the command name in parentheses.
  std::ifstream in("/proc/" + std::to_string(pid_) + "/stat", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string stat = text.str();
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

std::vector<Process::Line> Process::lines() {
  std::lock_guard<std::mutex> hold(mutex_);
  return lines_;
}

std::string Process::output() {
  std::lock_guard<std::mutex> hold(mutex_);
  return text_;
}

}  // namespace testsupport
