#include "sim/core/intel_device.h"

#include "sim/core/parts.h"
#include "sim/core/rbf_format.h"

namespace varnsim {

using namespace iinst;

namespace {

uint64_t framingValue() {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t{rbf::kChunkFraming[i]} << (8 * i);
  return v;
}
const uint64_t kFraming = framingValue();

}  // namespace

IntelDevice::IntelDevice(const DeviceConfig& cfg, DesignFactory factory)
    : TapDevice(cfg.part->irLength), cfg_(cfg), sdm_(cfg), design_(std::move(factory), cfg.design) {
  if (sdm_.configured()) design_.load();
}

uint64_t IntelDevice::testLogicReset() {
  ir_ = kIdcode;
  return kIdcode;
}

void IntelDevice::captureDR() {
  switch (ir_) {
    case kIdcode:
      regLen_ = 32;
      reg_ = (uint64_t{cfg_.version} << 28) | (cfg_.part->idcode & 0x0FFFFFFF);
      break;
    case kUsercode:
      regLen_ = 32;
      reg_ = cfg_.usercode;
      break;
    case kSdmCommand:
      regLen_ = 34;
      reg_ = 0;
      bits_ = 0;
      break;
    case kSdmResponse:
      regLen_ = 34;
      reg_ = sdm_.responseWord();
      break;
    case kConfigStatus:
      regLen_ = 37;
      reg_ = sdm_.statusWord();
      break;
    case kConfigIn:
      snapshot_ = sdm_.stream();
      window_ = 0;
      synced_ = false;
      dataBits_ = 0;
      cur_ = 0;
      lastBit_ = false;
      chunkAccepted_ = sdm_.accepting();
      break;
    default: bypass_ = false; break;
  }
}

bool IntelDevice::drOut() const {
  switch (ir_) {
    case kIdcode: case kUsercode: case kSdmCommand: case kSdmResponse: case kConfigStatus:
      return (reg_ & 1) != 0;
    case kConfigIn: return false;
    default: return bypass_;
  }
}

void IntelDevice::configBit(bool b) {
  if (!synced_) {
    // Whatever precedes the framing (the bits of bypass registers on the TDI side)
    // is ignored; the framing itself is the sync.
    window_ = (window_ >> 1) | (uint64_t{b} << 63);
    if (window_ == kFraming) synced_ = true;
    return;
  }
  const uint64_t m = dataBits_;
  cur_ |= static_cast<uint8_t>(b ? 1u << (m % 8) : 0u);
  if (m % 8 == 7) {
    if (chunkAccepted_) sdm_.stream().feed(cur_, cfg_.part->idcode);
    cur_ = 0;
  }
  lastBit_ = b;
  ++dataBits_;
}

void IntelDevice::shiftDR(bool tdi) {
  switch (ir_) {
    case kIdcode: case kUsercode: case kSdmCommand: case kSdmResponse: case kConfigStatus:
      reg_ = (reg_ >> 1) | (uint64_t{tdi} << (regLen_ - 1));
      if (ir_ == kSdmCommand) ++bits_;
      return;
    case kConfigIn: configBit(tdi); return;
    default: bypass_ = tdi; return;
  }
}

uint8_t IntelDevice::shiftDRByte(uint8_t tdi) {
  if (ir_ == kConfigIn && synced_ && dataBits_ % 8 == 0) {
    if (chunkAccepted_) sdm_.stream().feed(tdi, cfg_.part->idcode);
    dataBits_ += 8;
    lastBit_ = (tdi & 0x80) != 0;
    return 0;
  }
  return TapDevice::shiftDRByte(tdi);
}

void IntelDevice::updateDR() {
  if (ir_ == kSdmCommand) {
    if (bits_ < 34) return;  // a short scan writes no command word
    const SdmState before = sdm_.state();
    sdm_.commandWord(reg_ & ((uint64_t{1} << 34) - 1));
    if (sdm_.state() == SdmState::Receiving && before != SdmState::Receiving) design_.clear();
    return;
  }
  if (ir_ != kConfigIn) return;
  const bool framed = synced_ && dataBits_ % 8 == 1 && lastBit_;
  if (framed && chunkAccepted_) {
    sdm_.commitChunk();
    if (sdm_.configured() && !design_.get()) design_.load();
    return;
  }
  sdm_.stream() = snapshot_;  // a chunk framed any other way delivers nothing
  ++rejected_;
}

}  // namespace varnsim
