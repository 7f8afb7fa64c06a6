// A program run by a test (the real varn_tcp_bridge, varn_board_sim, varn_bitgen, the
// demo script): its standard output and error are collected line by line with the time
// each line arrived, and, when a file is named, copied to that file as they come. The
// program runs in its own process group and dies with the test process; it and anything
// it started are stopped (TERM, then KILL after 3 s) and reaped when the object goes,
// so a failing test leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// The words that must come before `program` to start it: the emulator of a cross build
// for a program of the build tree, nothing otherwise.
std::vector<std::string> emulatorFor(const std::string& program);

class Process {
 public:
  struct Line {
    std::string text;  // with its "\n" (the last line may lack it)
    double seconds;    // since start
  };

  // argv[0] is the program path; `env` entries ("NAME=value") are added to this
  // process's environment; `dir` is the working directory; `copyTo` (may be empty)
  // receives the output too.
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& dir,
          const std::string& copyTo = "");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool running();

  // Waits until `needle` appears `times` times in the output (true), or the output
  // ended, or `seconds` passed (false).
  bool waitFor(const std::string& needle, double seconds, int times = 1);
  // Waits for the program to end by itself: its exit status (128 + signal when a
  // signal ended it), or -1 after `seconds`.
  int waitExit(double seconds);
  // Lets the program run until `seconds` since its start.
  void runUntil(double seconds);
  // TERM to the group, then KILL after 3 s; reaps it and returns its wait status.
  int stop();
  // Sends a signal to the program alone (SIGSTOP/SIGCONT to freeze a peer).
  void signal(int sig);
  // CPU time the program has used so far, user and system, in seconds.
  double cpuSeconds() const;

  std::vector<Line> lines();
  std::string output();  // everything so far, in order
  double elapsed() const;

 private:
  void readLoop(int fd);
  void reap(int options);

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  uint64_t startNs_ = 0;
  FILE* copy_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Line> lines_;
  std::string text_;     // everything, as it came
  std::string partial_;  // the line still being written
  bool ended_ = false;
};

// Occurrences of `needle` in `text`.
int countOf(const std::string& text, const std::string& needle);

}  // namespace testsupport
