// The multi-client AXI bridge: up to 16 TCP clients share one FPGA's AXI packet
// stream. Requests go upstream under the bridge's own sequence numbers, answers come
// back to the client that asked (with its own sequence number restored), interrupts
// fan out by each client's registered mask, and bulk payloads pass through whole.
// One thread per bridge does all the work.
#pragma once

#include <cstdint>

#include "app/platform/varn_platform.h"

struct VARNAXIBridge;

constexpr int VARN_AXI_BRIDGE_MAX_CLIENTS = 16;
// Largest bulk write a client may pass through. The bridge gathers each payload whole
// before it goes upstream (so a client that stalls or leaves mid-payload costs the
// others nothing), which bounds its memory to this much per client. A longer bulk write
// (or a length that is not a multiple of 16) is refused with a log line and its
// client's connection closed.
constexpr uint32_t VARN_AXI_BRIDGE_MAX_BULK = 1024u * 1024;
// An upstream request unanswered for this long is overdue: its number comes back into
// use as soon as the FPGA has answered a request sent after it (the FPGA answers in
// order), never before, so that a late answer cannot reach another request. While
// numbers are overdue the bridge sends a test request of its own, under one reserved
// number, every second to learn that; clients share the other 255, each at most its
// part (255 divided by the clients connected).
constexpr int VARN_AXI_BRIDGE_RECLAIM_MS = 5000;
// A bulk write must be complete this long after its header, plus a millisecond for every
// VARN_AXI_BRIDGE_BULK_MIN_BYTES_PER_MS bytes of payload; otherwise its client is dropped.
constexpr int VARN_AXI_BRIDGE_BULK_STALL_MS = 5000;
constexpr uint32_t VARN_AXI_BRIDGE_BULK_MIN_BYTES_PER_MS = 16;
// The bridge never waits for a client: a client whose socket is full is kept up to
// 8 KiB of answers more, and dropped when it does not take them.

// `upstream`: the stream to the FPGA side (one end of a socket pair whose other end
// the board thread pumps). `listener`: the listening TCP socket of the port. Neither
// is closed by destroy; when the upstream is lost the bridge closes its clients and
// the listener and stops serving. Null when it cannot be started.
VARNAXIBridge* VARNAXIBridgeCreate(varn_socket upstream, varn_socket listener);
// Stops the thread promptly (it has a wake-up of its own), closes the clients and
// frees the handle; clears *bridge.
void VARNAXIBridgeDestroy(VARNAXIBridge** bridge);
// 0 while the bridge serves, 6 once it has stopped (lost upstream, wait error).
// Optional outputs: connected clients, upstream sequence numbers in use.
int VARNAXIBridgeStatus(VARNAXIBridge* bridge, int* clients, int* inFlight);
