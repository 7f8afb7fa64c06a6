// Progress of a bitstream load in the log. The load runs on the board thread and
// only updates its progress cell, so a small watcher thread reads the cell and logs a
// line at every tenth of the way (and at least every few seconds while it runs).
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "jtag/varn_jtag.h"

class VARNLoadProgressLog {
 public:
  VARNLoadProgressLog(int board, int device, const VARNProgressCell* progress);
  ~VARNLoadProgressLog();  // stops and joins the watcher
  VARNLoadProgressLog(const VARNLoadProgressLog&) = delete;
  VARNLoadProgressLog& operator=(const VARNLoadProgressLog&) = delete;

 private:
  void run();

  int board_;
  int device_;
  const VARNProgressCell* progress_;
  std::mutex lock_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::thread watcher_;
};
