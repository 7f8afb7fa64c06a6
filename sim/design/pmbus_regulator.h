// A digital multi-phase regulator (Infineon-style register access) on the power bus.
// Its 16-bit registers are reached through command 0xD0:
//   write:  0xD0, 0x04, register low, register high, value low, value high
//   select: 0xD0, register low, register high   (then a repeated START and a read)
// A read after a select answers as an SMBus block read: a byte count (2), then the
// register value low byte first.
//
// Register numbers, page p at + p * 0x400:
//   0x0716 output voltage   volts x 256, unsigned
//   0x0718 output current   linear-11: bits 15..11 signed exponent, 10..0 mantissa
//   0x071A temperature      low byte whole degrees C, high byte 1/256 fractions
//   0x0642 voltage target   volts x 256; writing it moves the rail
//   0x003C module identifier (on the regulator configured with one)
// Every write is also recorded (register, value) in order for tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "sim/design/board_power.h"
#include "sim/design/i2c_bus.h"

namespace varnsim {

// PMBus linear-11 encoding of a non-negative value: the smallest exponent (from -16)
// whose mantissa fits 11 bits unsigned, so the host's unsigned-mantissa decode is exact.
uint16_t encodeLinear11(double value);

// Tests that run a simulator in another process read rail moves back from its output:
// once set, every regulator write is printed there as one line,
//   "regulator write 0x0642 = 0x00DD: VCCINT target 0.8633 V"
// (the part after the colon only for voltage targets). nullptr turns it off.
void setRegulatorWriteTrace(FILE* to);

class PmbusRegulator : public I2cDevice {
 public:
  static constexpr uint16_t kVout = 0x0716, kIout = 0x0718, kTemp = 0x071A, kVoutTarget = 0x0642,
                            kModuleId = 0x003C, kPageStride = 0x400;
  static constexpr uint8_t kRegisterCommand = 0xD0;

  // pageRails[p] is the board rail (0..2) that page p feeds, or -1.
  PmbusRegulator(BoardPower& power, std::vector<int> pageRails, bool hasModuleId, uint16_t moduleId);

  // Register access as the device's register file sees it (also used by board
  // controllers that reach the regulator other than over this I2C bus).
  uint16_t readRegister(uint16_t reg) const;
  void writeRegister(uint16_t reg, uint16_t value);

  bool start(bool read) override;
  bool write(uint8_t b) override;
  uint8_t read() override;
  void stop() override;

  const std::vector<std::pair<uint16_t, uint16_t>>& writeLog() const { return writeLog_; }
  uint64_t malformedCommands() const { return malformed_; }

 private:
  // Which page register reg falls in and its page-0 number; false when not a paged register.
  bool pageOf(uint16_t reg, int* page, uint16_t* base) const;
  void finishWrite();

  BoardPower& power_;
  std::vector<int> pageRails_;
  bool hasModuleId_;
  uint16_t moduleId_;
  std::map<uint16_t, uint16_t> regs_;
  std::vector<std::pair<uint16_t, uint16_t>> writeLog_;

  uint8_t buf_[16];
  int len_ = 0;
  bool writing_ = false;
  bool selected_ = false;
  uint16_t selectedReg_ = 0;
  uint8_t answer_[3];
  int answerPos_ = 0;
  uint64_t malformed_ = 0;
};

}  // namespace varnsim
