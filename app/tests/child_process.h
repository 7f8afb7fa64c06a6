// A program run by an end-to-end test: its standard output and error are collected
// line by line with the time each line arrived, so tests can check both what it
// printed and when. The process is stopped (TERM, then KILL) and reaped when the
// object goes, so a failing test leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  struct Line {
    std::string text;  // with its "\n" (the last line may lack it)
    double seconds;    // since start
  };

  // argv[0] is the program path; `env` entries ("NAME=value") are added to this
  // process's environment; `dir` is the working directory.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& dir);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Waits until a line containing `needle` has arrived (true) or `timeoutSeconds`
  // passed or the output ended (false).
  bool waitFor(const std::string& needle, double timeoutSeconds);
  // Lets the program run until `seconds` since its start.
  void runUntil(double seconds);
  // TERM, then KILL after 3 s; reaps it and returns its wait status.
  int stop();

  std::vector<Line> lines();
  std::string output();  // every line, in order
  double elapsed() const;

 private:
  void readLoop(int fd);

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  uint64_t startNs_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Line> lines_;
  std::string partial_;
  bool ended_ = false;
};
