// The board controller's configuration status (request 0x0300): one 16-byte record per
// CoE slot, whose byte 15 carries the DONE bit of the device on that slot.
#pragma once

#include <cstdint>

#include "coe/coe_commands.h"

struct _VNCoELink;

constexpr uint32_t VARN_COE_STATUS_RECORD = 16;
constexpr uint32_t VARN_COE_STATUS_SLOTS = 4;
constexpr uint8_t VARN_COE_STATUS_DONE = 0x40;

enum class CoeStatusResult { Done, NotDone, RequestFailed, NoRecord };

// Picks the slot's status byte out of an answer. NoRecord when the answer is too short
// to hold the slot's record (or the slot is above 3).
CoeStatusResult varn_coe_status_decode(const uint8_t* answer, uint32_t answerLen, uint8_t slot, uint8_t* statusByte);

// Sends the request and decodes the answer for the slot. The answer buffer holds the
// records of all four slots, so devices on slots 2 and 3 are answered too.
CoeStatusResult varn_coe_config_status(_VNCoELink* link, uint8_t slot, uint8_t* statusByte, uint32_t* answerLen);
