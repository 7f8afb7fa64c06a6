// A CoE board's controller link comes and goes (a controller that reboots, a cable
// pulled): the board thread notices, says so once, keeps its ports and clients, and
// when the link is back sets the controller up again (JTAG speed and mode, chain, IR
// lengths, I2C and UART per slot), since a controller that restarted has forgotten
// all of it. A set-up that does not find the board's FPGAs again (the controller
// still not answering) leaves the board's device table as it was and is tried again
// with growing pauses.
#pragma once

#include <cstdint>

#include "app/boardthread/channel_backoff.h"

struct VARNBoardPump;

struct VARNBoardLinkWatch {
  bool down = false;
  bool setupPending = false;
  VARNChannelBackoff setupRetry{1000, 30000};
};

// Called every turn; cheap while nothing changes.
void VARNBoardWatchLink(VARNBoardPump* p, VARNBoardLinkWatch* watch);
