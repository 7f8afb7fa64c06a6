#include "bitstream/bit_header_scan.h"

namespace {

// Type-1 write of one word to the IDCODE register.
constexpr uint8_t kIdPacket[4] = {0x30, 0x01, 0x80, 0x01};
constexpr char kMarker[] = "ENCRYPT=Y";
constexpr char kPrefix[] = "xcvu";
constexpr int kMarkerLen = sizeof kMarker - 1;
constexpr int kPrefixLen = sizeof kPrefix - 1;

}  // namespace

bool BitHeaderScan::feed(uint8_t byte) {
  if (identified() || encrypted()) return true;
  feedId(byte);
  feedEnc(byte);
  return identified() || encrypted();
}

// A byte that breaks the packet restarts the match and is not tried as its first byte.
void BitHeaderScan::feedId(uint8_t byte) {
  if (idPos_ < 4) {
    idPos_ = byte == kIdPacket[idPos_] ? idPos_ + 1 : 0;
    return;
  }
  idcode_ = (idcode_ << 8) | byte;
  ++idPos_;
}

// Same restart rule; once the marker is seen only "xcvu" is looked for.
void BitHeaderScan::feedEnc(uint8_t byte) {
  switch (encPhase_) {
    case kEncMarker:
      encPos_ = byte == static_cast<uint8_t>(kMarker[encPos_]) ? encPos_ + 1 : 0;
      if (encPos_ == kMarkerLen) {
        encPhase_ = kEncPrefix;
        encPos_ = 0;
      }
      break;
    case kEncPrefix:
      encPos_ = byte == static_cast<uint8_t>(kPrefix[encPos_]) ? encPos_ + 1 : 0;
      if (encPos_ == kPrefixLen) {
        encPhase_ = kEncPart;
        encPos_ = 0;
      }
      break;
    case kEncPart:
      part_[encPos_++] = static_cast<char>(byte);
      if (encPos_ == 3) encPhase_ = kEncDone;
      break;
    default:
      break;
  }
}

bool varn_bit_encrypted_part_idcode(const char part[3], uint32_t* idcode) {
  if (part[0] == '9' && part[1] == 'p') {
    *idcode = 0x04B31093;  // VU9P
  } else if (part[0] == '1' && part[1] == '3' && part[2] == 'p') {
    *idcode = 0x04B51093;  // VU13P
  } else if (part[0] == '3' && part[1] == '3' && part[2] == 'p') {
    *idcode = 0x04B69093;  // VU33P
  } else if (part[0] == '3' && part[1] == '5' && part[2] == 'p') {
    *idcode = 0x04B71093;  // VU35P
  } else {
    return false;
  }
  return true;
}
