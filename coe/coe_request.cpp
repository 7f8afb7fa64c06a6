#include "coe/coe_request.h"

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

namespace {

int request(_VNCoELink* link, uint16_t command, const uint8_t* payload, uint32_t length) {
  return varn_jtag_coe_request(link, command, VN_COE_TAG_REQUEST, payload, length, nullptr, nullptr, 0);
}

void putLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int VNCoESetJtagClock(_VNCoELink* link, uint32_t hz) {
  uint8_t speed[8] = {};
  putLe32(speed + 4, hz);
  return request(link, VN_COE_CMD_JTAG_CLOCK, speed, sizeof speed);
}

int VNCoESetJtagMode(_VNCoELink* link, uint8_t mode) {
  const uint8_t payload[2] = {0x00, mode};
  return request(link, VN_COE_CMD_JTAG_MODE, payload, sizeof payload);
}

int VNCoEReadIdcodes(_VNCoELink* link, uint8_t* answer, uint32_t* answerLen, uint32_t capacity) {
  const uint8_t ask[2] = {0x00, 0x00};
  return varn_jtag_coe_request(link, VN_COE_CMD_IDCODES, VN_COE_TAG_REQUEST, ask, sizeof ask, answer, answerLen,
                               capacity);
}

int VNCoESetIrLengths(_VNCoELink* link, const int32_t* irLength, uint32_t count) {
  uint8_t payload[1 + 255] = {0x00};
  if (count > 255) count = 255;
  for (uint32_t i = 0; i < count; ++i) payload[1 + i] = static_cast<uint8_t>(irLength[i]);
  return request(link, VN_COE_CMD_IR_LENGTHS, payload, 1 + count);
}

int VNCoEI2C(_VNCoELink* link, uint8_t address7, uint8_t slot, uint16_t readCount, const uint8_t* write,
             uint32_t writeLen, uint8_t* answer, uint32_t* answerLen, uint32_t capacity, bool post) {
  uint8_t payload[4 + 64];
  if (writeLen > sizeof payload - 4) return -1;
  payload[0] = address7;
  payload[1] = vn_coe_slot_bus(slot);
  payload[2] = static_cast<uint8_t>(readCount);
  payload[3] = static_cast<uint8_t>(readCount >> 8);
  for (uint32_t i = 0; i < writeLen; ++i) payload[4 + i] = write[i];
  if (post) {
    if (answerLen) *answerLen = 0;
    return VNCoELinkPost(link, VN_COE_CMD_I2C, VN_COE_TAG_REQUEST, payload, 4 + writeLen, answer, answer ? capacity : 0,
                         answerLen);
  }
  return varn_jtag_coe_request(link, VN_COE_CMD_I2C, VN_COE_TAG_REQUEST, payload, 4 + writeLen, answer, answerLen,
                               capacity);
}

int VNCoESetUartMode(_VNCoELink* link, uint8_t slot) {
  const uint8_t payload[2] = {vn_coe_slot_bus(slot), 0x01};
  return request(link, VN_COE_CMD_UART_MODE, payload, sizeof payload);
}

int VNCoESetUartRate(_VNCoELink* link, uint8_t slot, uint32_t baud) {
  uint8_t payload[8] = {vn_coe_slot_bus(slot)};
  putLe32(payload + 4, baud);
  return request(link, VN_COE_CMD_UART_RATE, payload, sizeof payload);
}

int VNCoEUartWrite(_VNCoELink* link, uint8_t slot, const uint8_t* data, uint32_t length) {
  uint8_t payload[1 + VN_COE_UART_WRITE_MAX];
  if (length > VN_COE_UART_WRITE_MAX) return -1;
  payload[0] = vn_coe_slot_bus(slot);
  for (uint32_t i = 0; i < length; ++i) payload[1 + i] = data[i];
  return varn_jtag_coe_request(link, VN_COE_CMD_UART_WRITE, VN_COE_TAG_UART, payload, 1 + length, nullptr, nullptr,
                               0);
}

int VNCoEStatus(_VNCoELink* link, uint8_t* answer, uint32_t* answerLen, uint32_t capacity) {
  return varn_jtag_coe_request(link, VN_COE_CMD_STATUS, VN_COE_TAG_REQUEST, nullptr, 0, answer, answerLen, capacity);
}

int VNCoEIdleClocks(_VNCoELink* link, uint32_t clocks, bool post) {
  while (clocks > 0) {
    const uint32_t n = clocks < VN_COE_IDLE_MAX_CLOCKS ? clocks : VN_COE_IDLE_MAX_CLOCKS;
    const uint8_t payload[4] = {0x00, VN_COE_IDLE_FLAGS, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
    const int rc = post ? VNCoELinkPost(link, VN_COE_CMD_IDLE_OR_SHIFT, VN_COE_TAG_REQUEST, payload, sizeof payload,
                                        nullptr, 0)
                        : request(link, VN_COE_CMD_IDLE_OR_SHIFT, payload, sizeof payload);
    if (rc != 0) return -1;
    clocks -= n;
  }
  return 0;
}
