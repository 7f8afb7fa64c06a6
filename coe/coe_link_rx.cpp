// The receive side of the link: reassembles packets from the byte stream and hands each
// one to its waiting request or to its UART ring.
#include <cstring>

#include "app/log/varn_log.h"
#include "coe/coe_link_internal.h"

// A length the controller cannot have meant: the stream is out of step. Everything held
// and the rest of this chunk go; the next chunk is read as the start of a packet (the
// controller writes every packet whole), and a request that loses its answer this way
// runs into the answer bound, which reconnects.
static void dropOutOfStep(_VNCoELink* link, uint16_t length, uint32_t dropped) {
  if (length > VN_COE_MAX_RX_PACKET)
    VARNLog("ERROR: RX buffer Overflow!\n");
  else
    VARNLog("ERROR: CoE packet length %u is shorter than its header, dropping %u bytes\n", length, dropped);
  link->rxLen = 0;
}

void _VNCoELinkParsePacket(_VNCoELink* link, const uint8_t* data, uint32_t len) {
  while (len > 0) {
    if (link->rxLen < VN_COE_HEADER_SIZE) {
      uint32_t n = VN_COE_HEADER_SIZE - link->rxLen;
      if (n > len) n = len;
      std::memcpy(link->rxBuf + link->rxLen, data, n);
      link->rxLen += n;
      data += n;
      len -= n;
      if (link->rxLen < VN_COE_HEADER_SIZE) return;
      uint16_t length = _VNCoELe16(link->rxBuf);
      if (length < VN_COE_HEADER_SIZE || length > VN_COE_MAX_RX_PACKET) {
        dropOutOfStep(link, length, VN_COE_HEADER_SIZE + len);
        return;
      }
    }
    uint32_t length = _VNCoELe16(link->rxBuf);
    uint32_t n = length - link->rxLen;
    if (n > len) n = len;
    std::memcpy(link->rxBuf + link->rxLen, data, n);
    link->rxLen += n;
    data += n;
    len -= n;
    if (link->rxLen == length) {
      link->rxLen = 0;
      _VNCoELinkDispatch(link, link->rxBuf, length);
    }
  }
}

static void storeUart(_VNCoELink* link, const uint8_t* payload, uint32_t payloadLen) {
  if (payloadLen == 0) {
    VARNLog("Missing UART Bus!\n");
    return;
  }
  uint32_t slot = payload[0] >> 4;
  if (slot >= VN_COE_UART_SLOTS) return;
  const uint8_t* bytes = payload + 1;
  uint32_t count = payloadLen - 1;
  bool full = false;
  {
    std::lock_guard<std::mutex> hold(link->lock);
    uint16_t head = link->uartHead[slot];
    // The ring holds at most 65535 bytes: one index value stays free to tell full from empty.
    uint32_t room = VN_COE_UART_RING - 1 - static_cast<uint16_t>(head - link->uartTail[slot]);
    if (count > room) {
      count = room;
      full = true;
    }
    uint32_t first = VN_COE_UART_RING - head;
    if (first > count) first = count;
    if (first) std::memcpy(&link->uartRing[slot][head], bytes, first);
    if (count > first) std::memcpy(&link->uartRing[slot][0], bytes + first, count - first);
    link->uartHead[slot] = static_cast<uint16_t>(head + count);
  }
  if (VARNWake* wake = link->uartWake.load(); wake != nullptr && count > 0) varn_wake_signal(wake);
  if (full) VARNLog("UART Bus %i buffer full!\n", static_cast<int>(slot));
}

