// Shared by the regulator files: device checks and register transfers without them.
#pragma once

#include <cstdint>

struct VARNJtag;

// 4 index out of range, 2 type not in the device table, 3 no CoE link, else 0.
int _VARNVRMCheckDevice(VARNJtag* jtag, uint32_t device);
// The two reply bytes of a register read, in the order received. 0 or 7.
int _VARNVRMReadBytes(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint8_t out[2]);
// A register read that may only be queued (inside a VarnJtagQueueScope): the reply
// lands in answer (16 bytes) and its length in *len, both valid after the flush; the
// read succeeded when *len is 2. 0, or 7 when it could not even be queued.
int _VARNVRMQueueRead(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint8_t answer[16],
                      uint32_t* len);
// 0 or 7.
int _VARNVRMWrite(VARNJtag* jtag, uint32_t device, uint8_t address7, uint16_t reg, uint16_t value);
