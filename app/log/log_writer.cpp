// The console and the -f file are written by a thread of their own, so that a sink that
// stops draining (a paused pager, a full pipe, a FIFO nobody reads) holds up nobody:
// messages wait in a bounded queue, in the order they were logged, and when the queue is
// full they are dropped and counted; the count is written once the sink has caught up.
#include "app/log/log_writer.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

namespace {

constexpr size_t kQueueBytes = size_t(1) << 20;
constexpr size_t kBatchBytes = 65536;
constexpr uint8_t kToConsole = 1, kToFile = 2;
constexpr auto kExitDrainWait = std::chrono::seconds(2);

// Guarded by logMutex. Records are a 4-byte header (length in the low 24 bits, the
// sinks in the top 8) and the text, in a ring addressed by ever-growing counters.
struct Queue {
  char ring[kQueueBytes];
  uint64_t head = 0, tail = 0;
  uint32_t dropped = 0;
  bool running = false, stopping = false;
  std::condition_variable wake, drained;
};
// Never destroyed: the writer thread may still be finishing while the process exits.
Queue& gQueue = *new Queue;

void put(const char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) gQueue.ring[(gQueue.head + i) % kQueueBytes] = data[i];
  gQueue.head += len;
}

void take(char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) data[i] = gQueue.ring[(gQueue.tail + i) % kQueueBytes];
  gQueue.tail += len;
}

void writeAll(std::FILE* f, const char* data, size_t len) {
  if (f == nullptr || len == 0) return;
  std::fwrite(data, 1, len, f);
  std::fflush(f);
}

void writerLoop() {
  static char console[kBatchBytes + kQueueBytes / 16], file[kBatchBytes + kQueueBytes / 16];
  std::unique_lock<std::mutex> lk(logMutex);
  for (;;) {
    gQueue.wake.wait(lk, [] { return gQueue.head != gQueue.tail || gQueue.dropped || gQueue.stopping; });
    if (gQueue.head == gQueue.tail && gQueue.dropped == 0) {
      gQueue.drained.notify_all();
      if (gQueue.stopping) return;
      continue;
    }
    size_t consoleLen = 0, fileLen = 0;
    while (gQueue.head != gQueue.tail && consoleLen < kBatchBytes && fileLen < kBatchBytes) {
      char header[4];
      take(header, 4);
      uint32_t word;
      std::memcpy(&word, header, 4);
      const size_t len = word & 0xFFFFFF;
      const uint8_t sinks = uint8_t(word >> 24);
      char* to = (sinks & kToConsole) ? console + consoleLen : file + fileLen;
      take(to, len);
      if (sinks & kToConsole) consoleLen += len;
      if (sinks & kToFile) {
        if (sinks & kToConsole) std::memcpy(file + fileLen, to, len);
        fileLen += len;
      }
    }
    uint32_t lost = 0;
    if (gQueue.head == gQueue.tail) {
      lost = gQueue.dropped;
      gQueue.dropped = 0;
    }
    std::FILE* logCopy = logFile;
    lk.unlock();
    if (lost) {
      // Said where the lines went missing, once the sink takes text again.
      char note[128];
      const int n = std::snprintf(note, sizeof note, "[%u log messages dropped: the output did not keep up]\n", lost);
      std::memcpy(console + consoleLen, note, size_t(n));
      consoleLen += size_t(n);
      if (logCopy) {
        std::memcpy(file + fileLen, note, size_t(n));
        fileLen += size_t(n);
      }
    }
    if (!gUseGUI) writeAll(stdout, console, consoleLen);
    writeAll(logCopy, file, fileLen);
    lk.lock();
  }
}

void stopAtExit() {
  std::unique_lock<std::mutex> lk(logMutex);
  if (!gQueue.running) return;
  gQueue.stopping = true;
  gQueue.wake.notify_all();
  // A sink that never drains again must not keep the process from ending.
  gQueue.drained.wait_for(lk, kExitDrainWait, [] { return gQueue.head == gQueue.tail && gQueue.dropped == 0; });
  gQueue.running = false;
}

}  // namespace

void VARNLogStartWriter() {
  {
    std::lock_guard<std::mutex> hold(logMutex);
    if (gQueue.running) return;
    gQueue.running = true;
  }
  std::thread(writerLoop).detach();
  std::atexit(stopAtExit);
}

bool varnLogQueued() { return gQueue.running; }

void varnLogQueue(const char* text, size_t len, bool console, bool file) {
  if (len == 0 || (!console && !file)) return;
  if (len > 0xFFFFFF) len = 0xFFFFFF;
  if (kQueueBytes - (gQueue.head - gQueue.tail) < len + 4) {
    ++gQueue.dropped;
    return;
  }
  const uint32_t word = uint32_t(len) | (uint32_t((console ? kToConsole : 0) | (file ? kToFile : 0)) << 24);
  char header[4];
  std::memcpy(header, &word, 4);
  put(header, 4);
  put(text, len);
  gQueue.wake.notify_one();
}
