// Requests to a board controller as the host's Parts send them: the generic form, and
// one small typed helper per command the JTAG engine, the regulators, the bitstream
// loader and the XVC server send. A negative answer (0x000E) counts as a failure: its
// payload is an error code, not the data asked for.
#pragma once

#include <cstdint>

#include "coe/coe_commands.h"

struct _VNCoELink;

// 0 when answered positively; the link's non-zero code, or -1 for a negative answer.
// answer/answerLen may be null; *answerLen receives the bytes copied (at most capacity).
int varn_jtag_coe_request(_VNCoELink* link, uint16_t command, uint16_t tag, const uint8_t* payload,
                          uint32_t payloadLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity,
                          uint16_t* answerCommand = nullptr);

// The I2C bus byte of a CoE slot (0..3).
constexpr uint8_t vn_coe_slot_bus(uint8_t slot) { return static_cast<uint8_t>(slot * 16); }

// Each returns what varn_jtag_coe_request returns.
int VNCoESetJtagClock(_VNCoELink* link, uint32_t hz);
int VNCoESetJtagMode(_VNCoELink* link, uint8_t mode);  // VN_COE_JTAG_MODE_*
int VNCoEReadIdcodes(_VNCoELink* link, uint8_t* answer, uint32_t* answerLen, uint32_t capacity);
int VNCoESetIrLengths(_VNCoELink* link, const int32_t* irLength, uint32_t count);
// Writes `write` to the 7-bit address on the slot's bus, then reads readCount bytes.
// post: posted (VNCoELinkPost); *answerLen is 0 until the answer arrives, and a
// negative answer leaves its code (4 bytes or more) in `answer`.
int VNCoEI2C(_VNCoELink* link, uint8_t address7, uint8_t slot, uint16_t readCount, const uint8_t* write,
             uint32_t writeLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity, bool post = false);
int VNCoESetUartMode(_VNCoELink* link, uint8_t slot);
int VNCoESetUartRate(_VNCoELink* link, uint8_t slot, uint32_t baud);
// Up to VN_COE_UART_WRITE_MAX bytes, sent with the UART tag.
int VNCoEUartWrite(_VNCoELink* link, uint8_t slot, const uint8_t* data, uint32_t length);
int VNCoEStatus(_VNCoELink* link, uint8_t* answer, uint32_t* answerLen, uint32_t capacity);
// Idle clocks, split into requests of at most VN_COE_IDLE_MAX_CLOCKS; -1 on the first
// failure. post: the requests are posted (VNCoELinkPost) and checked by the next flush.
int VNCoEIdleClocks(_VNCoELink* link, uint32_t clocks, bool post = false);
