// Posted requests: a run of requests whose answers are only checked at the end goes out
// in one send and costs the requester one wait instead of one per request.
#include <chrono>
#include <cstring>

#include "app/log/varn_log.h"
#include "coe/coe_link_internal.h"

int _VNCoELinkSendPosted(_VNCoELink* link) {
  if (link->postLen == 0) return 0;
  const uint32_t n = link->postLen;
  link->postLen = 0;
  // Marked before the send: the link thread matches answers under the lock we hold.
  for (CoeTransaction& t : link->posts) {
    if (t.inUse) t.sent = 1;
  }
  return _sendall(link, link->postBuf, n);
}

namespace {

// Lowest free entry of the posts table, or VN_COE_POST_MAX when all are taken.
uint32_t freeEntry(const _VNCoELink* link) {
  uint32_t index = 0;
  while (index < VN_COE_POST_MAX && link->posts[index].inUse) index++;
  return index;
}

void giveUp(_VNCoELink* link, const char* what) {
  VARNLog("CoE posted requests to %s: %s within %u ms, reconnecting\n", link->address, what,
          link->answerTimeoutMs.load());
  _VNCoELinkMarkLost(link);
}

}  // namespace

int VNCoELinkPost(_VNCoELink* link, uint16_t command, uint16_t tag, const uint8_t* payload, uint32_t payloadLen,
                  uint8_t* answer, uint32_t capacity, uint32_t* answerLen) {
  if (!link || !link->connected) return VN_COE_NOT_CONNECTED;
  // A posted request needs its answer to free its entry; the packet must fit the hold.
  if ((payloadLen && !payload) || tag == VN_COE_TAG_NOANSWER ||
      payloadLen > VN_COE_POST_BUFFER - VN_COE_HEADER_SIZE) {
    VARNLog("CoE request %04x (tag %u) cannot be posted: payload of %u bytes\n", command, tag, payloadLen);
    return VN_COE_BAD_ARGUMENT;
  }
  std::unique_lock<std::mutex> hold(link->lock);
  if (!link->connected || _VNCoELinkAwaitGreeting(link, hold) != VN_COE_OK) return VN_COE_NOT_CONNECTED;

  uint32_t index = freeEntry(link);
  if (index == VN_COE_POST_MAX) {
    // The held packets must go out for their answers to free entries.
    if (_VNCoELinkSendPosted(link) != 0) return VN_COE_NO_ANSWER;
    link->postWaiters++;
    const bool freed = link->answered.wait_for(hold, std::chrono::milliseconds(link->answerTimeoutMs.load()), [&] {
      return !link->connected || freeEntry(link) < VN_COE_POST_MAX;
    });
    link->postWaiters--;
    if (!link->connected) return VN_COE_NO_ANSWER;
    if (!freed) {
      giveUp(link, "no entry came free");
      return VN_COE_NO_ANSWER;
    }
    index = freeEntry(link);
  }
  const uint32_t size = payloadLen + VN_COE_HEADER_SIZE;
  if (link->postLen + size > VN_COE_POST_BUFFER && _VNCoELinkSendPosted(link) != 0) return VN_COE_NO_ANSWER;

  CoeTransaction& t = link->posts[index];
  t = CoeTransaction{};
  t.inUse = 1;
  t.posted = 1;
  t.command = command;
  t.tag = tag;
  t.flags = VN_COE_FLAGS;
  t.answerData = answer;
  t.answerCapacity = answer ? capacity : 0;
  t.postedAnswerLen = answerLen;
  t.sequence = ++link->nextSequence;
  uint8_t* p = link->postBuf + link->postLen;
  _VNCoEPutLe16(p, static_cast<uint16_t>(size));
  _VNCoEPutLe16(p + 2, tag);
  _VNCoEPutLe16(p + 4, command);
  _VNCoEPutLe16(p + 6, VN_COE_FLAGS);
  if (payloadLen) std::memcpy(p + VN_COE_HEADER_SIZE, payload, payloadLen);
  link->postLen += size;
  link->postedOutstanding++;
  return VN_COE_OK;
}

int VNCoELinkFlushPosted(_VNCoELink* link, uint32_t* failed) {
  if (failed) *failed = 0;
  if (!link) return VN_COE_NOT_CONNECTED;
  std::unique_lock<std::mutex> hold(link->lock);
  int rc = VN_COE_OK;
  if (link->postedOutstanding > 0) {
    if (_VNCoELinkSendPosted(link) != 0) {
      rc = VN_COE_NO_ANSWER;
    } else if (!link->answered.wait_for(hold, std::chrono::milliseconds(link->answerTimeoutMs.load()),
                                        [&] { return link->postedOutstanding == 0; })) {
      giveUp(link, "not all answered");
      rc = VN_COE_NO_ANSWER;
    }
  }
  if (failed) *failed = link->postedFailed;
  link->postedFailed = 0;
  return rc;
}
