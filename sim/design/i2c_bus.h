// A two-wire bus as the I2C controller sees it: devices answer their 7-bit address
// after a START and then take or give bytes until STOP or a repeated START.
#pragma once

#include <cstdint>
#include <map>

namespace varnsim {

class I2cDevice {
 public:
  virtual ~I2cDevice() = default;
  // START (or repeated START) with this device's address; false leaves it un-ACKed.
  virtual bool start(bool read) = 0;
  // A byte from the controller; false = NACK.
  virtual bool write(uint8_t b) = 0;
  // The next byte toward the controller.
  virtual uint8_t read() = 0;
  // STOP, or a repeated START addressed elsewhere: the transfer is over.
  virtual void stop() = 0;
};

class I2cBus {
 public:
  void attach(uint8_t addr7, I2cDevice* dev) { devices_[addr7 & 0x7F] = dev; }
  I2cDevice* device(uint8_t addr7) const {
    auto it = devices_.find(addr7 & 0x7F);
    return it == devices_.end() ? nullptr : it->second;
  }

 private:
  std::map<uint8_t, I2cDevice*> devices_;
};

}  // namespace varnsim
