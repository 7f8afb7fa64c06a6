#include "bitstream/intel_stream.h"

IntelStreamStatus varn_intel_stream_status(const uint8_t captured[5]) {
  const uint32_t low = static_cast<uint32_t>(captured[0]) | (static_cast<uint32_t>(captured[1]) << 8) |
                       (static_cast<uint32_t>(captured[2]) << 16) | (static_cast<uint32_t>(captured[3]) << 24);
  return IntelStreamStatus{(low & 0x2u) != 0, (low & 0x1u) != 0, low & ~0x3u};
}

uint32_t varn_intel_next_chunk(uint32_t chunk, bool wasBusy, bool first) {
  if (wasBusy) return chunk > VARN_INTEL_CHUNK_HALVE_ABOVE ? chunk / 2 : chunk;
  if (!first && chunk <= VARN_INTEL_CHUNK_MAX - 1) return chunk * 2;
  return chunk;
}

IntelConfigStatus varn_intel_config_status(const uint32_t answers[14]) {
  IntelConfigStatus s{};
  s.state = static_cast<uint32_t>(varn_intel_answer_data(answers, 0));
  const uint32_t pins = static_cast<uint32_t>(varn_intel_answer_data(answers, 2));
  s.nStatus = (pins >> 31) & 1u;
  s.nConfig = (pins >> 30) & 1u;
  s.msel = pins & 0x7u;
  const uint32_t done = static_cast<uint32_t>(varn_intel_answer_data(answers, 3));
  s.initDone = (done >> 1) & 1u;
  s.confDone = done & 1u;
  s.errorLocation = varn_intel_answer_data(answers, 4);
  s.errorDetails = varn_intel_answer_data(answers, 5);
  return s;
}
