// The requester's side of the link: creation, one-request-one-answer transactions,
// the UART rings, destruction.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/log/varn_log.h"
#include "coe/coe_link_internal.h"

_VNCoELink* VNCoELinkCreate(const char* address, uint16_t port) {
  if (!address) return nullptr;
  _VNCoELink* link = new (std::nothrow) _VNCoELink();
  if (!link) return nullptr;
  link->address = strdup(address);
  if (!link->address) {
    delete link;
    return nullptr;
  }
  link->port = port;
  link->isUsb = std::strncmp(address, "usb://", 6) == 0 ? 1 : 0;
  try {
    link->thread = std::thread(_VNCoELinkThread, link);
  } catch (...) {
    free(link->address);
    delete link;
    return nullptr;
  }
  return link;
}

uint8_t VNCoELinkIsConnected(_VNCoELink* link) { return link ? link->connected.load() : 0; }

void VNCoELinkSetUartWake(_VNCoELink* link, VARNWake* wake) {
  if (link != nullptr) link->uartWake.store(wake);
}

void VNCoELinkSetAnswerTimeout(_VNCoELink* link, uint32_t ms) {
  if (link) link->answerTimeoutMs = ms;
}

void _VNCoELinkMarkLost(_VNCoELink* link) {
  link->connected = 0;
  link->dropRequested = 1;
  bool woke = link->helloPending != 0;  // requests waiting for the greeting learn it too
  link->helloPending = 0;
  for (CoeTransaction& t : link->posts) {
    if (t.inUse) {
      // Sent or still held: either way no answer will come for it now.
      t = CoeTransaction{};
      link->postedFailed++;
      woke = true;
    }
  }
  for (CoeTransaction& t : link->slots) {
    if (t.inUse && t.sent && !t.done) {
      t.done = 1;
      t.failed = 1;
      woke = true;
    }
  }
  link->postLen = 0;
  link->postedOutstanding = 0;
  if (woke) link->answered.notify_all();
}

int _sendall(_VNCoELink* link, const uint8_t* data, uint32_t len) {
  if (link->isUsb) return _VNCoUSend(link, data, len);
  varn_socket s = link->sock;
  uint64_t deadline = varn_monotonic_ns() + uint64_t(link->answerTimeoutMs.load()) * 1000000ull;
  while (len > 0) {
    long n = varn_send(s, data, len);
    if (n > 0) {
      data += n;
      len -= static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && varn_error_is_interrupted()) continue;
    if (n < 0 && varn_error_would_block()) {
      // The controller is not reading; wait for room, but never past the answer bound,
      // since every other requester waits behind this lock.
      uint64_t now = varn_monotonic_ns();
      if (now < deadline) {
        fd_set w;
        FD_ZERO(&w);
        FD_SET(s, &w);
        if (varn_select(s + 1, nullptr, &w, static_cast<int64_t>((deadline - now) / 1000)) >= 0) continue;
      }
    }
    VARNLog("BUG: CoE send to %s failed with %u bytes left (error %i)\n", link->address, len, varn_error_code());
    _VNCoELinkMarkLost(link);
    return -1;
  }
  return 0;
}

int _VNCoELinkSendPacket(_VNCoELink* link, uint16_t tag, uint16_t command, uint16_t flags, const uint8_t* payload,
                         uint32_t payloadLen) {
  if (_VNCoELinkSendPosted(link) != 0) return -1;
  uint8_t* p = link->txBuf;
  _VNCoEPutLe16(p, static_cast<uint16_t>(payloadLen + VN_COE_HEADER_SIZE));
  _VNCoEPutLe16(p + 2, tag);
  _VNCoEPutLe16(p + 4, command);
  _VNCoEPutLe16(p + 6, flags);
  if (payloadLen) std::memcpy(p + VN_COE_HEADER_SIZE, payload, payloadLen);
  return _sendall(link, p, payloadLen + VN_COE_HEADER_SIZE);
}

static void releaseSlot(CoeTransaction& t) { t = CoeTransaction{}; }

int _VNCoELinkAwaitGreeting(_VNCoELink* link, std::unique_lock<std::mutex>& hold) {
  if (!link->helloPending) return VN_COE_OK;
  uint64_t now = varn_monotonic_ns();
  if (now < link->helloDeadlineNs)
    link->answered.wait_for(hold, std::chrono::nanoseconds(link->helloDeadlineNs - now),
                            [&] { return !link->helloPending; });
  if (!link->connected) return VN_COE_NOT_CONNECTED;
  if (link->helloPending) {
    link->helloPending = 0;
    VARNLog("CoE controller %s answered neither the hello nor the keepalive within %u ms; going on\n",
            link->address, VN_COE_HELLO_SETTLE_MS);
  }
  return VN_COE_OK;
}

