#include "app/discovery/scan_gate.h"

#include <condition_variable>
#include <mutex>

namespace {
std::mutex gateLock;
std::condition_variable gateOpened;
bool scanRunning = false;
}  // namespace

void VARNScanGateClose() {
  std::lock_guard<std::mutex> hold(gateLock);
  scanRunning = true;
}

void VARNScanGateOpen() {
  {
    std::lock_guard<std::mutex> hold(gateLock);
    scanRunning = false;
  }
  gateOpened.notify_all();
}

void VARNScanGateWait() {
  std::unique_lock<std::mutex> hold(gateLock);
  gateOpened.wait(hold, [] { return !scanRunning; });
}
