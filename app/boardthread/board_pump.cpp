#include "app/boardthread/board_pump.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "app/settings/varn_settings.h"
#include "jtag/varn_jtag.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag_handle.h"
#include "coe/coe_link.h"

namespace {

std::atomic<int64_t> gFixedWaitUs{0};

uint64_t minNs(uint64_t a, uint64_t b) { return a < b ? a : b; }

// The controller link announces its bytes; a board without that announcement (the
// wake-up could not be made) polls its rings every millisecond instead.
bool announcedByLink(const VARNBoardPump* p) { return p->coe && varn_wake_usable(&p->wake); }

// Bytes came (or the client just sent something the device may answer): read again at
// once. Nothing came: wait longer before the next read, up to VARN_POLL_MAX_NS; a
// controller link that announces its bytes needs no reading until it does.
void schedulePoll(VARNBoardPump* p, int d, uint64_t now, bool busy) {
  VARNDeviceLane& lane = p->lane[d];
  if (busy) {
    lane.pollIntervalNs = 0;
    lane.nextPollNs = now;
    return;
  }
  if (announcedByLink(p)) {
    lane.nextPollNs = UINT64_MAX;
    return;
  }
  if (p->coe) {
    lane.pollIntervalNs = 1000000;
  } else {
    lane.pollIntervalNs = lane.pollIntervalNs < VARN_POLL_MIN_NS ? VARN_POLL_MIN_NS
                                                                  : minNs(lane.pollIntervalNs * 2, VARN_POLL_MAX_NS);
  }
  lane.nextPollNs = now + lane.pollIntervalNs;
}

// What one turn waits on.
struct WaitSets {
  fd_set read;
  fd_set write;
  int maxFd = 0;
  bool anyWrite = false;
  void clear() {
    FD_ZERO(&read);
    FD_ZERO(&write);
    maxFd = 0;
    anyWrite = false;
  }
  void watch(fd_set* set, varn_socket s) {
    FD_SET(s, set);
    if (static_cast<int>(s) > maxFd) maxFd = static_cast<int>(s);
  }
};

varn_socket listenerOf(const VARNBoardPump* p, int d) { return regLoad(masters[p->board][d]); }
varn_socket clientOf(const VARNBoardPump* p, int d) { return regLoad(masters[p->board][4 + d]); }

// A usable client (serial mode) or pair end (AXI-bridge mode).
bool hasPeer(const VARNBoardPump* p, int d) { return clientOf(p, d) > 0 && !(p->axiMode && p->lane[d].pairClosed); }

void channelFailed(VARNBoardPump* p, int d, int rc, uint64_t now) {
  VARNDeviceLane& lane = p->lane[d];
  if (lane.health.fail(now))
    VARNLog("Board %i Device %i serial channel failed (%i); retrying it with growing pauses until it works again\n",
            p->board, d, rc);
}

void channelWorks(VARNBoardPump* p, int d) {
  if (p->lane[d].health.succeed()) VARNLog("Board %i Device %i serial channel works again\n", p->board, d);
}

// How many client bytes the device may take now (0: leave the client waiting).
uint32_t inputRoom(VARNBoardPump* p, int d, uint64_t now, bool linkUp) {
  VARNDeviceLane& lane = p->lane[d];
  if (lane.outLen > 0 || !linkUp || !lane.health.due(now)) return 0;
  if (!p->coe) return VARN_TRANSFER_SIZE;
  uint32_t room = lane.pacer.allowance(now);
  if (room < VARN_COE_UART_MIN_CHUNK) return 0;
  return room < VARN_TRANSFER_SIZE ? room : VARN_TRANSFER_SIZE;
}

void dropClient(VARNBoardPump* p, int d, bool withBoard) {
  varn_socket c = clientOf(p, d);
  if (withBoard) {
    VARNLog("Board %i Device %i TCP Client Disconnected\n", p->board, d);
  } else {
    VARNLog("TCP Client Disconnected\n");
  }
  varn_close_socket(c);
  regStore(masters[p->board][4 + d], 0);
  p->lane[d].outStart = 0;
  p->lane[d].outLen = 0;
  p->lane[d].inputClosed = false;
}

// The bridge holds the other end for the life of the process; an end that reads as
// closed means the bridge stopped serving this FPGA, and watching it would only spin.
void pairClosed(VARNBoardPump* p, int d) {
  if (p->lane[d].pairClosed) return;
  p->lane[d].pairClosed = true;
  p->lane[d].outStart = 0;
  p->lane[d].outLen = 0;
  VARNLog("Board %i Device %i AXI bridge closed its end; the device's output is counted and dropped from now on\n",
          p->board, d);
}

void acceptOn(VARNBoardPump* p, int d) {
  VARNLog("Got connection for Board %i Device %i\n", p->board, d);
  uint32_t ip = 0;
  uint16_t port = 0;
  varn_socket s = varn_accept(listenerOf(p, d), &ip, &port);
  if (!varn_socket_valid(s)) {
    varn_perror("Failed accepting connection\n");
    return;
  }
  char dotted[16];
  std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                ip & 0xFF);
  VARNLog("Connection attempt from %s:%hu\n", dotted, port);
  // A client that ended its input gives way to a new one rather than holding the port.
  if (clientOf(p, d) != 0 && p->lane[d].inputClosed) dropClient(p, d, true);
  if (clientOf(p, d) != 0) {
    VARNLog("Rejecting because we are already in use\n");
    varn_close_socket(s);
    return;
  }
#ifndef _WIN32
  if (s >= FD_SETSIZE) {
    VARNLog("Rejecting: socket %i is beyond what the wait can watch (%i)\n", static_cast<int>(s),
            static_cast<int>(FD_SETSIZE));
    varn_close_socket(s);
    return;
  }
#endif
  // Sends to a slow client keep what it cannot take yet instead of stalling the board.
  if (varn_set_nonblocking(s, true) != 0) {
    VARNLog("Rejecting: the client's socket cannot be made non-blocking (error %i)\n", varn_error_code());
    varn_close_socket(s);
    return;
  }
  // A client that vanished without closing would otherwise hold the port for ever.
  if (varn_set_keepalive(s) != 0) varn_perror("Failed to set TCP keepalive on the client socket");
  VARNLog("Accepting Client\n");
  p->lane[d].outStart = 0;
  p->lane[d].outLen = 0;
  regStore(masters[p->board][4 + d], s);
}

