#include "jtag/tests/coe_capture.h"

#include <cstring>

#include "coe/coe_link.h"

struct _VNCoELink {
  int unused;
};

namespace coecap {
State& state() {
  static State s;
  return s;
}
void reset() { state() = State(); }
}  // namespace coecap

using coecap::state;

_VNCoELink* VNCoELinkCreate(const char* address, uint16_t port) {
  if (state().createFails) return nullptr;
  state().createdAddress = address;
  state().createdPort = port;
  return new _VNCoELink{0};
}

uint8_t VNCoELinkIsConnected(_VNCoELink* link) { return link != nullptr && state().connected ? 1 : 0; }

int VNCoELinkTransaction(_VNCoELink* link, uint16_t command, uint16_t tag, uint16_t flags, const uint8_t* payload,
                         uint32_t payloadLen, uint16_t* answerCommand, uint16_t* answerWord, uint8_t* answer,
                         uint32_t* answerLen, uint32_t answerCapacity) {
  if (!state().connected) return VN_COE_NOT_CONNECTED;
  coecap::Request req{command, tag, flags, std::vector<uint8_t>(payload, payload + payloadLen)};
  state().requests.push_back(req);
  coecap::Answer a;
  if (!state().answers.empty()) {
    a = state().answers.front();
    state().answers.pop_front();
  } else if (state().responder) {
    a = state().responder(req);
  }
  if (a.rc != 0) return a.rc;
  if (answerCommand) *answerCommand = a.command;
  if (answerWord) *answerWord = 0;
  uint32_t n = static_cast<uint32_t>(a.data.size());
  if (n > answerCapacity) n = answerCapacity;
  if (answer && answerLen && n) std::memcpy(answer, a.data.data(), n);
  if (answerLen) *answerLen = n;
  return 0;
}

int VNCoELinkPost(_VNCoELink* link, uint16_t command, uint16_t tag, const uint8_t* payload, uint32_t payloadLen,
                  uint8_t* answer, uint32_t capacity, uint32_t* answerLen) {
  uint16_t answerCommand = 0;
  uint32_t got = 0;
  const int rc = VNCoELinkTransaction(link, command, tag, VN_COE_FLAGS, payload, payloadLen, &answerCommand, nullptr,
                                      answer, &got, answer ? capacity : 0);
  if (rc == VN_COE_NOT_CONNECTED) return rc;
  if (rc == 0 && answerLen) *answerLen = got;
  if (rc != 0 || answerCommand == VN_COE_NAK) state().postedFailed++;
  return 0;
}

int VNCoELinkFlushPosted(_VNCoELink*, uint32_t* failed) {
  state().flushes++;
  if (failed) *failed = state().postedFailed;
  state().postedFailed = 0;
  return 0;
}

int VNCoELinkReadUART(_VNCoELink*, uint8_t slot, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
  *count = 0;
  if (slot > 3) return 4;
  auto& q = state().uart[slot];
  uint32_t n = 0;
  while (n < capacity && !q.empty()) {
    buffer[n++] = q.front();
    q.erase(q.begin());
  }
  *count = n;
  return 0;
}

void VNCoELinkDestroy(_VNCoELink* link) {
  state().destroyed++;
  delete link;
}
