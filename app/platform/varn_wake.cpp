#include "app/platform/varn_wake.h"

int varn_wake_open(VARNWake* w) {
  varn_socket pair[2];
  if (varn_socketpair(pair) != 0) return -1;
  if (varn_set_nonblocking(pair[0], true) != 0 || varn_set_nonblocking(pair[1], true) != 0 ||
      !varn_socket_selectable(pair[0], "a thread's wake-up")) {
    varn_close_socket(pair[0]);
    varn_close_socket(pair[1]);
    return -1;
  }
  w->readEnd = pair[0];
  w->writeEnd = pair[1];
  w->pending.store(false);
  return 0;
}

void varn_wake_close(VARNWake* w) {
  if (varn_socket_valid(w->readEnd)) varn_close_socket(w->readEnd);
  if (varn_socket_valid(w->writeEnd)) varn_close_socket(w->writeEnd);
  w->readEnd = w->writeEnd = VARN_INVALID_SOCKET;
}

bool varn_wake_usable(const VARNWake* w) { return varn_socket_valid(w->readEnd); }

void varn_wake_signal(VARNWake* w) {
  if (!varn_socket_valid(w->writeEnd) || w->pending.exchange(true)) return;
  const uint8_t one = 1;
  varn_send(w->writeEnd, &one, 1);
}

void varn_wake_clear(VARNWake* w) {
  if (!varn_socket_valid(w->readEnd)) return;
  // The bytes first, then the flag: a signal that comes in between finds the flag still
  // set and writes nothing, and what it announced was stored before it, so this turn's
  // reads see it. The other order could read the byte of a signal that then leaves the
  // flag set with nothing to wake on, and every later signal would be lost.
  uint8_t sink[64];
  while (varn_recv(w->readEnd, sink, sizeof sink) > 0) {
  }
  w->pending.store(false);
}
