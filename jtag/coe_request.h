// One request to a CoE board controller as the JTAG engine sends it: tag and flags
// fixed by the caller's role, the answer's data copied out. A negative answer (0x000E)
// counts as a failure: its payload is an error code, not the data asked for.
#pragma once

#include <cstdint>

struct _VNCoELink;

// 0 when answered positively; the link's non-zero code, or -1 for a negative answer.
// answer/answerLen may be null; *answerLen receives the bytes copied (at most capacity).
int varn_jtag_coe_request(_VNCoELink* link, uint16_t command, uint16_t tag, const uint8_t* payload,
                          uint32_t payloadLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity,
                          uint16_t* answerCommand = nullptr);
