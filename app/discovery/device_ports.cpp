#include "app/discovery/device_ports.h"

#include <cstdlib>
#include <cstring>

#include "app/log/varn_log.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "axi/varn_axi.h"
#include "axi/varn_axi_bridge.h"
#include "jtag/varn_jtag.h"

uint16_t VARNBindFirstFreePort(varn_socket s, uint16_t start) {
  // Ports never wrap round past 65535 to low ones.
  uint32_t port = start == 0 ? 1 : start;
  for (int tried = 0; tried < VARN_PORT_SEARCH_LIMIT && port <= 65535; ++tried, ++port) {
    if (varn_bind_any(s, static_cast<uint16_t>(port)) == 0) return static_cast<uint16_t>(port);
    if (!varn_error_is_addrinuse()) {
      varn_perror("Failed binding socket to port\n");
      VARNLog("Binding TCP port %u failed (error %i)\n", port, varn_error_code());
      return 0;
    }
  }
  if (port > 65535)
    VARNLog("No free TCP port from %hu up to 65535\n", start);
  else
    VARNLog("No free TCP port among the %i from %hu upwards\n", VARN_PORT_SEARCH_LIMIT, start);
  return 0;
}

// The board thread (or the bridge) waits on these sockets with fd_sets: a descriptor
// the set cannot hold would be written past its end.
static bool fitsWaitSet(varn_socket s) {
#ifndef _WIN32
  if (s >= FD_SETSIZE) {
    VARNLog("Socket %i is beyond what the wait can watch (%i)\n", static_cast<int>(s), static_cast<int>(FD_SETSIZE));
    return false;
  }
#endif
  return true;
}

// Binds and listens; returns the port, or 0 (the socket is then closed and its table
// entry cleared, so that nobody waits on a dead descriptor).
static uint16_t listenOnFreePort(int b, int d, varn_socket s) {
  uint16_t port = VARNBindFirstFreePort(s, gStartPort);
  if (port == 0) {
    varn_close_socket(s);
    regStore(masters[b][d], 0);
    return 0;
  }
  if (varn_listen(s, 1) != 0) {
    varn_perror("Error listening on port\n");
    varn_close_socket(s);
    regStore(masters[b][d], 0);
    return 0;
  }
  // A wait cut short by a signal says nothing about which socket is ready; an accept
  // on a listener with nobody waiting must return at once rather than block the board.
  if (varn_set_nonblocking(s, true) != 0) varn_perror("Failed to make the listening socket non-blocking\n");
  return port;
}

static bool isLocalAXIPart(const char* name) { return std::strcmp(name, "VU35P") == 0 || std::strcmp(name, "VU33P") == 0; }

// The bridge takes the port's TCP clients; the board thread pumps the device's byte
// stream through the socket pair. VU35P/VU33P devices of USB boards also get the
// program's own AXI link for their rail sensors.
static void openBridge(int b, int d, varn_socket listener, uint16_t port) {
  varn_socket pair[2] = {VARN_INVALID_SOCKET, VARN_INVALID_SOCKET};
  if (varn_socketpair(pair) != 0) {
    varn_perror("Error making socket pair\n");
    std::exit(1);
  }
  if (!fitsWaitSet(pair[0]) || !fitsWaitSet(pair[1])) {
    VARNLog("Board %i Device %i gets no AXI bridge\n", b, d);
    varn_close_socket(pair[0]);
    varn_close_socket(pair[1]);
    return;
  }
  // The board thread never blocks on its end: it sends what the bridge can take now
  // and keeps the rest for the next turn.
  if (varn_set_nonblocking(pair[1], true) != 0) varn_perror("Failed to make the socket pair non-blocking\n");
  regStore(bridges[b][d], listener);
  regStore(bridges[b][4 + d], pair[0]);
  regStore(masters[b][4 + d], pair[1]);
  VARNAXIBridge* bridge = VARNAXIBridgeCreate(pair[0], listener);
  regStore(axiBridges[b][d], bridge);
  if (bridge == nullptr) {
    // Nobody would accept on the port, so a local link to it could never be answered.
    VARNLog("Failed to start the AXI bridge for Board %i Device %i (port %hu)\n", b, d, port);
    return;
  }

  VARNJtag* jtag = regLoad(varnJtags[b]);
  uint32_t idcode = 0, slrs = 0;
  char name[VARN_JTAG_NAME_SIZE] = {};
  int rc = VARNJtagGetDeviceInfo(jtag, static_cast<uint32_t>(d), &idcode, name, &slrs);
  if (!gDisableLocalAXI && !VARNJtagDeviceIsCoE(jtag) && rc == 0 && isLocalAXIPart(name)) {
    if (gUseFTDIUart) {
      VARNLog("Using an LR - enabling AXI-I2C bridge\n");
      regStore(localAXIIsLR[b][d], 1);
      regStore(localAXIIsZK[b][d], 0);
    } else {
      VARNLog("Using JTAG-UART on a ZK - enabling AXI-I2C bridge\n");
      regStore(localAXIIsLR[b][d], 0);
      regStore(localAXIIsZK[b][d], 1);
    }
    _VARNAXI* link = VARNAXICreate(0, "127.0.0.1", port);
    if (link == nullptr) {
      VARNLog("Failed to open the local AXI link of Board %i Device %i to port %hu\n", b, d, port);
    } else {
      VARNAXISetTimeout(link, 2500);
    }
    regStore(localAXI[b][d], link);
  }
}

VARNPortsResult VARNOpenDevicePorts(int b, FILE* portsFile) {
  const int count = regLoad(devCounts[b]);
  for (int d = 0; d < count; ++d) {
    varn_socket s = varn_tcp_socket();
    if (!varn_socket_valid(s)) {
      varn_perror("Failed to create socket\n");
      return VARN_PORTS_ABANDONED;
    }
    regStore(masters[b][d], s);
    if (varn_set_reuseaddr(s) != 0) varn_perror("Failed to set SO_REUSEADDR\n");
    if (varn_set_nodelay(s) != 0) varn_perror("Failed to set TCP_NODELAY on socket\n");

    regStore(ports[b][d], 0);
    uint16_t port = 0;
    if (fitsWaitSet(s)) {
      port = listenOnFreePort(b, d, s);
    } else {
      varn_close_socket(s);
      regStore(masters[b][d], 0);
    }
    regStore(ports[b][d], port);

    if (port == 0) {
      VARNLog("Failed to open TCP port for device %i on board %i\n", d, b);
      continue;
    }
    if (!gUseAXIBridge) {
      VARNLog("Opened virtual TCP serial port %hu\n", port);
      if (portsFile != nullptr) std::fprintf(portsFile, "tcp://<hostname>:%hu\n", port);
      continue;
    }
    openBridge(b, d, s, port);
    VARNLog("Opened multi-client virtual TCP AXI port %hu\n", port);
    if (portsFile != nullptr) std::fprintf(portsFile, "AXI://<hostname>:%hu\n", port);
  }
  return VARN_PORTS_OPENED;
}
