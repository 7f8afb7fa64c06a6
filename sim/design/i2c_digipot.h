// An 8-bit digital potentiometer in a regulator's feedback network (LR boards). A
// write of the command byte 0x00 (wiper 0, write) and a code moves the wiper; bit 0 of
// the command carries the wiper's ninth bit, which this 256-step part saturates at 255.
// A read returns the wiper as two bytes, the ninth bit first.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/design/i2c_bus.h"

namespace varnsim {

class I2cDigipot : public I2cDevice {
 public:
  // onChange is called with each new wiper code.
  I2cDigipot(int code, std::function<void(int)> onChange) : code_(code), onChange_(std::move(onChange)) {}

  bool start(bool read) override;
  bool write(uint8_t b) override;
  uint8_t read() override;
  void stop() override {}

  int code() const { return code_; }
  uint64_t wiperWrites() const { return writes_; }

 private:
  int code_;
  std::function<void(int)> onChange_;
  int index_ = 0;
  uint8_t command_ = 0;
  uint64_t writes_ = 0;
};

}  // namespace varnsim
