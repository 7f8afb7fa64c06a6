#include "app/boardthread/board_link.h"

#include "app/boardthread/board_pump.h"
#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"

namespace {

// True when the controller is set up and shows the board's FPGAs again.
bool setUpAgain(VARNBoardPump* p, VARNBoardLinkWatch* watch) {
  uint32_t count = 0;
  const int rc = p->jtag->transport->reapplySetup(p->jtag, &count);
  if (rc == 0 && count == p->jtag->deviceCount) return true;
  if (watch->setupRetry.fail(varn_monotonic_ns())) {
    if (rc != 0) {
      VARNLog("Board %i set-up after the link came back failed (%i: %s); trying again\n", p->board, rc,
              VARNJtagResultText(rc));
    } else {
      VARNLog("Board %i set-up after the link came back found %u FPGAs instead of %u; trying again\n", p->board,
              count, p->jtag->deviceCount);
    }
  }
  return false;
}

}  // namespace

void VARNBoardWatchLink(VARNBoardPump* p, VARNBoardLinkWatch* watch) {
  if (!p->coe) return;
  if (!VARNBoardLinkUp(p)) {
    if (!watch->down)
      VARNLog("Board %i lost its CoE controller link; its ports stay open and wait for it\n", p->board);
    watch->down = true;
    return;
  }
  if (watch->down) {
    watch->down = false;
    watch->setupPending = true;
    watch->setupRetry.succeed();
    VARNLog("Board %i CoE controller link is back; setting the board up again\n", p->board);
  }
  if (!watch->setupPending || !watch->setupRetry.due(varn_monotonic_ns())) return;
  if (!setUpAgain(p, watch)) return;
  watch->setupPending = false;
  watch->setupRetry.succeed();
  VARNLog("Board %i is set up again\n", p->board);
  for (int d = 0; d < p->devices; ++d) p->lane[d].health.succeed();
}
