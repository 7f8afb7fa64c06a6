#include "app/log/varn_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/log/log_writer.h"
#include "app/settings/varn_settings.h"

std::mutex logMutex;

// Longer messages are cut here when queued (the console view's ring keeps less).
constexpr size_t kQueuedMessageMax = 16384;
char gLogBuffer[VARN_LOG_SLOTS][VARN_LOG_SLOT_SIZE];

void VARNLogInit() {
  std::lock_guard<std::mutex> hold(logMutex);
  for (auto& slot : gLogBuffer) slot[0] = '\0';
}

// A completed line (one holding "\n") moves up when the next message arrives;
// otherwise the message continues the newest line. vsnprintf cuts at the slot's
// end, so a slot never overflows; a slot filled to the brim counts as complete,
// or a long line without its "\n" would swallow every later message.
static void ringWrite(const char* format, va_list args) {
  char* newest = gLogBuffer[VARN_LOG_SLOTS - 1];
  size_t used = std::strlen(newest);
  if (std::strchr(newest, '\n') != nullptr || used + 1 >= static_cast<size_t>(VARN_LOG_SLOT_SIZE)) {
    std::memmove(gLogBuffer[0], gLogBuffer[1], sizeof(gLogBuffer[0]) * (VARN_LOG_SLOTS - 1));
    std::vsnprintf(newest, VARN_LOG_SLOT_SIZE, format, args);
    return;
  }
  std::vsnprintf(newest + used, VARN_LOG_SLOT_SIZE - used, format, args);
}

// With the writer running, the text is formatted once and queued for the console
// (unless the ring takes it) and, when asked, for the file.
static void emitQueued(const char* format, va_list args, bool toFile) {
  char text[kQueuedMessageMax];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (n < 0) return;
  size_t len = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
  if (gUseGUI) ringWrite(format, args);
  varnLogQueue(text, len, !gUseGUI, toFile && logFile != nullptr);
}

static void emit(const char* format, va_list args) {
  if (gUseGUI) {
    ringWrite(format, args);
  } else {
    std::vfprintf(stdout, format, args);
  }
}

void VARNLog(const char* format, ...) {
  FILE* file;
  {
    std::lock_guard<std::mutex> hold(logMutex);
    va_list args;
    va_start(args, format);
    if (varnLogQueued()) {
      emitQueued(format, args, true);
      va_end(args);
      return;
    }
    emit(format, args);
    va_end(args);
    file = logFile;
    if (file) {
      va_start(args, format);
      std::vfprintf(file, format, args);
      va_end(args);
    }
  }
  // Seeking to the end pushes the buffered text out to the file.
  if (file) std::fseek(file, 0, SEEK_END);
}

int VARNLogNL(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (varnLogQueued()) {
    emitQueued(format, args, false);
  } else {
    emit(format, args);
  }
  va_end(args);
  return 0;
}
