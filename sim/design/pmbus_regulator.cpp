#include "sim/design/pmbus_regulator.h"

#include <atomic>
#include <cmath>

namespace varnsim {

namespace {
std::atomic<FILE*> gWriteTrace{nullptr};
const char* const kRailNames[] = {"VCCINT", "VCCBRAM", "VCCHBM"};
}  // namespace

void setRegulatorWriteTrace(FILE* to) { gWriteTrace.store(to); }

uint16_t encodeLinear11(double value) {
  if (!(value > 0)) return 0;
  for (int e = -16; e <= 15; ++e) {
    double m = std::round(std::ldexp(value, -e));
    if (m < 2048) return static_cast<uint16_t>(((e & 0x1F) << 11) | static_cast<uint16_t>(m));
  }
  return static_cast<uint16_t>((15 << 11) | 0x7FF);
}

PmbusRegulator::PmbusRegulator(BoardPower& power, std::vector<int> pageRails, bool hasModuleId, uint16_t moduleId)
    : power_(power), pageRails_(std::move(pageRails)), hasModuleId_(hasModuleId), moduleId_(moduleId) {
  for (size_t p = 0; p < pageRails_.size(); ++p) {
    int rail = pageRails_[p];
    if (rail >= 0)
      regs_[static_cast<uint16_t>(kVoutTarget + p * kPageStride)] =
          static_cast<uint16_t>(std::lround(power_.volts(rail) * 256));
  }
}

bool PmbusRegulator::pageOf(uint16_t reg, int* page, uint16_t* base) const {
  for (size_t p = 0; p < pageRails_.size(); ++p) {
    uint16_t off = static_cast<uint16_t>(p * kPageStride);
    for (uint16_t b : {kVout, kIout, kTemp, kVoutTarget}) {
      if (reg == b + off) {
        *page = static_cast<int>(p);
        *base = b;
        return true;
      }
    }
  }
  return false;
}

uint16_t PmbusRegulator::readRegister(uint16_t reg) const {
  if (reg == kModuleId && hasModuleId_) return moduleId_;
  int page;
  uint16_t base;
  if (pageOf(reg, &page, &base) && pageRails_[page] >= 0) {
    int rail = pageRails_[page];
    switch (base) {
      case kVout: {
        long v = std::lround(power_.volts(rail) * 256);
        return static_cast<uint16_t>(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v);
      }
      case kIout:
        return encodeLinear11(power_.amps(rail));
      case kTemp: {
        double t = power_.tempC(rail);
        if (t < 0) t = 0;
        if (t > 255.99) t = 255.99;
        int whole = static_cast<int>(t);
        int frac = static_cast<int>((t - whole) * 256);
        return static_cast<uint16_t>(whole | frac << 8);
      }
      default:
        break;
    }
  }
  auto it = regs_.find(reg);
  return it == regs_.end() ? 0 : it->second;
}

void PmbusRegulator::writeRegister(uint16_t reg, uint16_t value) {
  writeLog_.emplace_back(reg, value);
  regs_[reg] = value;
  int page;
  uint16_t base;
  const bool target = pageOf(reg, &page, &base) && base == kVoutTarget && pageRails_[page] >= 0;
  if (target) power_.setVolts(pageRails_[page], value / 256.0);
  if (FILE* trace = gWriteTrace.load()) {
    if (target && pageRails_[page] < 3) {
      std::fprintf(trace, "regulator write 0x%04X = 0x%04X: %s target %.4f V\n", reg, value,
                   kRailNames[pageRails_[page]], value / 256.0);
    } else {
      std::fprintf(trace, "regulator write 0x%04X = 0x%04X\n", reg, value);
    }
    std::fflush(trace);
  }
}

bool PmbusRegulator::start(bool read) {
  if (writing_) finishWrite();  // a repeated START ends the write phase
  if (read) {
    answerPos_ = 0;
    uint16_t v = selected_ ? readRegister(selectedReg_) : 0xFFFF;
    answer_[0] = 2;
    answer_[1] = static_cast<uint8_t>(v);
    answer_[2] = static_cast<uint8_t>(v >> 8);
    return true;
  }
  writing_ = true;
  len_ = 0;
  return true;
}

bool PmbusRegulator::write(uint8_t b) {
  if (len_ >= static_cast<int>(sizeof buf_)) return false;
  buf_[len_++] = b;
  return true;
}

uint8_t PmbusRegulator::read() { return answerPos_ < 3 ? answer_[answerPos_++] : 0xFF; }

void PmbusRegulator::stop() {
  if (writing_) finishWrite();
}

void PmbusRegulator::finishWrite() {
  writing_ = false;
  if (len_ == 6 && buf_[0] == kRegisterCommand && buf_[1] == 0x04) {
    writeRegister(static_cast<uint16_t>(buf_[2] | buf_[3] << 8), static_cast<uint16_t>(buf_[4] | buf_[5] << 8));
  } else if (len_ == 3 && buf_[0] == kRegisterCommand) {
    selected_ = true;
    selectedReg_ = static_cast<uint16_t>(buf_[1] | buf_[2] << 8);
  } else if (len_ > 0) {
    ++malformed_;
  }
  len_ = 0;
}

}  // namespace varnsim
