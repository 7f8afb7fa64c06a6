// The Secure Device Manager mailbox of Intel Stratix 10 devices: 34-bit command words
// go into one data register, 34-bit response words are polled out of another.
#include "jtag/jtag_tables.h"
#include "jtag/tap.h"
#include "jtag/varn_jtag.h"

namespace {

constexpr uint32_t kWordBits = 34;
constexpr uint32_t kIdleClocks = 16;
constexpr int kDrainWords = 20;

enum : uint32_t { kStatusNone = 0, kStatusMore = 1, kStatusEnd = 2, kStatusLast = 3 };

void loadInstruction(VARNJtag* jtag, uint32_t device, int column) {
  const int32_t row = jtag->deviceType[device];
  const uint64_t instr = (row >= 0 && row < JTAG_DEVICE_ROWS) ? JTAG_I_MAP[row][column] : 0;
  varn_jtag_comm_load_instruction(jtag, device, instr);
}

// Every word and every poll is preceded by 16 idle clocks in IDLE (the CoE path sends
// one idle request; it refuses on its own once XVC owns the link).
void idle(VARNJtag* jtag) {
  varn_jtag_comm_tap_wait(jtag, kIdleClocks);
  varn_jtag_comm_flush(jtag);
}

// One response word, raw: bits 0-31 low word, bits 32-33 high word.
uint64_t pollWord(VARNJtag* jtag, uint32_t device, bool capture) {
  static const uint8_t zeros[5] = {};
  uint8_t out[5] = {};
  loadInstruction(jtag, device, JTAG_I_SDM_RESPONSE);
  varn_jtag_comm_move_to_state(jtag, IDLE, 0, nullptr);
  idle(jtag);
  varn_jtag_comm_tap_dr_shift(jtag, device, kWordBits, jtag->deviceCount, zeros, capture ? out : nullptr, DRUPDATE,
                              false);
  varn_jtag_comm_flush(jtag);
  uint64_t low = static_cast<uint64_t>(out[0]) | (static_cast<uint64_t>(out[1]) << 8) |
                 (static_cast<uint64_t>(out[2]) << 16) | (static_cast<uint64_t>(out[3]) << 24);
  // Bit 33 is the last bit shifted: over FTDI it arrives on the exit clock, in bit 7.
  uint64_t high = (out[4] & 0x03u) | ((out[4] >> 6) & 0x02u);
  return low | (high << 32);
}

}  // namespace

int IntelSDMCommand(VARNJtag* jtag, uint32_t device, const uint32_t* commandEntries, uint32_t* answerEntries,
                    uint32_t commandCount, uint32_t answerCapacity, uint32_t pollLimit) {
  if (jtag == nullptr || device >= static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES)) return VARN_JTAG_BAD_ARGUMENT;
  for (int i = 0; i < kDrainWords; ++i) pollWord(jtag, device, false);
  varn_jtag_comm_reset_tap(jtag);

  for (uint32_t e = 0; e < commandCount; ++e) {
    const uint32_t word = commandEntries[2 * e];
    const uint8_t bits[5] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                             static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24),
                             static_cast<uint8_t>(commandEntries[2 * e + 1] & 0x03)};
    loadInstruction(jtag, device, JTAG_I_SDM_COMMAND);
    varn_jtag_comm_move_to_state(jtag, IDLE, 0, nullptr);
    idle(jtag);
    varn_jtag_comm_tap_dr_shift(jtag, device, kWordBits, jtag->deviceCount, bits, nullptr, DRUPDATE, false);
    varn_jtag_comm_flush(jtag);
  }
  if (pollLimit == 0) return VARN_JTAG_POLL_LIMIT;

  // The program-start command's response is collected from its end marker on.
  const bool programStart = commandCount > 0 && commandEntries[0] == 5 && commandEntries[1] == 2;
  int64_t i = -1;  // the first status-1 word is the response header
  for (uint32_t poll = 0; poll < pollLimit; ++poll) {
    const uint64_t raw = pollWord(jtag, device, true);
    const uint32_t status = static_cast<uint32_t>(raw & 0x03);
    const bool inRange = i >= 0 && i < static_cast<int64_t>(answerCapacity);
    if (status == kStatusMore) {
      if (inRange) {
        answerEntries[2 * i] = static_cast<uint32_t>(raw);
        answerEntries[2 * i + 1] = static_cast<uint32_t>(raw >> 32);
      }
      ++i;
    } else if (status == kStatusLast && inRange) {
      answerEntries[2 * i] = static_cast<uint32_t>(raw);
      answerEntries[2 * i + 1] = static_cast<uint32_t>(raw >> 32);
      return 0;
    } else if (status == kStatusEnd || status == kStatusLast) {
      if (programStart && status == kStatusEnd) {
        i = 0;
        continue;
      }
      return 0;
    }
  }
  return VARN_JTAG_POLL_LIMIT;
}

int IntelSDMFlush(VARNJtag* jtag, uint32_t device, uint32_t count) {
  if (jtag == nullptr || device >= static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES)) return 0;
  for (uint32_t i = 0; i < count; ++i) pollWord(jtag, device, false);
  return 0;
}
