// Handing a CoE board to the XVC server.
#include <new>
#include <thread>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag.h"
#include "xvc/varn_xvc.h"

namespace {

struct XvcThreadArgs {
  VARNJtag* jtag;
  uint16_t port;
};

void _xvcThread(XvcThreadArgs* args) { VNCoEStartXVC(args->jtag->coeLink, args->port); }

}  // namespace

int VARNJtagSwitchToXVC(VARNJtag* jtag, uint16_t port) {
  if (!VARN_PLATFORM_HAS_XVC) {
    VARNLog("XVC Only Supported in Linux\n");
    return VARN_JTAG_NOT_SUPPORTED;
  }
  if (jtag == nullptr || !VARNJtagDeviceIsCoE(jtag) || jtag->coeLink == nullptr) return VARN_JTAG_NOT_SUPPORTED;
  // The argument block lives as long as the server, which is for ever.
  XvcThreadArgs* args = new (std::nothrow) XvcThreadArgs{jtag, port};
  if (args == nullptr) return VARN_JTAG_NO_RESOURCES;
  jtag->xvcActive = 1;
  try {
    std::thread(_xvcThread, args).detach();
  } catch (const std::exception& e) {
    jtag->xvcActive = 0;
    VARNLog("XVC server thread failed to start: %s\n", e.what());
    delete args;
    return VARN_JTAG_NO_RESOURCES;
  }
  return VARN_JTAG_OK;
}
