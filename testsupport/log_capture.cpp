#include "testsupport/log_capture.h"

#include <mutex>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "app/settings/varn_settings.h"

namespace varnaxitest {

LogCapture::LogCapture() {
  std::lock_guard<std::mutex> hold(logMutex);
  file_ = std::tmpfile();
  savedFile_ = logFile;
  savedGui_ = gUseGUI;
  logFile = file_;
  gUseGUI = true;  // the ring instead of standard output
}

LogCapture::~LogCapture() {
  std::lock_guard<std::mutex> hold(logMutex);
  logFile = savedFile_;
  gUseGUI = savedGui_;
  if (file_) std::fclose(file_);
}

std::string LogCapture::text() {
  std::lock_guard<std::mutex> hold(logMutex);
  if (!file_) return {};
  std::fflush(file_);
  long end = std::ftell(file_);
  std::string out(size_t(end > 0 ? end : 0), '\0');
  std::fseek(file_, 0, SEEK_SET);
  size_t got = std::fread(out.data(), 1, out.size(), file_);
  out.resize(got);
  std::fseek(file_, 0, SEEK_END);
  return out;
}

int LogCapture::count(const std::string& needle) {
  std::string t = text();
  int n = 0;
  for (size_t pos = t.find(needle); pos != std::string::npos; pos = t.find(needle, pos + needle.size())) ++n;
  return n;
}

bool LogCapture::waitFor(const std::string& needle, int times, int timeoutMs) {
  uint64_t deadline = varn_monotonic_ns() + uint64_t(timeoutMs) * 1000000u;
  while (count(needle) < times) {
    if (varn_monotonic_ns() > deadline) return false;
    varn_sleep_ms(2);
  }
  return true;
}

}  // namespace varnaxitest
