// The configuration logic of one UltraScale+ SLR as CFG_IN feeds it: bits arrive most
// significant first, the logic hunts for the sync word on any bit boundary, then
// assembles 32-bit words and parses type-1/type-2 packets into register writes.
//
// A stream configures the SLR when, after sync, it writes an IDCODE that matches the
// SLR (mask 0x0FFFFFFF), writes frame data (FDRI), passes every CRC check, issues
// CMD START and ends with CMD DESYNC. Anything else (wrong IDCODE, frames before the
// IDCODE, a bad header, a failed CRC, an encrypted stream without the key, a stream
// cut short) leaves it unconfigured; errors stick until JPROGRAM resets the logic.
// The master SLR passes the words of a register-0x1E write (type-1 with 0 words, then
// type-2 with the count) to the next SLR down.
#pragma once

#include <cstdint>
#include <string>

#include "sim/core/xilinx_packets.h"

namespace varnsim {

enum class CfgError {
  None,
  IdcodeMismatch,     // IDCODE register write for another part
  FramesBeforeId,     // FDRI written before a matching IDCODE
  BadHeader,          // a word that is no packet header where one was due
  Type2WithoutType1,  // type-2 packet with no register to continue
  CrcMismatch,        // CRC register write that disagrees with the running CRC
  NoDownstream,       // SLR forwarding on the last SLR
  NoKey,              // encrypted stream, and the device holds no key
};

const char* cfgErrorName(CfgError e);

class ConfigLogic {
 public:
  explicit ConfigLogic(uint32_t expectedIdcode = 0) : expected_(expectedIdcode) {}

  void setExpectedIdcode(uint32_t id) { expected_ = id; }
  void setDownstream(ConfigLogic* next) { down_ = next; }
  void setKey(uint32_t key) { key_ = key; }

  // JPROGRAM: back to hunting for sync with nothing configured.
  void reset();

  void feedBit(bool b);
  // Eight bits, bit 7 first.
  void feedByte(uint8_t b) {
    if (st_ == St::Error) return;
    if (st_ == St::Hunt) {
      for (int k = 7; k >= 0; --k) feedBit(((b >> k) & 1) != 0);
      return;
    }
    acc_ = (acc_ << 8) | b;
    nbits_ += 8;
    if (nbits_ >= 32) {
      nbits_ -= 32;
      word(static_cast<uint32_t>(acc_ >> nbits_));
    }
  }
  // A whole word from the SLR above (bit 31 first).
  void feedWord(uint32_t w);

  // This SLR's own stream is complete (see above); the device checks each SLR.
  bool complete() const { return complete_ && err_ == CfgError::None; }
  bool synced() const { return st_ != St::Hunt && st_ != St::Error; }
  CfgError error() const { return err_; }
  // The word that caused the error (the IDCODE written, the bad header, ...).
  uint32_t errorWord() const { return errWord_; }
  std::string describe() const;

  uint64_t fdriWords() const { return fdri_; }
  uint64_t wordsParsed() const { return words_; }
  bool startSeen() const { return start_; }
  bool idcodeMatched() const { return idOk_; }
  // USR_ACCESS word written by the stream (AXSS register), if any.
  bool hasAxss() const { return hasAxss_; }
  uint32_t axss() const { return axss_; }

 private:
  enum class St { Hunt, Header, Data, Forward, Error };

  void word(uint32_t w);
  void header(uint32_t w);
  void write(uint32_t reg, uint32_t w);
  void fail(CfgError e, uint32_t w);

  uint32_t expected_;
  ConfigLogic* down_ = nullptr;
  uint32_t key_ = 0;

  St st_ = St::Hunt;
  uint32_t hunt_ = 0;
  uint64_t acc_ = 0;
  int nbits_ = 0;
  uint32_t reg_ = 0;        // register of the last type-1 header
  bool lastWasWrite_ = false;
  bool haveType1_ = false;
  uint32_t remaining_ = 0;  // words left in the current packet
  uint32_t crc_ = 0;
  uint32_t mask_ = 0;
  uint32_t ctl0_ = 0;
  bool decrypt_ = false;
  xcfg::KeyStream ks_{0};

  bool idOk_ = false;
  bool start_ = false;
  bool complete_ = false;
  bool hasAxss_ = false;
  uint32_t axss_ = 0;
  uint64_t fdri_ = 0;
  uint64_t words_ = 0;
  CfgError err_ = CfgError::None;
  uint32_t errWord_ = 0;
};

}  // namespace varnsim
