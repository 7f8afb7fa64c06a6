#include "sim/controller/controller_power.h"

namespace varnsim {

namespace {

DesignConfig railsOf(const SlotPowerConfig& cfg) {
  DesignConfig d;
  d.family = BoardFamily::ZK;  // regulator-fed rails, set in volts x 256
  for (int r = 0; r < 3; ++r) {
    d.railVolts[r] = cfg.railVolts[r];
    d.railAmps[r] = cfg.railAmps[r];
    d.railTempC[r] = cfg.railTempC[r];
  }
  d.vrmModuleId = cfg.moduleId;
  return d;
}

}  // namespace

VrmLayout vrmLayoutFor(uint32_t idcode) {
  switch (idcode & 0x0FFFFFFF) {
    case 0x04B69093:  // VU33P
    case 0x04B71093:  // VU35P
      return VrmLayout::Vu3xP;
    case 0x032AC0DD:  // MX2100
      return VrmLayout::Mx2100;
    default:
      return VrmLayout::TwoRail;
  }
}

bool parseVrmLayout(const std::string& text, VrmLayout* out) {
  if (text == "vu3xp") *out = VrmLayout::Vu3xP;
  else if (text == "two-rail") *out = VrmLayout::TwoRail;
  else if (text == "mx2100") *out = VrmLayout::Mx2100;
  else return false;
  return true;
}

SlotPower::SlotPower(const SlotPowerConfig& cfg) : power_(railsOf(cfg)) {
  // Page p of a regulator feeds rail pages[p] (0 VCCINT, 1 VCCBRAM, 2 VCCHBM).
  std::vector<int> pages4d, pages4f;
  switch (cfg.layout) {
    case VrmLayout::Vu3xP:
      pages4d = {0, 1};
      pages4f = {2};
      break;
    case VrmLayout::TwoRail:
      pages4d = {0};
      pages4f = {1};
      break;
    case VrmLayout::Mx2100:
      pages4d = {0, 2};
      pages4f = {1};
      break;
  }
  vrm4d_ = std::make_unique<PmbusRegulator>(power_, pages4d, true, cfg.moduleId);
  vrm4f_ = std::make_unique<PmbusRegulator>(power_, pages4f, false, 0);
}

PmbusRegulator* SlotPower::regulator(uint8_t addr7) {
  if (addr7 == 0x4D) return vrm4d_.get();
  if (addr7 == 0x4F) return vrm4f_.get();
  return nullptr;
}

int SlotPower::transfer(uint8_t addr7, const uint8_t* write, size_t writeLen, uint16_t readCount,
                        std::vector<uint8_t>* out) {
  I2cDevice* dev = regulator(addr7);
  if (!dev) return 4;
  if (writeLen > 0) {
    if (!dev->start(false)) return 4;
    for (size_t i = 0; i < writeLen; ++i) {
      if (!dev->write(write[i])) {
        dev->stop();
        return 4;
      }
    }
  }
  if (readCount > 0) {
    if (!dev->start(true)) return 4;
    (void)dev->read();  // the block read's byte count
    for (uint16_t i = 0; i < readCount; ++i) out->push_back(dev->read());
  }
  dev->stop();
  return 0;
}

}  // namespace varnsim
