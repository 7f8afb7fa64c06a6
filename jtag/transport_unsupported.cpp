// The table entries for what a transport does not have: each answers "not supported"
// (or "nothing") without touching the board.
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"

int varn_jtag_unsupported_i2c(VARNJtag*, uint32_t, uint8_t, uint16_t, const uint8_t*, uint32_t, uint8_t*,
                              uint32_t* answerLen, uint32_t) {
  if (answerLen) *answerLen = 0;
  return VARN_JTAG_NOT_SUPPORTED;
}

CoeStatusResult varn_jtag_unsupported_config_status(VARNJtag*, uint32_t, uint8_t*, uint32_t* answerLen) {
  if (answerLen) *answerLen = 0;
  return CoeStatusResult::RequestFailed;
}

int varn_jtag_unsupported_reapply(VARNJtag*, uint32_t* devicesSeen) {
  *devicesSeen = 0;
  return VARN_JTAG_NOT_SUPPORTED;
}

uint32_t varn_jtag_no_lost_replies(const VARNJtag*) { return 0; }
