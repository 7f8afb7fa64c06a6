// The two matchers that look at the first bytes of a .bit file: the configuration
// packet that writes the IDCODE register, and the "ENCRYPT=Y ... xcvu" marker of an
// encrypted bitstream, whose part characters stand in for the missing IDCODE.
#pragma once

#include <cstdint>

constexpr uint32_t VARN_BIT_SCAN_LIMIT = 1024;

class BitHeaderScan {
 public:
  // Feeds the next byte to both matchers (identification first). Returns true once
  // either has completed; later bytes change nothing.
  bool feed(uint8_t byte);

  bool identified() const { return idPos_ == kIdDone; }
  bool encrypted() const { return encPhase_ == kEncDone; }
  // What the identification matcher has assembled so far, most significant byte first.
  uint32_t idcode() const { return idcode_; }
  // The three characters after "xcvu", NUL-terminated.
  const char* partChars() const { return part_; }

 private:
  static constexpr int kIdDone = 8;  // 4 pattern bytes, then 4 IDCODE bytes
  enum : int { kEncMarker = 0, kEncPrefix = 1, kEncPart = 2, kEncDone = 3 };

  void feedId(uint8_t byte);
  void feedEnc(uint8_t byte);

  int idPos_ = 0;
  uint32_t idcode_ = 0;
  int encPhase_ = kEncMarker;
  int encPos_ = 0;
  char part_[4] = {};
};

// The IDCODE (version field zero) of an encrypted part by its three characters after
// "xcvu"; false when no row matches.
bool varn_bit_encrypted_part_idcode(const char part[3], uint32_t* idcode);
