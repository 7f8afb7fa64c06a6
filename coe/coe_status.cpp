#include "coe/coe_status.h"

#include "coe/coe_request.h"

CoeStatusResult varn_coe_status_decode(const uint8_t* answer, uint32_t answerLen, uint8_t slot, uint8_t* statusByte) {
  if (slot >= VARN_COE_STATUS_SLOTS) return CoeStatusResult::NoRecord;
  const uint32_t at = slot * VARN_COE_STATUS_RECORD + (VARN_COE_STATUS_RECORD - 1);
  if (answerLen <= at) return CoeStatusResult::NoRecord;
  *statusByte = answer[at];
  return (answer[at] & VARN_COE_STATUS_DONE) ? CoeStatusResult::Done : CoeStatusResult::NotDone;
}

CoeStatusResult varn_coe_config_status(_VNCoELink* link, uint8_t slot, uint8_t* statusByte, uint32_t* answerLen) {
  uint8_t answer[VARN_COE_STATUS_RECORD * VARN_COE_STATUS_SLOTS] = {};
  uint32_t len = 0;
  // A negative answer (0x000E) carries an error code, not records: a failed request.
  const int rc = VNCoEStatus(link, answer, &len, sizeof answer);
  if (answerLen) *answerLen = len;
  if (rc != 0) return CoeStatusResult::RequestFailed;
  return varn_coe_status_decode(answer, len, slot, statusByte);
}
