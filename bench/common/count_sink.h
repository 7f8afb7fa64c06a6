// A D2XX stand-in for benchmarks of the host's own work: it takes every write, counts
// the bytes and calls, and answers every read at once with readFill bytes.
#pragma once

#include <cstdint>

namespace countsink {
struct Counters {
  uint64_t bytesWritten = 0;
  uint64_t writeCalls = 0;
  uint64_t readCalls = 0;
  // 0x00 by default; 0xFF makes instruction captures read INIT_COMPLETE and DONE, so
  // a bitstream load runs its whole path.
  uint8_t readFill = 0x00;
};
Counters& counters();
}  // namespace countsink
