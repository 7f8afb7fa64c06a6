// Interrupt packets from the target: callbacks on the receive thread, and a queue
// that other threads wait on.
#include <chrono>
#include <cstring>

#include "app/log/varn_log.h"
#include "axi/varn_axi_handle.h"

namespace {

bool irqFull(const _VARNAXI* axi) { return uint8_t(axi->irqHead + 1) == axi->irqTail; }

void push(_VARNAXI* axi, const uint8_t* packet, bool fromTarget) {
  VARNAXIIrqEntry& e = axi->irqQueue[axi->irqHead];
  if (packet) {
    std::memcpy(e.packet, packet, VARN_AXI_PACKET_SIZE);
  } else {
    std::memset(e.packet, 0, VARN_AXI_PACKET_SIZE);
  }
  e.valid = 1;
  e.fromTarget = fromTarget ? 1 : 0;
  e.kicked = fromTarget ? 0 : 1;
  ++axi->irqHead;
}

}  // namespace

void _VARNAXIHandleInterrupt(_VARNAXI* axi, const uint8_t* packet) {
  uint8_t seq = packet[1];
  if (seq != axi->irqExpectedSeq) VARNLog("Interupts missed - %i -> %i\n", axi->irqExpectedSeq, seq);
  axi->irqExpectedSeq = uint8_t(seq + 1);

  std::lock_guard<std::mutex> hold(axi->irqLock);
  if (irqFull(axi)) {
    VARNLog("Interrupt Storm - suppressing queued interrupts until the weather clears\n");
    axi->irqHead = axi->irqTail = 0;
  }
  // Only interrupt set 1 is consumed by a link; the others belong to bridge clients.
  if (packet[0] != 0x17) return;
  uint64_t value = VARNAXIPacketAddress(packet);
  VARNAXIInterruptCallback cb0 = axi->irqCallbacks[0], cb1 = axi->irqCallbacks[1];
  if (cb0) cb0(axi, 0, value, axi->irqContexts[0]);
  if (cb1) cb1(axi, 1, value, axi->irqContexts[1]);
  if (!(cb0 && cb1)) {
    push(axi, packet, true);
    axi->irqCond.notify_all();
  }
}

int VARNAXIRegisterForInterrupts(_VARNAXI* axi, unsigned index, VARNAXIInterruptCallback callback,
                                 void* context) {
  if (!axi || index > 3) return VARN_AXI_BAD_ARGUMENT;
  std::lock_guard<std::mutex> hold(axi->irqLock);
  axi->irqCallbacks[index] = callback;
  axi->irqContexts[index] = context;
  return VARN_AXI_OK;
}

int VARNAXIEnableInterruptsWithMask(_VARNAXI* axi, uint8_t mask) {
  if (VARNAXIIsConnected(axi) != VARN_AXI_OK) return VARN_AXI_NOT_CONNECTED;
  uint8_t req[VARN_AXI_PACKET_SIZE];
  _VARNAXIMakePacket(req, VARN_AXI_CMD_IRQ_MASK, 0, uint64_t(mask) << 56, 0);
  return _VARNAXIDoTransaction(axi, req, nullptr);
}

int VARNAXIWaitForInterrupt(_VARNAXI* axi, unsigned index, uint32_t* out, uint32_t timeoutMs) {
  if (!axi || index > 3) return VARN_AXI_BAD_ARGUMENT;
  std::unique_lock<std::mutex> lk(axi->irqLock);
  if (axi->irqCallbacks[index]) return VARN_AXI_TARGET_ERROR;
  if (!axi->connected) return VARN_AXI_NOT_CONNECTED;
  auto waitOnce = [&] { axi->irqCond.wait_for(lk, std::chrono::milliseconds(timeoutMs)); };
  bool waited = false;
  if (axi->irqHead == axi->irqTail) {
    waitOnce();
    waited = true;
    if (axi->irqHead == axi->irqTail) return VARN_AXI_TIMEOUT;
  }
  for (;;) {
    for (uint8_t i = axi->irqTail; i != axi->irqHead; ++i) {
      VARNAXIIrqEntry& e = axi->irqQueue[i];
      if (e.fromTarget) {
        uint64_t value = VARNAXIPacketAddress(e.packet);
        if (out) {
          out[0] = uint32_t(value);
          out[1] = uint32_t(value >> 32);
        }
        if (i == axi->irqTail) {
          e.valid = 0;
          ++axi->irqTail;
        }
        unsigned set = e.packet[0] >> 4;
        if ((set & index) == index) return VARN_AXI_OK;
      } else {
        axi->irqQueue[axi->irqTail].valid = 0;
        ++axi->irqTail;
        return VARN_AXI_TIMEOUT;
      }
    }
    if (waited) return VARN_AXI_TIMEOUT;
    waitOnce();
    waited = true;
  }
}

int VARNAXIKickInterrupts(_VARNAXI* axi) {
  if (!axi) return VARN_AXI_BAD_ARGUMENT;
  {
    std::lock_guard<std::mutex> hold(axi->irqLock);
    // A full ring would look empty after one more entry: make room by dropping the oldest.
    if (irqFull(axi)) ++axi->irqTail;
    push(axi, nullptr, false);
  }
  axi->irqCond.notify_all();
  return VARN_AXI_OK;
}
