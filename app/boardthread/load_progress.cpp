#include "app/boardthread/load_progress.h"

#include <chrono>

#include "app/log/varn_log.h"

namespace {
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr int kQuietPolls = 50;  // a line at least every 5 s of a slow load
}  // namespace

VARNLoadProgressLog::VARNLoadProgressLog(int board, int device, const VARNProgressCell* progress)
    : board_(board), device_(device), progress_(progress), watcher_([this] { run(); }) {}

VARNLoadProgressLog::~VARNLoadProgressLog() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  stopped_.notify_all();
  watcher_.join();
}

void VARNLoadProgressLog::run() {
  int shownTenth = 0;
  int quiet = 0;
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopped_.wait_for(hold, kPoll, [this] { return stop_; })) {
    double percent = progress_->load(std::memory_order_relaxed);
    int tenth = static_cast<int>(percent / 10.0);
    // 100 is the load's own success, reported by the board thread.
    if (percent >= 100.0) continue;
    if (tenth > shownTenth || ++quiet >= kQuietPolls) {
      shownTenth = tenth > shownTenth ? tenth : shownTenth;
      quiet = 0;
      VARNLog("VARN JTAG Board %i Device %i Bitstream Load Progress: %0.0f%%\n", board_, device_, percent);
    }
  }
}
