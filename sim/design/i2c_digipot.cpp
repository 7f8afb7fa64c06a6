#include "sim/design/i2c_digipot.h"

namespace varnsim {

bool I2cDigipot::start(bool) {
  index_ = 0;
  return true;
}

bool I2cDigipot::write(uint8_t b) {
  if (index_++ == 0) {
    command_ = b;
    // Only wiper 0 exists and only the write command (bits 3..2 = 00) is accepted.
    return (b & 0xFC) == 0x00 || (b & 0xFC) == 0x0C;
  }
  if ((command_ & 0xFC) != 0x00) return false;
  int value = ((command_ & 1) << 8) | b;
  code_ = value > 255 ? 255 : value;
  ++writes_;
  if (onChange_) onChange_(code_);
  return true;
}

uint8_t I2cDigipot::read() {
  return (index_++ % 2 == 0) ? 0x00 : static_cast<uint8_t>(code_);
}

}  // namespace varnsim
