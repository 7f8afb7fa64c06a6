// Setting a board controller up for the JTAG engine: the bus (TCK rate and the
// device-abstraction mode), and per FPGA its IR length, its slot's I2C bus and its
// slot's UART (mode and 1 Mbaud). A controller that lost its link forgets all of it;
// the same calls re-apply what the first scan found.
#pragma once

#include <cstdint>

struct _VNCoELink;

constexpr uint32_t VN_COE_UART_BAUD = 1000000;

// 0 when both requests were answered; the log says which one failed.
int VNCoESetupBus(_VNCoELink* link, uint32_t hz);
// IR lengths, then each device's I2C bus and UART. Failures are logged and the rest goes
// on, so that one missing slot does not cost the others their serial channel.
// With findSlot, the only FPGA of a board moves to slot 1 when nothing answers the
// regulator's address on slot 0's bus (a single module in slot B).
void VNCoESetupDevices(_VNCoELink* link, const int32_t* irLength, uint8_t* slot, uint32_t count, bool findSlot);
