#include "power/axi_i2c_controller.h"

#include <vector>

#include "app/platform/varn_platform.h"
#include "axi/varn_axi.h"
#include "power/axi_i2c.h"

namespace varn_iic {

int put(_VARNAXI* axi, uint64_t reg, uint32_t value) { return VARNAXIWrite(axi, value, reg, false) == 0 ? 0 : 1; }

void softReset(_VARNAXI* axi, uint64_t base) { put(axi, base + kSoftReset, kSoftResetKey); }

int waitIdle(_VARNAXI* axi, uint64_t base) {
  const uint32_t idle = kStatusTxEmpty | kStatusRxEmpty;
  for (int reading = 1;; ++reading) {
    uint32_t status = 0;
    if (VARNAXIRead(axi, &status, base + kStatus) != 0) return 1;
    // A controller still busy after ten readings is reset after each further one;
    // the thirteenth reading is not even looked at.
    if (reading >= 11) softReset(axi, base);
    if (reading == 13) return 1;
    if ((status & idle) == idle) return 0;
  }
}

int transmit(_VARNAXI* axi, uint64_t base, const uint32_t* words, int count) {
  for (int i = 0; i < count; ++i) {
    if (put(axi, base + kTxFifo, words[i]) != 0) {
      softReset(axi, base);
      return 1;
    }
  }
  if (put(axi, base + kControl, kEnable) != 0) {
    softReset(axi, base);
    return 1;
  }
  return 0;
}

// Waits for idle and clears the controller before a transfer.
static int begin(_VARNAXI* axi, uint64_t base) {
  if (waitIdle(axi, base) != 0) return 1;
  return put(axi, base + kSoftReset, kSoftResetKey);
}

int write(_VARNAXI* axi, uint64_t base, uint8_t address7, const uint8_t* data, uint8_t count) {
  if (begin(axi, base) != 0) return 1;
  uint32_t words[1 + 255];
  words[0] = kStart | (uint32_t(address7) << 1);
  for (int i = 0; i < count; ++i) words[1 + i] = data[i];
  // The stop follows the last byte; with no bytes at all, the address itself.
  words[count] |= kStop;
  return transmit(axi, base, words, 1 + count);
}

// Reads `count` bytes from the receive FIFO after the transfer had time to finish,
// dropping the first `skip`.
static int drain(_VARNAXI* axi, uint64_t base, uint8_t* buffer, int count, int skip) {
  varn_sleep_ms(2);
  for (int i = 0; i < skip + count; ++i) {
    uint32_t v = 0;
    if (VARNAXIRead(axi, &v, base + kRxFifo) != 0) {
      softReset(axi, base);
      return 1;
    }
    if (i >= skip) buffer[i - skip] = uint8_t(v & 0xFF);
  }
  return 0;
}

int read(_VARNAXI* axi, uint64_t base, uint8_t address7, uint8_t* buffer, uint8_t count) {
  if (begin(axi, base) != 0) return 1;
  if (put(axi, base + kRxFifoLevel, 15) != 0) return 1;
  const uint32_t words[] = {kStart | 0x01 | (uint32_t(address7) << 1), kStop | count};
  if (transmit(axi, base, words, 2) != 0) return 1;
  return drain(axi, base, buffer, count, 0);
}

int readRegister(_VARNAXI* axi, uint64_t base, uint8_t address7, uint16_t reg, uint8_t* buffer, uint8_t count) {
  if (begin(axi, base) != 0) return 1;
  if (put(axi, base + kRxFifoLevel, 15) != 0) return 1;
  const uint32_t words[] = {kStart | (uint32_t(address7) << 1),
                            0xD0,
                            uint32_t(reg & 0xFF),
                            uint32_t(reg >> 8),
                            kStart | 0x01 | (uint32_t(address7) << 1),
                            kStop | count};
  if (transmit(axi, base, words, 6) != 0) return 1;
  return drain(axi, base, buffer, count, 1);
}

}  // namespace varn_iic

int _VARNLRI2CWrite(_VARNAXI* axi, uint8_t address7, const uint8_t* data, uint8_t count) {
  return varn_iic::write(axi, varn_iic::kLrBase, address7, data, count);
}
int _VARNZKI2CWrite(_VARNAXI* axi, uint8_t address7, const uint8_t* data, uint8_t count) {
  return varn_iic::write(axi, varn_iic::kZkBase, address7, data, count);
}
int _VARNLRI2CRead(_VARNAXI* axi, uint8_t address7, uint8_t* buffer, uint8_t count) {
  return varn_iic::read(axi, varn_iic::kLrBase, address7, buffer, count);
}
int _VARNZKI2CRead(_VARNAXI* axi, uint8_t address7, uint8_t* buffer, uint8_t count) {
  return varn_iic::read(axi, varn_iic::kZkBase, address7, buffer, count);
}
int _VARNZKI2CReadEx(_VARNAXI* axi, uint8_t address7, uint16_t reg, uint8_t* buffer, uint8_t count) {
  return varn_iic::readRegister(axi, varn_iic::kZkBase, address7, reg, buffer, count);
}
