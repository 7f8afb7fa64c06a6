#include "app/tests/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "app/platform/varn_platform.h"

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                           const std::string& dir) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  startNs_ = varn_monotonic_ns();
  pid_ = fork();
  if (pid_ == 0) {
    // Child: its own process group, so a stop reaches anything it starts.
    setpgid(0, 0);
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid_ < 0) {
    close(pipeFds[0]);
    return;
  }
  reader_ = std::thread(&ChildProcess::readLoop, this, pipeFds[0]);
}

ChildProcess::~ChildProcess() {
  stop();
  if (reader_.joinable()) reader_.join();
}

double ChildProcess::elapsed() const { return (varn_monotonic_ns() - startNs_) / 1e9; }

void ChildProcess::readLoop(int fd) {
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    double at = elapsed();
    std::lock_guard<std::mutex> hold(mutex_);
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

bool ChildProcess::waitFor(const std::string& needle, double timeoutSeconds) {
  std::unique_lock<std::mutex> hold(mutex_);
  size_t seen = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  for (;;) {
    for (; seen < lines_.size(); ++seen)
      if (lines_[seen].text.find(needle) != std::string::npos) return true;
    if (ended_) return false;
    if (arrived_.wait_until(hold, deadline) == std::cv_status::timeout) {
      for (; seen < lines_.size(); ++seen)
        if (lines_[seen].text.find(needle) != std::string::npos) return true;
      return false;
    }
  }
}

void ChildProcess::runUntil(double seconds) {
  while (elapsed() < seconds) varn_sleep_ms(20);
}

int ChildProcess::stop() {
  if (pid_ <= 0 || reaped_) return status_;
  kill(-pid_, SIGTERM);
  for (int i = 0; i < 150; ++i) {
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
      break;
    }
    varn_sleep_ms(20);
  }
  if (!reaped_) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    reaped_ = true;
  }
  // Anything the program started in its group goes with it.
  kill(-pid_, SIGKILL);
  if (reader_.joinable()) reader_.join();
  return status_;
}

std::vector<ChildProcess::Line> ChildProcess::lines() {
  std::lock_guard<std::mutex> hold(mutex_);
  return lines_;
}

std::string ChildProcess::output() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::string all;
  for (const auto& l : lines_) all += l.text;
  return all + partial_;
}