void deliver(VARNBoardPump* p, int d, uint32_t held, uint64_t now);

void serveClientInput(VARNBoardPump* p, int d, uint32_t room, uint64_t now) {
  varn_socket c = clientOf(p, d);
  long got = varn_recv(c, p->buffer, room);
  if (got < 0 && (varn_error_would_block() || varn_error_is_interrupted())) return;
  if (got <= 0) {
    if (p->axiMode) {
      pairClosed(p, d);
    } else if (got == 0) {
      // End of its input only: the answer to what it sent may still be on its way.
      p->lane[d].inputClosed = true;
      p->lane[d].quietSinceNs = now;
    } else {
      dropClient(p, d, true);
    }
    return;
  }
  if (!p->axiMode && varn_set_quickack(c) != 0) VARNLog("Failed to set quickack!\n");
  const uint32_t received = static_cast<uint32_t>(got);
  uint32_t written = 0, answered = 0;
  // Over JTAG-UART the first read goes in the same exchange as the bytes (the lane's
  // buffer is free: input is served only when nothing is held), so a quick answer
  // needs no exchange of its own.
  const bool jtagUart = !p->coe && !p->jtag->transport->ownSerial(p->jtag, static_cast<uint32_t>(d));
  int rc = jtagUart ? VARNJtagUartWriteThenRead(p->jtag, static_cast<uint32_t>(d), p->buffer, received, &written,
                                                p->lane[d].out, VARN_TRANSFER_SIZE, &answered)
                    : VARNJtagUartV1WriteBytes(p->jtag, static_cast<uint32_t>(d), p->buffer, received, &written);
  if (p->coe) p->lane[d].pacer.spend(now, received);
  if (rc != 0) {
    VARNLog("Failed to send VARN JTAG Board %i Device %i V1 UART Byte: %i\n", p->board, d, rc);
    if (rc == 5) channelFailed(p, d, rc, now);
    // Whether the device got them is unknown, and a client that goes on as if it did
    // would be misled: it is told by the end of its connection.
    if (!p->axiMode) {
      VARNLog("Board %i Device %i: %u bytes from the client may not have reached the device; closing the client\n",
              p->board, d, received - written);
      dropClient(p, d, true);
    }
    return;
  }
  channelWorks(p, d);
  regAdd(deviceTxBytes[p->board][d], written);
  schedulePoll(p, d, now, true);
  if (written < received)
    VARNLog("VARN JTAG Board %i Device %i V1 UART Not All Bytes Written (%u/%u)\n", p->board, d, written, received);
  deliver(p, d, answered, now);
}