// The oldest waiting request with the packet's tag takes the answer. Returns false
// when none waits.
static bool matchAnswer(_VNCoELink* link, uint16_t tag, uint16_t command, uint16_t word, const uint8_t* payload,
                        uint32_t payloadLen) {
  std::lock_guard<std::mutex> hold(link->lock);
  CoeTransaction* best = nullptr;
  for (CoeTransaction& t : link->slots) {
    if (t.inUse && t.sent && !t.done && t.tag == tag && (!best || t.sequence < best->sequence)) best = &t;
  }
  for (CoeTransaction& t : link->posts) {
    if (t.inUse && t.sent && t.tag == tag && (!best || t.sequence < best->sequence)) best = &t;
  }
  if (!best) return false;
  uint32_t n = payloadLen < best->answerCapacity ? payloadLen : best->answerCapacity;
  if (best->answerData && n) std::memcpy(best->answerData, payload, n);
  best->answerLen = n;
  best->answerCommand = command;
  best->answerTag = tag;
  best->answerWord = word;
  if (best->posted) {
    if (best->postedAnswerLen) *best->postedAnswerLen = n;
    if (command == VN_COE_NAK) link->postedFailed++;
    *best = CoeTransaction{};
    // Only the flush (once all are in) and a requester waiting for a slot care; waking
    // the flush for every answer of a run would cost a thread switch each.
    if (--link->postedOutstanding == 0 || link->postWaiters > 0) link->answered.notify_all();
    return true;
  }
  best->done = 1;
  link->answered.notify_all();
  return true;
}

// While the greeting is unsettled no request has been sent: a tag-1 answer is the
// hello's (dropped), and the keepalive's answer means the hello's has passed or never
// comes. True when the packet was the hello's answer.
static bool settleHello(_VNCoELink* link, uint16_t tag, uint16_t command) {
  std::lock_guard<std::mutex> hold(link->lock);
  if (!link->helloPending) return false;
  const bool hello = tag == VN_COE_TAG_REQUEST;
  if (hello || (tag == VN_COE_TAG_NOANSWER && command == VN_COE_ANSWER)) {
    link->helloPending = 0;
    link->answered.notify_all();
  }
  return hello;
}

void _VNCoELinkDispatch(_VNCoELink* link, const uint8_t* packet, uint32_t len) {
  uint16_t tag = _VNCoELe16(packet + 2);
  uint16_t command = _VNCoELe16(packet + 4);
  uint16_t word = _VNCoELe16(packet + 6);
  const uint8_t* payload = packet + VN_COE_HEADER_SIZE;
  uint32_t payloadLen = len - VN_COE_HEADER_SIZE;

  switch (command) {
    case VN_COE_CMD_UART_DATA:
      storeUart(link, payload, payloadLen);
      return;
    case VN_COE_NAK: {
      uint8_t code[4] = {};
      std::memcpy(code, payload, payloadLen < 4 ? payloadLen : 4);
      VARNLog("Got NAK %08x\n", static_cast<unsigned>(code[0] | code[1] << 8 | code[2] << 16 | uint32_t(code[3]) << 24));
      break;
    }
    case VN_COE_CMD_UART_OVERFLOW:
      VARNLog("BMC Reporting UART Overflow on bus %i\n", payloadLen ? static_cast<int>(payload[0]) : 0);
      break;
    case VN_COE_ANSWER:
      break;
    default: {
      // One log call, so the line cannot interleave with other threads' messages.
      char text[sizeof("Unexpected response!") + 2 * VN_COE_MAX_RX_PACKET + 2];
      size_t at = std::strlen(std::strcpy(text, "Unexpected response!"));
      static const char hex[] = "0123456789abcdef";
      for (uint32_t i = 0; i < payloadLen; i++) {
        text[at++] = hex[payload[i] >> 4];
        text[at++] = hex[payload[i] & 15];
      }
      text[at++] = '\n';
      text[at] = '\0';
      VARNLog("%s", text);
      break;
    }
  }
  if (settleHello(link, tag, command)) return;
  if (matchAnswer(link, tag, command, word, payload, payloadLen)) return;
  bool keepaliveAnswer = command == VN_COE_ANSWER && tag == VN_COE_TAG_NOANSWER;
  if (!keepaliveAnswer && command != VN_COE_CMD_UART_OVERFLOW)
    VARNLog("Orphaned Transaction %04hx, %04hx!\n", tag, command);
}
