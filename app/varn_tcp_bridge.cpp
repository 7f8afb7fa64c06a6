// varn_tcp_bridge: makes the FPGA boards attached to this host usable over the network.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/cli/command_line.h"
#include "app/cli/help_text.h"
#include "app/discovery/scan_devices.h"
#include "app/log/log_writer.h"
#include "app/log/varn_log.h"
#include "app/mainloop/main_loop.h"
#include "app/management/management_clients.h"
#include "app/management/management_listener.h"
#include "app/platform/varn_platform.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "console/varn_gui.h"

// With the console view on, the log went only into the ring; without this the user
// would see nothing of why the program stopped.
static void printLogRing() {
  std::lock_guard<std::mutex> hold(logMutex);
  for (const auto& slot : gLogBuffer) std::printf("%s", slot);
  std::fflush(stdout);
}

int main(int argc, char* argv[]) {
  // Line by line even into a pipe, so that tee and log collectors keep up.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

  VARNLogInit();
  VARNRegistryClearBoardCounts();
  varn_net_init();
#ifdef _WIN32
  if (varn_timer_resolution_init() == 0) {
    VARNLog("High resolution timers enabled\n");
  } else {
    VARNLog("Failed to enable high resolution timers\n");
  }
#endif

  if (VARNWantsHelp(argc, argv)) {
    VARNPrintHelp();
    return -1;
  }
  VARNParseOptions(argc, argv);
  // From here on no thread waits for the console or the log file.
  VARNLogStartWriter();
  VARNAnnounceModes();

  varn_socket managementListener = VARN_INVALID_SOCKET;
  if (gUseManagement && VARNManagementOpen(&managementListener) != 0) return -1;

  int scanTarget = VARNChooseScanTarget();
  VARNRegistryClearBoardTables();
  scanDevices(scanTarget);

  if (regLoad(boardCnt) == 0) {
    VARNLog("Exiting with 0 active devices\n");
    if (gUseGUI) printLogRing();
    std::exit(0);
  }

  // From here on the main thread serves the local-AXI rails, the telemetry report and
  // (with -g) the console view for the rest of the process.
  VARNMainLoopState loop;
  VARNMainLoopInit(&loop);
  if (gUseGUI) {
    char why[128];
    if (guiInit(why, sizeof why) != 0) {
      VARNLog("Cannot start the console view (-g): %s\n", why);
      printLogRing();
      return -1;
    }
    loop.consoleTurn = guiLoop;
  }
  if (varn_socket_valid(managementListener)) {
    // The frame buffer and the 64 client slots live for the rest of the process.
    loop.mgmt = new VARNMgmt;
    loop.mgmt->listener = managementListener;
  }
  VARNMainLoopRun(&loop);
}
