// The Stratix 10 Secure Device Manager as JTAG reaches it.
//
// Mailbox. Command words arrive through a 34-bit register (data in bits 0-31, a tag in
// bits 32-33): tag 0 marks a filler word (dropped), tag 1 a word of the command being
// assembled, tag 2 its last word (the command then runs), tag 3 aborts whatever is
// pending. The first word kept is the command header: [27:24] ID, [23:12] argument
// count, [11:0] command code. Response words leave through another 34-bit register,
// one per scan, status in bits 0-1 and data in bits 2-33: 0 nothing to read, 1 a word
// with more to follow, 2 end of a response without data, 3 the last word. A response
// is its header ([27:24] ID, [23:12] data words, [10:0] error code) and then its data;
// one without data ends with an end marker. Commands: 0x000 NOOP, 0x001 ECHO,
// 0x004 CONFIG_STATUS (7 words), 0x005 program start (header, end marker, then one
// last word: data 0 = ready for the stream), 0x012 GET_CHIPID (2 words),
// 0x018 GET_VOLTAGE (a word per channel bit, volts 16.16), 0x019 GET_TEMPERATURE
// (a word per channel bit, degrees 24.8). Voltage channels: 2 VCCINT, 3 VCCAUX,
// 4 VCCPT, 6 VCCBRAM; temperature channel 0 the core.
//
// Configuration stream. After a good program start the SDM takes the .rbf (see
// rbf_format.h) in whole 32-bit words; the status register reports bytes taken,
// busy and failure.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/core/device_config.h"

namespace varnsim {

struct SdmStream {
  uint32_t taken = 0;     // bytes accepted, whole words only
  uint32_t partial = 0;   // bytes of the word being assembled
  int partialBytes = 0;
  uint32_t length = 0;    // from the header
  uint32_t crc = 0xFFFFFFFF;
  bool complete = false;
  bool failed = false;
  uint32_t errorOffset = 0;
  uint32_t errorCode = 0;

  void feed(uint8_t b, uint32_t expectedIdcode);

 private:
  void word(uint32_t w, uint32_t expectedIdcode);
  void fail(uint32_t code) {
    failed = true;
    errorCode = code;
    errorOffset = taken;
  }
};

enum class SdmState { Idle, Receiving, Configured, Failed };

class Sdm {
 public:
  explicit Sdm(const DeviceConfig& cfg);

  // Mailbox registers.
  void commandWord(uint64_t raw);
  uint64_t responseWord();

  // Configuration stream.
  uint64_t statusWord();  // one read of the 37-bit status register
  bool accepting() const;
  SdmStream& stream() { return stream_; }
  // A CONFIG_IN chunk ended with good framing: keep what it delivered.
  void commitChunk();

  SdmState state() const { return state_; }
  bool configured() const { return state_ == SdmState::Configured; }
  uint64_t chunks() const { return chunks_; }
  uint64_t commands() const { return commands_; }
  uint64_t statusReads() const { return statusReads_; }

  DeviceConfig& settings() { return cfg_; }

 private:
  void execute();
  void respond(uint32_t id, uint32_t error, const std::vector<uint32_t>& data);

  DeviceConfig cfg_;
  std::vector<uint32_t> cmd_;
  bool overflow_ = false;
  std::deque<uint64_t> rsp_;
  int hold_ = 0;
  SdmState state_ = SdmState::Idle;
  SdmStream stream_;
  int busyLeft_ = 0;
  uint64_t chunks_ = 0;
  uint64_t commands_ = 0;
  uint64_t statusReads_ = 0;
};

}  // namespace varnsim
