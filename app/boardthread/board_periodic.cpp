#include "app/boardthread/board_periodic.h"

#include "app/boardthread/board_pump.h"
#include "app/boardthread/load_progress.h"
#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "app/telemetry/telemetry.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/varn_jtag.h"

namespace {

// Room for a path taken from the list: the list text itself is the longest choice.
constexpr size_t kPathRoom = 4096;

void readUserCode(VARNBoardPump* p, int d) {
  uint32_t code = 0;
  if (VARNJtagGetUserCode(p->jtag, static_cast<uint32_t>(d), &code) == 0) regStore(deviceUserCode[p->board][d], code);
}

// Telemetry and (without -b) the user codes: the reads that go over the board's link
// every step. A step that takes too long spaces the next ones out.
void sample(VARNBoardPump* p, VARNBoardPeriodic* s, uint64_t now) {
  if (!s->sampling.due(now)) return;
  const uint64_t began = varn_monotonic_ns();
  VARNTelemetrySampleBoard(p->board);
  if (!gLoadBits) {
    for (int d = 0; d < p->devices; ++d) readUserCode(p, d);
  }
  const uint64_t took = varn_monotonic_ns() - began;
  if (took > VARN_SLOW_SAMPLING_NS) {
    if (s->sampling.fail(varn_monotonic_ns()))
      VARNLog("Board %i sensor reads took %llu ms; sampling less often until they are quick again\n", p->board,
              static_cast<unsigned long long>(took / 1000000));
  } else if (s->sampling.succeed()) {
    VARNLog("Board %i sensor reads are quick again\n", p->board);
  }
}

}  // namespace

void VARNServeBitstreamLoad(VARNBoardPump* p, int d) {
  const int b = p->board;
  VARNLog("Starting Bitstream Load...\n");
  char chosen[kPathRoom];
  int valid = VARNBitstreamChooseFile(p->jtag, static_cast<uint32_t>(d), gBitList ? gBitList : "", chosen, sizeof chosen);
  if (valid != 0) {
    VARNLog("No Specified Bitstream is valid for VARN JTAG Board %i Device %i, Skipping\n", b, d);
    regStore(deviceStates[b][d], DeviceNotValid);
    return;
  }
  VARNLog("Using Bitstream %s for VARN JTAG Board %i Device %i\n", chosen, b, d);
  regStore(deviceLoadStatus[b][d], 0.0);
  regStore(deviceStates[b][d], Programming);
  int rc;
  {
    VARNLoadProgressLog progress(b, d, &deviceLoadStatus[b][d]);
    rc = VARNJtagLoadBitstream(p->jtag, static_cast<uint32_t>(d), chosen, 0, &deviceLoadStatus[b][d]);
  }
  if (rc != 0) {
    VARNLog("Failed to load VARN JTAG Board %i Device %i bitstream: %i\n", b, d, rc);
    regStore(deviceStates[b][d], BitLoadFailed);
    return;
  }
  VARNLog("VARN JTAG Board %i Device %i Bitstream Loaded\n", b, d);
  regStore(deviceStates[b][d], ProgrammingDone);
  regStore(deviceLoadStatus[b][d], 100.0);
  uint32_t code = 0;
  if (VARNJtagGetUserCode(p->jtag, static_cast<uint32_t>(d), &code) == 0) {
    regStore(deviceUserCode[b][d], code);
    VARNLog("VARN JTAG Board %i Device %i USR_ACCESS Value: 0x%08x\n", b, d, code);
  }
}

uint64_t VARNBoardPeriodicWaitNs(const VARNBoardPeriodic* s, uint64_t nowNs) {
  const uint64_t dueNs = s->lastNs + VARN_PERIODIC_INTERVAL_NS + 1;
  return nowNs >= dueNs ? 0 : dueNs - nowNs;
}

bool VARNBoardPeriodicStep(VARNBoardPump* p, VARNBoardPeriodic* s) {
  const uint64_t now = varn_monotonic_ns();
  if (now - s->lastNs <= VARN_PERIODIC_INTERVAL_NS) return false;
  // A board whose link is down (a CoE controller away, an FTDI chip off the bus) would
  // fail every read at once and log each failure; its load requests stay pending
  // until the link is back.
  const bool up = VARNBoardLinkAnswers(p);
  if (!up && !s->linkDown && !p->coe)
    VARNLog("Board %i: its USB JTAG channel is gone; sensor reads and loads stop until it is back\n", p->board);
  else if (up && s->linkDown && !p->coe)
    VARNLog("Board %i: its USB JTAG channel answers again\n", p->board);
  s->linkDown = !up;
  if (up) {
    sample(p, s, now);
    if (gLoadBits) {
      for (int d = 0; d < p->devices; ++d) {
        if (regTakeRequests(deviceBitstreamLoadReq[p->board][d]) != 0) VARNServeBitstreamLoad(p, d);
      }
    }
  }
  s->lastNs = varn_monotonic_ns();
  return true;
}
