// The bridge's handle: its thread, the wake-up that ends the thread's wait at once,
// and the counts the thread publishes.
#include "axi/varn_axi_bridge.h"

#include <memory>
#include <new>

#include "app/log/varn_log.h"
#include "axi/axi_bridge_worker.h"

using axibridge::Worker;

VARNAXIBridge* VARNAXIBridgeCreate(varn_socket upstream, varn_socket listener) {
  VARNAXIBridge* b = new (std::nothrow) VARNAXIBridge;
  if (!b) return nullptr;
  b->upstream = upstream;
  b->listener = listener;
  for (auto& c : b->clients) c = VARN_INVALID_SOCKET;
  if (varn_socketpair(b->wake) != 0) {
    varn_perror("AXI bridge wake-up socket pair");
    delete b;
    return nullptr;
  }
  if (!varn_socket_selectable(upstream, "AXI bridge upstream") ||
      !varn_socket_selectable(listener, "AXI bridge listener") ||
      !varn_socket_selectable(b->wake[0], "AXI bridge wake-up")) {
    varn_close_socket(b->wake[0]);
    varn_close_socket(b->wake[1]);
    delete b;
    return nullptr;
  }
  if (varn_set_nonblocking(upstream, true) != 0) varn_perror("AXI bridge upstream non-blocking");
  try {
    b->workThread = std::thread([b] {
      // The worker's buffers (about 150 KiB) live on the heap, made once.
      std::unique_ptr<Worker> w(new Worker(b));
      w->run();
    });
  } catch (const std::exception& e) {
    VARNLog("Failed to start the AXI bridge thread: %s\n", e.what());
    varn_close_socket(b->wake[0]);
    varn_close_socket(b->wake[1]);
    delete b;
    return nullptr;
  }
  return b;
}

void VARNAXIBridgeDestroy(VARNAXIBridge** handle) {
  if (!handle || !*handle) return;
  VARNAXIBridge* b = *handle;
  *handle = nullptr;
  b->running = 0;
  uint8_t one = 1;
  varn_send(b->wake[1], &one, 1);
  if (b->workThread.joinable()) b->workThread.join();
  varn_close_socket(b->wake[0]);
  varn_close_socket(b->wake[1]);
  delete b;
}

int VARNAXIBridgeStatus(VARNAXIBridge* bridge, int* clients, int* inFlight) {
  if (!bridge) return 6;
  if (clients) *clients = bridge->clientCount;
  if (inFlight) *inFlight = bridge->inFlight;
  return bridge->serving ? 0 : 6;
}
