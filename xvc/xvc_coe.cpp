#include "xvc/xvc_coe.h"

#include <atomic>
#include <stdexcept>

#include "coe/coe_commands.h"
#include "coe/coe_link.h"

namespace {

// The tags of the server's requests; only the server thread takes them.
std::atomic<uint16_t> sCoEChnl{16};
// Byte 0 of every shift request: the controller's JTAG bus.
constexpr uint16_t sCoEBus = 0;
constexpr uint8_t kTdiShiftFlag = 0x20;
constexpr uint32_t kAnswerCapacity = 4096;

// Splits [startByte, startByte + bits) into requests of at most VARN_XVC_CHUNK_BITS.
template <typename Send>
void inChunks(uint32_t startByte, uint32_t bits, std::vector<uint8_t>& tdo, Send send) {
  do {
    const uint32_t n = bits < VARN_XVC_CHUNK_BITS ? bits : VARN_XVC_CHUNK_BITS;
    AppendVector(tdo, send(startByte, n));
    startByte += n / 8;
    bits -= n;
  } while (bits > 0);
}

}  // namespace

uint16_t varn_xvc_next_tag() {
  uint16_t tag = static_cast<uint16_t>(sCoEChnl.load(std::memory_order_relaxed) + 1);
  if (tag & 0x8000) tag = 16;
  sCoEChnl.store(tag, std::memory_order_relaxed);
  return tag;
}

std::vector<uint8_t> DoCoE(_VNCoELink* link, uint16_t command, const std::vector<uint8_t>& payload) {
  uint8_t answer[kAnswerCapacity];
  uint32_t answerLen = 0;
  // The request's own result is not examined: a failed one simply brings no bytes.
  VNCoELinkTransaction(link, command, varn_xvc_next_tag(), VN_COE_FLAGS, payload.data(),
                       static_cast<uint32_t>(payload.size()), nullptr, nullptr, answer, &answerLen, sizeof answer);
  if (answerLen > sizeof answer) answerLen = sizeof answer;
  return std::vector<uint8_t>(answer, answer + answerLen);
}

void AppendVector(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

std::vector<uint8_t> CoE_ShiftTMS(_VNCoELink* link, const uint8_t* tms, const uint8_t* tdi, uint32_t bits) {
  const uint32_t bytes = (bits + 7) / 8;
  std::vector<uint8_t> payload(4 + 2 * static_cast<size_t>(bytes));
  payload[0] = static_cast<uint8_t>(sCoEBus);
  payload[1] = 0x00;
  payload[2] = static_cast<uint8_t>(bits);
  payload[3] = static_cast<uint8_t>(bits >> 8);
  for (uint32_t i = 0; i < bytes; ++i) {
    payload[4 + 2 * i] = tdi[i];
    payload[5 + 2 * i] = tms[i];
  }
  return DoCoE(link, VN_COE_CMD_RAW_SHIFT, payload);
}

std::vector<uint8_t> CoE_ShiftChain(_VNCoELink* link, const uint8_t* tms, const uint8_t* tdi, uint32_t bits) {
  const uint32_t bytes = (bits + 7) / 8;
  for (uint32_t i = 0; i < bytes; ++i)
    if (tms[i] != 0) throw std::runtime_error("BUG: Using wrong API, expected tms of 0\n");
  std::vector<uint8_t> payload(4 + static_cast<size_t>(bytes));
  payload[0] = static_cast<uint8_t>(sCoEBus);
  payload[1] = kTdiShiftFlag;
  payload[2] = static_cast<uint8_t>(bits);
  payload[3] = static_cast<uint8_t>(bits >> 8);
  for (uint32_t i = 0; i < bytes; ++i) payload[4 + i] = tdi[i];
  return DoCoE(link, VN_COE_CMD_IDLE_OR_SHIFT, payload);
}

std::vector<uint8_t> varn_xvc_shift(_VNCoELink* link, const uint8_t* tms, const uint8_t* tdi, uint32_t bits) {
  const uint32_t bytes = (bits + 7) / 8;
  std::vector<uint8_t> tdo;
  tdo.reserve(bytes);
  auto raw = [&](uint32_t at, uint32_t n) { return CoE_ShiftTMS(link, tms + at, tdi + at, n); };
  auto chain = [&](uint32_t at, uint32_t n) { return CoE_ShiftChain(link, tms + at, tdi + at, n); };
  if (bits == 0) {
    AppendVector(tdo, CoE_ShiftChain(link, tms, tdi, 0));
    return tdo;
  }

  // Runs of more than VARN_XVC_LONG_RUN_BYTES zero TMS bytes ended by a non-zero byte;
  // a run that reaches the end stays with the raw shift before it.
  bool allZero = true;
  for (uint32_t i = 0; i < bytes; ++i) allZero = allZero && tms[i] == 0;
  if (allZero) {
    inChunks(0, bits, tdo, chain);
    return tdo;
  }
  uint32_t p = 0;  // bytes done
  uint32_t r = bits;
  for (uint32_t i = 0; i < bytes && r > 0;) {
    if (tms[i] != 0) {
      ++i;
      continue;
    }
    uint32_t end = i;
    while (end < bytes && tms[end] == 0) ++end;
    const uint32_t length = end - i;
    if (end < bytes && length > VARN_XVC_LONG_RUN_BYTES) {
      if (i > p) {
        const uint32_t n = 8 * (i - p) < r ? 8 * (i - p) : r;
        inChunks(p, n, tdo, raw);
        r -= n;
      }
      const uint32_t n = 8 * length < r ? 8 * length : r;
      if (n > 0) inChunks(i, n, tdo, chain);
      r -= n;
      p = end;
    }
    i = end;
  }
  if (r > 0) inChunks(p, r, tdo, raw);
  return tdo;
}
