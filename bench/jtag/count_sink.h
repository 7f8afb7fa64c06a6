#pragma once

#include <cstdint>

namespace countsink {
struct Counters {
  uint64_t bytesWritten = 0;
  uint64_t writeCalls = 0;
  uint64_t readCalls = 0;
};
Counters& counters();
}  // namespace countsink
