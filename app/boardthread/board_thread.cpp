#include "app/boardthread/board_thread.h"

#include <memory>
#include <thread>

#include "app/boardthread/board_link.h"
#include "app/boardthread/board_periodic.h"
#include "app/boardthread/board_pump.h"
#include "app/discovery/scan_gate.h"
#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "app/voltage/voltage_list.h"
#include "jtag/varn_jtag.h"
#include "power/varn_vrm.h"
#include "xvc/varn_xvc.h"

namespace {

// The regulator operations number the rails 0, 2, 4.
uint32_t vrmRailOf(VARNRail rail) {
  switch (rail) {
    case VARN_RAIL_VCCINT: return VARN_VRM_VCCINT;
    case VARN_RAIL_VCCBRAM: return VARN_VRM_VCCBRAM;
    case VARN_RAIL_VCCHBM: return VARN_VRM_VCCHBM;
  }
  return VARN_VRM_VCCINT;
}

int writeVrmSetpoint(void* context, int board, int device, VARNRail rail, double volts) {
  return VARNJtagSetVRMVoltSetpoint(static_cast<VARNJtag*>(context), static_cast<uint32_t>(device), vrmRailOf(rail),
                                    volts);
}

void startUp(VARNBoardPump* p) {
  const int b = p->board;
  const int n = p->devices;
  varn_sleep_ms(1000);
  VARNScanGateWait();

  for (int d = 0; d < n; ++d) {
    regStore(deviceTxBytes[b][d], 0);
    regStore(deviceRxBytes[b][d], 0);
    regStore(deviceStates[b][d], Waiting);
    regStore(deviceInitialized[b][d], 0);
    regStore(deviceUserCode[b][d], VARN_USER_CODE_NONE);
  }

  VARNLog("Thread starting for board %i\n", b);
  VARNLog("Applying any PMIC Hotfixes\n");
  for (int d = 0; d < n; ++d) VARNJtagApplyVRMPMICPatches(p->jtag, static_cast<uint32_t>(d));

  for (int d = 0; d < n; ++d) regStore(deviceBitstreamLoadReq[b][d], 1);

  // With a local AXI link on device 0 the main loop sets the rails through it.
  if (n > 0 && regLoad(localAXI[b][0]) == nullptr) {
    for (VARNRail rail : {VARN_RAIL_VCCINT, VARN_RAIL_VCCBRAM, VARN_RAIL_VCCHBM}) {
      for (int d = 0; d < n; ++d) VARNApplyStartupVoltage(rail, b, d, writeVrmSetpoint, p->jtag);
    }
  }

  // Boards without a board controller refuse it; the board then stays with this program.
  if (gEnableXVC) VARNJtagSwitchToXVC(p->jtag, gXVCPort);
}

}  // namespace

void boardthread(int* boardNumberPointer) {
  // The pump holds the transfer buffers of four devices: kept off the thread's stack.
  auto pump = std::make_unique<VARNBoardPump>();
  VARNBoardPumpInit(pump.get(), *boardNumberPointer);
  startUp(pump.get());

  VARNBoardPeriodic periodic;
  periodic.lastNs = varn_monotonic_ns();
  VARNBoardLinkWatch link;
  for (;;) {
    VARNBoardWatchLink(pump.get(), &link);
    VARNBoardPumpTurn(pump.get(), VARNBoardPeriodicWaitNs(&periodic, varn_monotonic_ns()));
    VARNBoardPeriodicStep(pump.get(), &periodic);
  }
}

void VARNStartBoardThread(int* boardNumberPointer) {
  std::thread worker(boardthread, boardNumberPointer);
  boardThreads[*boardNumberPointer] = worker.get_id();
  worker.detach();
}