// Sends what the client can take now; false when the peer is gone (and dealt with).
bool sendHeld(VARNBoardPump* p, int d) {
  VARNDeviceLane& lane = p->lane[d];
  while (lane.outLen > 0) {
    long n = varn_send(clientOf(p, d), lane.out + lane.outStart, lane.outLen);
    if (n > 0) {
      lane.outStart += static_cast<uint32_t>(n);
      lane.outLen -= static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && varn_error_is_interrupted()) continue;
    if (n < 0 && varn_error_would_block()) return true;
    if (p->axiMode) {
      pairClosed(p, d);
    } else {
      dropClient(p, d, false);
    }
    return false;
  }
  lane.outStart = 0;
  lane.nextPollNs = 0;  // all taken: the device may be read again at once
  return true;
}

// `held` device bytes are in the lane's buffer: counted, and handed to the peer.
void deliver(VARNBoardPump* p, int d, uint32_t held, uint64_t now) {
  if (held == 0) return;
  regAdd(deviceRxBytes[p->board][d], held);
  if (!hasPeer(p, d)) return;  // counted, and dropped: nobody is there to take them
  VARNDeviceLane& lane = p->lane[d];
  lane.outStart = 0;
  lane.outLen = held;
  lane.quietSinceNs = now;
  sendHeld(p, d);
}

void drain(VARNBoardPump* p, int d, uint64_t now) {
  VARNDeviceLane& lane = p->lane[d];
  if (lane.outLen > 0) {
    // Read again once the client has taken what is held (sendHeld makes it due).
    lane.nextPollNs = UINT64_MAX;
    return;
  }
  if (!lane.health.due(now)) {
    lane.nextPollNs = now + VARN_BACKOFF_RECHECK_NS;
    return;
  }
  uint32_t held = 0;
  int rc = 0;
  while (held < VARN_TRANSFER_SIZE) {
    uint32_t got = 0;
    rc = VARNJtagUartV2ReadBytes(p->jtag, static_cast<uint32_t>(d), lane.out + held, VARN_TRANSFER_SIZE - held, &got,
                                 2);
    if (rc != 0 || got == 0) break;
    held += got < VARN_TRANSFER_SIZE - held ? got : VARN_TRANSFER_SIZE - held;
  }
  // A controller's UART bytes come out of the link's own buffer, which reads fine
  // while the link is down; only its writes (and its link state) say how it is.
  if (!p->coe) {
    if (rc == 5 && held == 0) {
      channelFailed(p, d, rc, now);
    } else if (rc == 0 || rc == 6) {
      channelWorks(p, d);
    }
  }
  schedulePoll(p, d, now, held > 0);
  deliver(p, d, held, now);
}

// A half-closed client is let go once its device has had nothing more to say for a while.
void endHalfClosed(VARNBoardPump* p, int d, uint64_t now) {
  const VARNDeviceLane& lane = p->lane[d];
  if (p->axiMode || !lane.inputClosed || lane.outLen > 0 || clientOf(p, d) <= 0) return;
  if (now - lane.quietSinceNs < VARN_HALF_CLOSED_QUIET_NS) return;
  dropClient(p, d, true);
}

}  // namespace

bool VARNBoardLinkAnswers(const VARNBoardPump* p) { return p->jtag->transport->linkUp(p->jtag); }

bool VARNBoardLinkUp(const VARNBoardPump* p) {
  return !p->coe || p->jtag->transport->linkUp(p->jtag);
}

