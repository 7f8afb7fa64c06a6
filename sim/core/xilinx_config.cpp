#include "sim/core/xilinx_config.h"

#include <cstdio>

#include "sim/core/crc.h"

namespace varnsim {

using namespace xcfg;

const char* cfgErrorName(CfgError e) {
  switch (e) {
    case CfgError::None: return "none";
    case CfgError::IdcodeMismatch: return "IDCODE mismatch";
    case CfgError::FramesBeforeId: return "frame data before IDCODE";
    case CfgError::BadHeader: return "bad packet header";
    case CfgError::Type2WithoutType1: return "type-2 packet without type-1";
    case CfgError::CrcMismatch: return "CRC mismatch";
    case CfgError::NoDownstream: return "SLR forwarding with no SLR below";
    case CfgError::NoKey: return "encrypted stream without a key";
  }
  return "?";
}

void ConfigLogic::reset() {
  ConfigLogic fresh(expected_);
  fresh.down_ = down_;
  fresh.key_ = key_;
  *this = fresh;
}

void ConfigLogic::fail(CfgError e, uint32_t w) {
  if (err_ == CfgError::None) {
    err_ = e;
    errWord_ = w;
  }
  st_ = St::Error;
}

void ConfigLogic::feedBit(bool b) {
  if (st_ == St::Error) return;
  if (st_ == St::Hunt) {
    hunt_ = (hunt_ << 1) | (b ? 1u : 0u);
    if (hunt_ == kSyncWord) {
      st_ = St::Header;
      acc_ = 0;
      nbits_ = 0;
      hunt_ = 0;
    }
    return;
  }
  acc_ = (acc_ << 1) | (b ? 1u : 0u);
  if (++nbits_ >= 32) {
    nbits_ -= 32;
    word(static_cast<uint32_t>(acc_ >> nbits_));
  }
}

void ConfigLogic::feedWord(uint32_t w) {
  if (st_ == St::Hunt || nbits_ != 0) {
    for (int k = 31; k >= 0; --k) feedBit(((w >> k) & 1) != 0);
    return;
  }
  if (st_ != St::Error) word(w);
}

void ConfigLogic::word(uint32_t w) {
  ++words_;
  if (decrypt_) w ^= ks_.next();
  switch (st_) {
    case St::Header: header(w); break;
    case St::Data:
      write(reg_, w);
      if (st_ == St::Data && --remaining_ == 0) st_ = St::Header;
      break;
    case St::Forward:
      down_->feedWord(w);
      if (--remaining_ == 0) st_ = St::Header;
      break;
    default: break;
  }
}

void ConfigLogic::header(uint32_t w) {
  const uint32_t type = w >> 29;
  const uint32_t op = (w >> 27) & 3;
  if (type == 1) {
    const uint32_t reg = (w >> 13) & 0x1F;
    const uint32_t count = w & 0x7FF;
    if (op == 0) return;  // NOOP
    if (op == 3) return fail(CfgError::BadHeader, w);
    reg_ = reg;
    haveType1_ = true;
    lastWasWrite_ = op == 2;
    if (op == 1) return;  // a read: its data leaves through CFG_OUT, nothing follows here
    if (count == 0) return;
    if (reg == kRegSlrForward) {
      if (!down_) return fail(CfgError::NoDownstream, w);
      st_ = St::Forward;
    } else {
      st_ = St::Data;
    }
    remaining_ = count;
    return;
  }
  if (type == 2) {
    if (!haveType1_) return fail(CfgError::Type2WithoutType1, w);
    const uint32_t count = w & 0x07FFFFFF;
    if (!lastWasWrite_ || count == 0) return;
    if (reg_ == kRegSlrForward) {
      if (!down_) return fail(CfgError::NoDownstream, w);
      st_ = St::Forward;
    } else {
      st_ = St::Data;
    }
    remaining_ = count;
    return;
  }
  fail(CfgError::BadHeader, w);
}

void ConfigLogic::write(uint32_t reg, uint32_t w) {
  if (reg == kRegFdri) {
    // The hot path: frame data, most of every stream.
    if (!idOk_) return fail(CfgError::FramesBeforeId, w);
    crc_ = crc32cConfigWord(crc_, reg, w);
    ++fdri_;
    return;
  }
  if (reg != kRegCrc) crc_ = crc32cConfigWord(crc_, reg, w);
  switch (reg) {
    case kRegCrc:
      if (w != crc_) return fail(CfgError::CrcMismatch, w);
      break;
    case kRegIdcode:
      if (((w ^ expected_) & 0x0FFFFFFF) != 0) return fail(CfgError::IdcodeMismatch, w);
      idOk_ = true;
      break;
    case kRegMask: mask_ = w; break;
    case kRegCtl0:
      ctl0_ = (ctl0_ & ~mask_) | (w & mask_);
      if ((ctl0_ & kCtl0Decrypt) && !decrypt_) {
        if (!key_) return fail(CfgError::NoKey, w);
        decrypt_ = true;
        ks_ = KeyStream(key_);
      }
      break;
    case kRegAxss:
      hasAxss_ = true;
      axss_ = w;
      break;
    case kRegCmd:
      switch (w & 0x1F) {
        case kCmdRcrc: crc_ = 0; break;
        case kCmdStart: start_ = true; break;
        case kCmdDesync:
          complete_ = idOk_ && fdri_ > 0 && start_;
          decrypt_ = false;
          st_ = St::Hunt;
          hunt_ = 0;
          break;
        default: break;
      }
      break;
    default: break;
  }
}

std::string ConfigLogic::describe() const {
  char buf[160];
  if (err_ != CfgError::None) {
    std::snprintf(buf, sizeof buf, "error: %s (word 0x%08X, after %llu words, %llu frame words)",
                  cfgErrorName(err_), errWord_, static_cast<unsigned long long>(words_),
                  static_cast<unsigned long long>(fdri_));
  } else {
    std::snprintf(buf, sizeof buf, "%s, %llu words parsed, %llu frame words%s%s",
                  complete_ ? "stream complete" : (synced() ? "synced" : "waiting for sync"),
                  static_cast<unsigned long long>(words_), static_cast<unsigned long long>(fdri_),
                  idOk_ ? ", IDCODE ok" : "", start_ ? ", START seen" : "");
  }
  return buf;
}

}  // namespace varnsim
