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

void take(_VARNAXI* axi, uint8_t i) {
  axi->irqQueue[i].valid = 0;
  while (axi->irqTail != axi->irqHead && !axi->irqQueue[axi->irqTail].valid) ++axi->irqTail;
}

bool hasEntryFor(const _VARNAXI* axi, unsigned index) {
  for (uint8_t i = axi->irqTail; i != axi->irqHead; ++i) {
    const VARNAXIIrqEntry& e = axi->irqQueue[i];
    if (e.valid && (!e.fromTarget || ((unsigned(e.packet[0] >> 4) & index) == index))) return true;
  }
  return false;
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

// Each queued interrupt goes to exactly one waiter: the first whose index it fits. An
// entry that fits no one waiting stays queued for a later waiter, wherever it sits in
// the ring, and a taken entry leaves a hole that the tail skips once it gets there.
int VARNAXIWaitForInterrupt(_VARNAXI* axi, unsigned index, uint32_t* out, uint32_t timeoutMs) {
  if (!axi || index > 3) return VARN_AXI_BAD_ARGUMENT;
  std::unique_lock<std::mutex> lk(axi->irqLock);
  if (axi->irqCallbacks[index]) return VARN_AXI_TARGET_ERROR;
  if (!axi->connected) return VARN_AXI_NOT_CONNECTED;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (bool last = false;; last = true) {
    for (uint8_t i = axi->irqTail; i != axi->irqHead; ++i) {
      VARNAXIIrqEntry& e = axi->irqQueue[i];
      if (!e.valid) continue;
      if (e.fromTarget) {
        unsigned set = e.packet[0] >> 4;
        if ((set & index) != index) continue;
        uint64_t value = VARNAXIPacketAddress(e.packet);
        if (out) {
          out[0] = uint32_t(value);
          out[1] = uint32_t(value >> 32);
        }
      }
      take(axi, i);
      return e.fromTarget ? VARN_AXI_OK : VARN_AXI_TIMEOUT;
    }
    if (last) return VARN_AXI_TIMEOUT;
    // Woken by an entry that is not for this waiter, it waits on until its own time-out.
    while (axi->irqCond.wait_until(lk, deadline) != std::cv_status::timeout) {
      if (hasEntryFor(axi, index)) break;
    }
  }
}

int VARNAXIKickInterrupts(_VARNAXI* axi) {
  if (!axi) return VARN_AXI_BAD_ARGUMENT;
  {
    std::lock_guard<std::mutex> hold(axi->irqLock);
    // A full ring would look empty after one more entry: make room by dropping the oldest.
    if (irqFull(axi)) take(axi, axi->irqTail);
    push(axi, nullptr, false);
  }
  axi->irqCond.notify_all();
  return VARN_AXI_OK;
}