int VNCoELinkTransaction(_VNCoELink* link, uint16_t command, uint16_t tag, uint16_t flags, const uint8_t* payload,
                         uint32_t payloadLen, uint16_t* answerCommand, uint16_t* answerWord, uint8_t* answer,
                         uint32_t* answerLen, uint32_t answerCapacity) {
  if (!link || !link->connected) return VN_COE_NOT_CONNECTED;
  if ((payloadLen && !payload) || payloadLen > VN_COE_MAX_TX_PACKET - VN_COE_HEADER_SIZE) {
    VARNLog("CoE request %04x refused: payload of %u bytes\n", command, payloadLen);
    return VN_COE_BAD_ARGUMENT;
  }

  std::unique_lock<std::mutex> hold(link->lock);
  // Tested again under the lock: the link thread closes the socket under it.
  if (!link->connected) return VN_COE_NOT_CONNECTED;
  if (tag != VN_COE_TAG_NOANSWER && _VNCoELinkAwaitGreeting(link, hold) != VN_COE_OK) return VN_COE_NOT_CONNECTED;
  uint32_t index = 0;
  while (index < VN_COE_SLOT_COUNT && link->slots[index].inUse) index++;
  if (index == VN_COE_SLOT_COUNT) return VN_COE_SLOTS_BUSY;

  CoeTransaction& t = link->slots[index];
  t.inUse = 1;
  t.command = command;
  t.payload = payload;
  t.payloadLen = payloadLen;
  t.tag = tag;
  t.flags = flags;
  // The answer is copied only when both the buffer and its length output are given.
  if (answer && answerLen) t.answerData = answer;
  t.answerCapacity = answerCapacity;
  t.sequence = ++link->nextSequence;
  if (_VNCoELinkSendPacket(link, tag, command, flags, payload, payloadLen) != 0) {
    releaseSlot(t);
    return VN_COE_NO_ANSWER;
  }
  t.sent = 1;
  if (tag == VN_COE_TAG_NOANSWER) {
    releaseSlot(t);
    return VN_COE_OK;
  }

  uint32_t timeoutMs = link->answerTimeoutMs;
  bool answeredInTime = link->answered.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return t.done != 0; });
  if (!answeredInTime) {
    VARNLog("CoE request %04x (tag %u) to %s not answered within %u ms, reconnecting\n", command, tag,
            link->address, timeoutMs);
    releaseSlot(t);
    // A late answer would otherwise be taken for the answer of a later request.
    _VNCoELinkMarkLost(link);
    return VN_COE_NO_ANSWER;
  }
  if (t.failed) {
    releaseSlot(t);
    return VN_COE_NO_ANSWER;
  }
  if (answerCommand) *answerCommand = t.answerCommand;
  if (answerWord) *answerWord = t.answerWord;
  if (answerLen) *answerLen = t.answerLen;
  releaseSlot(t);
  return VN_COE_OK;
}

int VNCoELinkReadUART(_VNCoELink* link, uint8_t slot, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
  if (count) *count = 0;
  if (!link || slot >= VN_COE_UART_SLOTS) return VN_COE_BAD_ARGUMENT;
  if (!buffer) capacity = 0;
  std::lock_guard<std::mutex> hold(link->lock);
  uint16_t tail = link->uartTail[slot];
  uint16_t head = link->uartHead[slot];
  uint32_t held = static_cast<uint16_t>(head - tail);
  uint32_t n = held < capacity ? held : capacity;
  if (n > 0) {
    uint32_t first = VN_COE_UART_RING - tail;
    if (first > n) first = n;
    std::memcpy(buffer, &link->uartRing[slot][tail], first);
    if (n > first) std::memcpy(buffer + first, &link->uartRing[slot][0], n - first);
  }
  link->uartTail[slot] = static_cast<uint16_t>(tail + n);
  if (count) *count = n;
  return VN_COE_OK;
}

void VNCoELinkDestroy(_VNCoELink* link) {
  if (!link) return;
  // The link thread owns the transport and releases it itself when it sees stop,
  // so nothing is closed under its feet.
  link->stop = 1;
  if (link->thread.joinable()) link->thread.join();
  free(link->address);
  delete link;
}
