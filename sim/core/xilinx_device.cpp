#include "sim/core/xilinx_device.h"

#include <cstdio>

namespace varnsim {

using namespace xinst;

XilinxDevice::XilinxDevice(const DeviceConfig& cfg, DesignFactory factory)
    : TapDevice(cfg.part->irLength),
      cfg_(cfg),
      slrs_(cfg.part->slrs),
      design_(std::move(factory), cfg.design),
      usercode_(0xFFFFFFFF) {
  for (int s = 0; s < slrs_; ++s) {
    config_[s].setExpectedIdcode(cfg_.part->slrIdcodes[s]);
    config_[s].setKey(cfg_.aesKey);
    config_[s].setDownstream(s + 1 < slrs_ ? &config_[s + 1] : nullptr);
    sysmon_[s].setTemp(cfg_.temp[s]);
    sysmon_[s].setVccint(cfg_.vccint[s]);
    sysmon_[s].setVccaux(cfg_.vccaux[s]);
    sysmon_[s].setVccbram(cfg_.vccbram[s]);
  }
  if (cfg_.preconfigured) {
    done_ = true;
    usercode_ = cfg_.usercode;
    design_.load();
  }
}

uint64_t XilinxDevice::everySlr(uint32_t code) const {
  uint64_t v = 0;
  for (int s = 0; s < slrs_; ++s) v = (v << 6) | (code & 0x3F);
  return v;
}

void XilinxDevice::settle() {
  if (!initDone_ && tcks() >= hcEnd_) initDone_ = true;
  if (done_ || !inJstart_) return;
  uint64_t progress = startupAcc_ + (idleTcks() - startMark_);
  if (progress < cfg_.startupTcks) return;
  for (int s = 0; s < slrs_; ++s)
    if (!config_[s].complete()) return;
  becomeDone();
}

void XilinxDevice::becomeDone() {
  done_ = true;
  usercode_ = config_[0].hasAxss() ? config_[0].axss() : cfg_.usercode;
  design_.load();
}

void XilinxDevice::program() {
  ++programs_;
  done_ = false;
  design_.clear();
  usercode_ = 0xFFFFFFFF;
  startupAcc_ = 0;
  for (int s = 0; s < slrs_; ++s) config_[s].reset();
  hcEnd_ = tcks() + cfg_.housecleanTcks;
  initDone_ = cfg_.housecleanTcks == 0;
}

uint64_t XilinxDevice::captureIR() {
  settle();
  uint32_t g = 0x01;                    // bit 0 one, bit 1 zero
  if (done_) g |= 0x04 | 0x20;          // ISC_DONE, DONE
  if (initDone_) g |= 0x10;             // INIT_COMPLETE
  return everySlr(g);
}

void XilinxDevice::leaveInstruction() {
  settle();
  if (inJstart_) {
    startupAcc_ += idleTcks() - startMark_;
    inJstart_ = false;
  }
}

uint64_t XilinxDevice::testLogicReset() {
  leaveInstruction();
  const uint64_t ir = everySlr(kIdcode);
  decode(ir);
  return ir;
}

void XilinxDevice::updateIR(uint64_t ir) {
  leaveInstruction();
  decode(ir);
  if (global_ && code_ == kJprogram) program();
  if (global_ && code_ == kJstart) {
    inJstart_ = true;
    startMark_ = idleTcks();
  }
}

void XilinxDevice::decode(uint64_t ir) {
  uint32_t groups[4] = {0, 0, 0, 0};
  for (int s = 0; s < slrs_; ++s) groups[s] = static_cast<uint32_t>(ir >> (6 * (slrs_ - 1 - s))) & 0x3F;
  bool allSame = true;
  for (int s = 1; s < slrs_; ++s) allSame = allSame && groups[s] == groups[0];
  const uint32_t c0 = groups[0];
  dr_ = Dr::Bypass;
  drSlr_ = 0;
  global_ = false;
  code_ = c0;
  if (allSame && (c0 == kIdcode || c0 == kBypass || c0 == kSample || c0 == kJprogram || c0 == kJstart ||
                  c0 == kJshutdown || c0 == kIscNoop)) {
    global_ = true;
    if (c0 == kIdcode || (c0 == kSample && cfg_.part->boundaryLength > 0)) {
      dr_ = Dr::Fixed;
      fixedKind_ = c0;
    }
    return;
  }
  int target = -1;
  for (int s = 0; s < slrs_; ++s) {
    if (groups[s] == kFeedThrough) continue;
    if (target >= 0) return;  // two SLRs addressed at once: bypass
    target = s;
  }
  if (target < 0) return;
  drSlr_ = target;
  code_ = groups[target];
  switch (code_) {
    case kIdcode:
    case kUsercode:
    case kFuseDna:
    case kFuseUser:
    case kFuseUser128:
    case kCfgOut:
      dr_ = Dr::Fixed;
      fixedKind_ = code_;
      break;
    case kSysmonDrp: dr_ = Dr::Sysmon; break;
    case kCfgIn: dr_ = Dr::CfgIn; break;
    case kUser1: user_ = 1; dr_ = Dr::User; break;
    case kUser2: user_ = 2; dr_ = Dr::User; break;
    case kUser3: user_ = 3; dr_ = Dr::User; break;
    case kUser4: user_ = 4; dr_ = Dr::User; break;
    default: break;
  }
}

void XilinxDevice::updateRails() {
  FpgaDesign* d = design_.get();
  for (int rail = 0; rail < 2; ++rail) {
    double v = 0;
    bool on = d && d->railVoltage(rail, &v);
    for (int s = 0; s < slrs_; ++s) sysmon_[s].setRailOverride(rail, on, v);
  }
}

void XilinxDevice::loadBoundary() {
  const int len = cfg_.part->boundaryLength;
  uint64_t words[32];
  for (auto& w : words) w = ~uint64_t{0};  // undriven pins read high through their pull-ups
  auto set = [&](int bit, bool level) {
    if (bit >= len) return;
    if (level) words[bit / 64] |= uint64_t{1} << (bit % 64);
    else words[bit / 64] &= ~(uint64_t{1} << (bit % 64));
  };
  if (len == 1858) {
    set(kBitCarrier0, cfg_.carrier & 1);
    set(kBitCarrier1, cfg_.carrier & 2);
    set(kBitSlot0, cfg_.slot & 1);
    set(kBitSlot1, cfg_.slot & 2);
    // The LEDs are design outputs, active low; unconfigured they are off.
    const uint8_t lit = done_ ? cfg_.leds : 0;
    set(kBitLedR, !(lit & 0x40));
    set(kBitLedG, !(lit & 0x20));
    set(kBitLedB, !(lit & 0x10));
    set(kBitLedA, !(lit & 0x08));
    set(kBitLedBb, !(lit & 0x04));
    set(kBitLedC, !(lit & 0x02));
    set(kBitLedD, !(lit & 0x01));
  }
  ring_.load(static_cast<size_t>(len), words, 32);
}

void XilinxDevice::captureDR() {
  settle();
  switch (dr_) {
    case Dr::Bypass: bypass_ = false; return;
    case Dr::Sysmon:
      updateRails();
      ring_.loadValue(32, sysmon_[drSlr_].capture());
      return;
    case Dr::User:
      if (FpgaDesign* d = design_.get(); d && drSlr_ == 0) d->capture(user_);
      else bypass_ = false;
      return;
    case Dr::CfgIn: return;
    case Dr::Fixed: break;
  }
  switch (fixedKind_) {
    case kIdcode: {
      uint32_t id = global_ ? cfg_.part->idcode : cfg_.part->slrIdcodes[drSlr_];
      ring_.loadValue(32, (uint64_t{cfg_.version} << 28) | (id & 0x0FFFFFFF));
      break;
    }
    case kUsercode: ring_.loadValue(32, usercode_); break;
    case kFuseDna: {
      const uint32_t* w = cfg_.dna[drSlr_].w;
      uint64_t words[2] = {w[0] | (uint64_t{w[1]} << 32), w[2]};
      ring_.load(96, words, 2);
      break;
    }
    case kFuseUser: ring_.loadValue(32, drSlr_ == 0 ? cfg_.fuseUser : 0); break;
    case kFuseUser128: {
      uint64_t zero[2] = {0, 0};
      ring_.load(128, drSlr_ == 0 ? cfg_.fuse128 : zero, 2);
      break;
    }
    case kSample: loadBoundary(); break;
    default: ring_.loadValue(32, 0); break;  // CFG_OUT: readback is not modelled
  }
}

bool XilinxDevice::drOut() const {
  switch (dr_) {
    case Dr::Bypass: return bypass_;
    case Dr::Fixed:
    case Dr::Sysmon: return ring_.out();
    case Dr::User:
      if (FpgaDesign* d = design_.get(); d && drSlr_ == 0) return d->tdo(user_);
      return bypass_;
    case Dr::CfgIn: return false;
  }
  return false;
}

void XilinxDevice::shiftDR(bool tdi) {
  switch (dr_) {
    case Dr::Bypass: bypass_ = tdi; return;
    case Dr::Fixed:
    case Dr::Sysmon: ring_.shift(tdi); return;
    case Dr::User:
      if (FpgaDesign* d = design_.get(); d && drSlr_ == 0) d->shift(user_, tdi);
      else bypass_ = tdi;
      return;
    case Dr::CfgIn:
      if (cfgGate()) config_[drSlr_].feedBit(tdi);
      return;
  }
}

uint8_t XilinxDevice::shiftDRByte(uint8_t tdi) {
  if (dr_ == Dr::CfgIn) {
    // Configuration data: each wire byte carries bit 0 first, the logic wants bit 7 first.
    if (cfgGate()) config_[drSlr_].feedByte(reverseBits(tdi));
    return 0;
  }
  if (dr_ == Dr::Bypass) {
    uint8_t out = static_cast<uint8_t>((tdi << 1) | (bypass_ ? 1 : 0));
    bypass_ = (tdi & 0x80) != 0;
    return out;
  }
  return TapDevice::shiftDRByte(tdi);
}

void XilinxDevice::updateDR() {
  settle();
  switch (dr_) {
    case Dr::Sysmon: sysmon_[drSlr_].update(static_cast<uint32_t>(ring_.value(0, 32))); break;
    case Dr::User:
      if (FpgaDesign* d = design_.get(); d && drSlr_ == 0) d->update(user_);
      break;
    default: break;
  }
}

uint64_t XilinxDevice::frameWords() const {
  uint64_t n = 0;
  for (int s = 0; s < slrs_; ++s) n += config_[s].fdriWords();
  return n;
}

CfgError XilinxDevice::configError(int* slr) const {
  for (int s = 0; s < slrs_; ++s)
    if (config_[s].error() != CfgError::None) {
      if (slr) *slr = s;
      return config_[s].error();
    }
  return CfgError::None;
}

std::string XilinxDevice::describe() {
  settle();
  std::string s = std::string(cfg_.part->name) + (done_ ? " DONE" : " not configured");
  if (!initDone_) s += ", housecleaning";
  for (int i = 0; i < slrs_; ++i) s += "; SLR" + std::to_string(i) + ": " + config_[i].describe();
  return s;
}

}  // namespace varnsim
