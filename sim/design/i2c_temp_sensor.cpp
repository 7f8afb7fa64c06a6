#include "sim/design/i2c_temp_sensor.h"

#include <cmath>

namespace varnsim {

void encodeSensorTemp(double celsius, uint8_t* upper, uint8_t* lower) {
  long sixteenths = std::lround(celsius * 16.0);
  if (sixteenths > 0xFFF) sixteenths = 0xFFF;
  if (sixteenths < -0x1000) sixteenths = -0x1000;
  uint16_t raw = static_cast<uint16_t>(sixteenths) & 0x1FFF;
  *upper = static_cast<uint8_t>(raw >> 8);
  *lower = static_cast<uint8_t>(raw);
}

uint16_t I2cTempSensor::reg(uint8_t p) const {
  switch (p & 0x0F) {
    case 1: return config_;
    case 5: {
      uint8_t u, l;
      encodeSensorTemp(temperature_(), &u, &l);
      return static_cast<uint16_t>(u << 8 | l);
    }
    case 6: return kManufacturerId;
    case 7: return kDeviceId;
    default: return 0;
  }
}

bool I2cTempSensor::start(bool read) {
  gotPointer_ = false;
  dataBytes_ = 0;
  readIndex_ = 0;
  if (read) latched_ = reg(pointer_);  // the conversion result is latched at the start of a read
  return true;
}

bool I2cTempSensor::write(uint8_t b) {
  if (!gotPointer_) {
    pointer_ = b & 0x0F;
    gotPointer_ = true;
    return true;
  }
  pending_ = static_cast<uint16_t>(pending_ << 8 | b);
  if (++dataBytes_ == 2 && pointer_ == 1) config_ = pending_;
  return true;
}

uint8_t I2cTempSensor::read() {
  uint8_t b = (readIndex_ % 2 == 0) ? static_cast<uint8_t>(latched_ >> 8) : static_cast<uint8_t>(latched_);
  ++readIndex_;
  return b;
}

}  // namespace varnsim
