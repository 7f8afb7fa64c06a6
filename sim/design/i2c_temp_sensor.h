// A JEDEC-style digital temperature sensor (MCP9808 register layout): a pointer
// register selects one of the 16-bit registers; reads return it most significant byte
// first. Register 5 holds the temperature in 1/16 °C, 13-bit two's complement, with
// the sign at bit 12 (bit 4 of the upper byte) and alarm flags in the top 3 bits.
#pragma once

#include <functional>

#include "sim/design/i2c_bus.h"

namespace varnsim {

// The two bytes of register 5 for a temperature, upper byte first.
void encodeSensorTemp(double celsius, uint8_t* upper, uint8_t* lower);

class I2cTempSensor : public I2cDevice {
 public:
  explicit I2cTempSensor(std::function<double()> temperature) : temperature_(std::move(temperature)) {}

  bool start(bool read) override;
  bool write(uint8_t b) override;
  uint8_t read() override;
  void stop() override {}

  uint8_t pointer() const { return pointer_; }

  static constexpr uint16_t kManufacturerId = 0x0054;
  static constexpr uint16_t kDeviceId = 0x0400;

 private:
  uint16_t reg(uint8_t p) const;

  std::function<double()> temperature_;
  uint8_t pointer_ = 5;
  uint16_t config_ = 0;
  bool gotPointer_ = false;
  int dataBytes_ = 0;
  uint16_t pending_ = 0;
  int readIndex_ = 0;
  uint16_t latched_ = 0;
};

}  // namespace varnsim
