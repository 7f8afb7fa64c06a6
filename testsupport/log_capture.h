// Captures what the program logs (through the -f log file path) for the lifetime of
// the object, and keeps it off standard output.
#pragma once

#include <cstdio>
#include <string>

namespace varnaxitest {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string text();
  // Occurrences of `needle` in everything logged so far.
  int count(const std::string& needle);
  // Waits until `needle` was logged at least `times` times.
  bool waitFor(const std::string& needle, int times = 1, int timeoutMs = 3000);

 private:
  FILE* file_;
  FILE* savedFile_;
  bool savedGui_;
};

}  // namespace varnaxitest
