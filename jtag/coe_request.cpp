#include "jtag/coe_request.h"

#include "coe/coe_link.h"

int varn_jtag_coe_request(_VNCoELink* link, uint16_t command, uint16_t tag, const uint8_t* payload,
                          uint32_t payloadLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity,
                          uint16_t* answerCommand) {
  uint16_t ansCmd = 0;
  uint32_t len = 0;
  if (answerLen) *answerLen = 0;
  if (link == nullptr) return VN_COE_NOT_CONNECTED;
  int rc = VNCoELinkTransaction(link, command, tag, VN_COE_FLAGS, payload, payloadLen, &ansCmd, nullptr, answer,
                                answer ? &len : nullptr, answer ? capacity : 0);
  if (answerCommand) *answerCommand = ansCmd;
  if (rc != VN_COE_OK) return rc;
  if (ansCmd == VN_COE_NAK) return -1;
  if (answerLen) *answerLen = len;
  return 0;
}
