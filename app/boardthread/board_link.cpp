#include "app/boardthread/board_link.h"

#include <cstring>

#include "app/boardthread/board_pump.h"
#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

namespace {

// What a chain scan rewrites in the handle.
struct ChainTable {
  int32_t totalIrLength;
  uint32_t deviceCount;
  uint32_t idcodes[VARN_JTAG_MAX_DEVICES];
  int32_t deviceType[VARN_JTAG_MAX_DEVICES];
  int32_t irLength[VARN_JTAG_MAX_DEVICES];
  uint8_t coeSlot[VARN_JTAG_MAX_DEVICES];
};

ChainTable save(const VARNJtag* j) {
  ChainTable t;
  t.totalIrLength = j->totalIrLength;
  t.deviceCount = j->deviceCount;
  std::memcpy(t.idcodes, j->idcodes, sizeof t.idcodes);
  std::memcpy(t.deviceType, j->deviceType, sizeof t.deviceType);
  std::memcpy(t.irLength, j->irLength, sizeof t.irLength);
  std::memcpy(t.coeSlot, j->coeSlot, sizeof t.coeSlot);
  return t;
}

void restore(VARNJtag* j, const ChainTable& t) {
  j->totalIrLength = t.totalIrLength;
  j->deviceCount = t.deviceCount;
  std::memcpy(j->idcodes, t.idcodes, sizeof t.idcodes);
  std::memcpy(j->deviceType, t.deviceType, sizeof t.deviceType);
  std::memcpy(j->irLength, t.irLength, sizeof t.irLength);
  std::memcpy(j->coeSlot, t.coeSlot, sizeof t.coeSlot);
}

// True when the controller is set up and shows the board's FPGAs again.
bool setUpAgain(VARNBoardPump* p, VARNBoardLinkWatch* watch) {
  const ChainTable before = save(p->jtag);
  // The bus set-up runs again only when the handle says it has not run.
  p->jtag->busInitialized = 0;
  uint8_t count = 0;
  int rc = VARNJtagGetDeviceCount(p->jtag, &count);
  if (rc == 0 && count == before.deviceCount) return true;
  restore(p->jtag, before);
  if (watch->setupRetry.fail(varn_monotonic_ns())) {
    if (rc != 0) {
      VARNLog("Board %i set-up after the link came back failed (%i); trying again\n", p->board, rc);
    } else {
      VARNLog("Board %i set-up after the link came back found %i FPGAs instead of %u; trying again\n", p->board,
              static_cast<int>(count), before.deviceCount);
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
