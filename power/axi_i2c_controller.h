// The register procedures of one AXI IIC controller, shared by both board families.
#pragma once

#include <cstdint>

struct _VARNAXI;

namespace varn_iic {

constexpr uint64_t kLrBase = 0x9000;
constexpr uint64_t kZkBase = 0xA000;

constexpr uint64_t kSoftReset = 0x040;
constexpr uint64_t kControl = 0x100;
constexpr uint64_t kStatus = 0x104;
constexpr uint64_t kTxFifo = 0x108;
constexpr uint64_t kRxFifo = 0x10C;
constexpr uint64_t kRxFifoLevel = 0x120;

constexpr uint32_t kSoftResetKey = 0xA;
constexpr uint32_t kEnable = 0x01;
constexpr uint32_t kStatusTxEmpty = 0x80;
constexpr uint32_t kStatusRxEmpty = 0x40;
constexpr uint32_t kStart = 0x100;
constexpr uint32_t kStop = 0x200;

// 0 when the controller is idle; 1 when a read fails or it never became idle (it is
// then soft-reset three times).
int waitIdle(_VARNAXI* axi, uint64_t base);
// Fire-and-forget register write; 0 or 1.
int put(_VARNAXI* axi, uint64_t reg, uint32_t value);
void softReset(_VARNAXI* axi, uint64_t base);
// Puts a sequence of transmit-FIFO words and starts the transfer; on a failing write
// the controller is soft-reset. 0 or 1.
int transmit(_VARNAXI* axi, uint64_t base, const uint32_t* words, int count);

int write(_VARNAXI* axi, uint64_t base, uint8_t address7, const uint8_t* data, uint8_t count);
int read(_VARNAXI* axi, uint64_t base, uint8_t address7, uint8_t* buffer, uint8_t count);
int readRegister(_VARNAXI* axi, uint64_t base, uint8_t address7, uint16_t reg, uint8_t* buffer, uint8_t count);

}  // namespace varn_iic
