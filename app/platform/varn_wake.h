// A wake-up that one thread gives another which waits in varn_select: the waiting
// thread watches readFd() with its sockets; any thread may signal. Built on the
// platform's local socket pair, so it works wherever the sockets do.
#pragma once

#include <atomic>

#include "app/platform/varn_platform.h"

struct VARNWake {
  varn_socket readEnd = VARN_INVALID_SOCKET;
  varn_socket writeEnd = VARN_INVALID_SOCKET;
  // Set from the first signal until the waiter clears it: further signals write nothing,
  // so a busy signaller never fills the pair.
  std::atomic<bool> pending{false};
};

// 0, or -1 when the pair cannot be made (the waiter then falls back to short waits).
int varn_wake_open(VARNWake* w);
void varn_wake_close(VARNWake* w);
bool varn_wake_usable(const VARNWake* w);
// Any thread.
void varn_wake_signal(VARNWake* w);
// The waiting thread, after a wait and before it looks at what the signallers changed.
void varn_wake_clear(VARNWake* w);
