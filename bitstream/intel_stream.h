// The pieces of an Intel Stratix 10 load that are pure arithmetic: the answer of the
// configuration-stream status exchange, the adaptive chunk size, and the SDM status
// answers read after the stream.
#pragma once

#include <cstdint>

constexpr uint32_t VARN_INTEL_CHUNK_START = 2048;
constexpr uint32_t VARN_INTEL_CHUNK_MAX = 524288;
constexpr uint32_t VARN_INTEL_CHUNK_HALVE_ABOVE = 4096;
constexpr uint32_t VARN_INTEL_POLL_BUDGET = 6000;
constexpr uint32_t VARN_INTEL_STATUS_BITS = 37;
// Chunks sent in a row without the device's offset moving before the load gives up.
constexpr uint32_t VARN_INTEL_MAX_RESENDS = 64;
constexpr uint32_t VARN_INTEL_FRAMING = 8;
// The largest chunk, its framing and the trailing bit, rounded up.
constexpr uint32_t VARN_INTEL_CHUNK_BUFFER = 524302;

// Control bytes of the status exchange.
constexpr uint8_t VARN_INTEL_CTRL_START = 0x07;  // before the first chunk
constexpr uint8_t VARN_INTEL_CTRL_BUSY = 0x01;   // asking again after busy
constexpr uint8_t VARN_INTEL_CTRL_NEXT = 0x00;   // after a chunk

struct IntelStreamStatus {
  bool failed;      // captured bit 1
  bool busy;        // captured bit 0
  uint32_t offset;  // bytes the device has taken (bits 0-31, low two cleared)
};
IntelStreamStatus varn_intel_stream_status(const uint8_t captured[5]);

// The chunk size after a ready status: halved after busy (while above 4096), doubled
// otherwise (up to 524288), unchanged on the first ready status of a load.
uint32_t varn_intel_next_chunk(uint32_t chunk, bool wasBusy, bool first);

// The step-4 status answers (raw 34-bit words as (low, high) pairs, 7 entries).
struct IntelConfigStatus {
  uint32_t state;  // 0 when the SDM is content
  uint32_t nStatus, nConfig, msel, initDone, confDone;
  uint64_t errorLocation, errorDetails;
};
// Data of an answer word: the raw value above its two status bits.
inline uint64_t varn_intel_answer_data(const uint32_t* answers, int index) {
  const uint64_t raw = static_cast<uint64_t>(answers[2 * index]) | (static_cast<uint64_t>(answers[2 * index + 1]) << 32);
  return raw >> 2;
}
IntelConfigStatus varn_intel_config_status(const uint32_t answers[14]);
inline bool varn_intel_config_good(const IntelConfigStatus& s) {
  return s.state == 0 && s.initDone != 0 && s.confDone != 0;
}