void VARNBoardPumpInit(VARNBoardPump* p, int b) {
  p->board = b;
  p->devices = regLoad(devCounts[b]);
  if (p->devices > MAX_DEVICES) p->devices = MAX_DEVICES;
  p->jtag = regLoad(varnJtags[b]);
  p->coe = VARNJtagDeviceIsCoE(p->jtag) != 0;
  p->axiMode = gUseAXIBridge;
  if (p->coe) {
    if (varn_wake_open(&p->wake) == 0) {
      VNCoELinkSetUartWake(p->jtag->coeLink, &p->wake);
    } else {
      VARNLog("Board %i: no wake-up for the controller link's UART bytes; reading them every millisecond\n", b);
    }
  }
}

void VARNBoardPumpUseFixedWait(int64_t us) { gFixedWaitUs.store(us < 0 ? 0 : us); }

void VARNBoardPumpTurn(VARNBoardPump* p, uint64_t maxWaitNs) {
  WaitSets sets;
  sets.clear();
  uint64_t now = varn_monotonic_ns();
  const bool linkUp = VARNBoardLinkUp(p);
  const int64_t fixedWaitUs = gFixedWaitUs.load(std::memory_order_relaxed);
  uint64_t waitNs = maxWaitNs;
  uint32_t room[MAX_DEVICES] = {};
  for (int d = 0; d < p->devices; ++d) {
    const VARNDeviceLane& lane = p->lane[d];
    waitNs = minNs(waitNs, lane.nextPollNs > now ? lane.nextPollNs - now : 0);
    if (lane.health.failing()) waitNs = minNs(waitNs, VARN_BACKOFF_RECHECK_NS);
    if (!p->axiMode && listenerOf(p, d) > 0) sets.watch(&sets.read, listenerOf(p, d));
    if (!hasPeer(p, d)) continue;
    if (lane.outLen > 0) {
      sets.watch(&sets.write, clientOf(p, d));
      sets.anyWrite = true;
      continue;
    }
    // A client whose input has ended would read as ready for ever.
    room[d] = lane.inputClosed ? 0 : inputRoom(p, d, now, linkUp);
    if (room[d] > 0) {
      sets.watch(&sets.read, clientOf(p, d));
    } else if (!lane.inputClosed && p->coe && linkUp) {
      waitNs = minNs(waitNs, VARN_PACED_RECHECK_NS);
    }
  }
  if (announcedByLink(p)) sets.watch(&sets.read, p->wake.readEnd);

  const int64_t waitUs = fixedWaitUs > 0 ? fixedWaitUs : static_cast<int64_t>((waitNs + 999) / 1000);
  int r = varn_select(sets.maxFd + 1, &sets.read, sets.anyWrite ? &sets.write : nullptr, waitUs);
  if (r < 0 && !varn_error_is_interrupted()) {
    if (p->waitFailures++ == 0) VARNLog("Board %i socket wait failed: error %i\n", p->board, varn_error_code());
    varn_sleep_ms(1);  // a wait that keeps failing must not spin
    return;
  }
  p->waitFailures = 0;

  // An interrupted wait leaves the sets undefined: nothing counts as ready, and the
  // devices are drained as after a time-out.
  if (r > 0) {
    now = varn_monotonic_ns();
    if (announcedByLink(p) && FD_ISSET(p->wake.readEnd, &sets.read)) {
      varn_wake_clear(&p->wake);
      for (int d = 0; d < p->devices; ++d) p->lane[d].nextPollNs = now;
    }
    for (int d = 0; d < p->devices; ++d) {
      varn_socket l = listenerOf(p, d);
      if (!p->axiMode && l > 0 && FD_ISSET(l, &sets.read)) acceptOn(p, d);
    }
    for (int d = 0; d < p->devices; ++d) {
      varn_socket c = clientOf(p, d);
      if (c <= 0) continue;
      if (room[d] > 0 && FD_ISSET(c, &sets.read)) {
        serveClientInput(p, d, room[d], now);
      } else if (sets.anyWrite && FD_ISSET(c, &sets.write) && hasPeer(p, d)) {
        sendHeld(p, d);
      }
    }
  }

  // Devices are drained on every turn their poll is due, busy or not: a client that
  // keeps sending would otherwise starve its device's output until the FPGA's FIFOs
  // overflow.
  now = varn_monotonic_ns();
  for (int d = 0; d < p->devices; ++d) {
    if (fixedWaitUs > 0 || now >= p->lane[d].nextPollNs) drain(p, d, now);
    endHalfClosed(p, d, now);
  }
}
