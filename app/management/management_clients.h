// The management clients, served from the main loop: 64 slots, the requests they send,
// and the frames going out to them. Nothing here blocks the main loop: client sockets
// are non-blocking, every client has its own bounded queue of whole frames, a frame
// that does not fit a client's queue is skipped for that client (never cut), and a
// client that takes nothing for a while is let go.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "app/management/management_frames.h"
#include "app/platform/varn_platform.h"

constexpr int VARN_MGMT_CLIENTS = 64;
constexpr int VARN_MGMT_BACKLOG = 16;
constexpr size_t VARN_MGMT_RECEIVE = 8192;
// Room for two of the largest frames per client.
constexpr size_t VARN_MGMT_QUEUE = 2 * VARN_MGMT_FRAME_MAX;
// A client that has taken no byte for this long while a frame had to be skipped for it
// is closed.
constexpr uint64_t VARN_MGMT_STALL_NS = 5000000000ull;

// What the clients asked for since the last turn work.
struct VARNMgmtRequests {
  bool deviceList = false;
  bool telemetry = false;
  bool loadAll = false;
};

struct VARNMgmtClient {
  varn_socket socket = VARN_INVALID_SOCKET;
  std::unique_ptr<uint8_t[]> queue;  // VARN_MGMT_QUEUE bytes while connected
  size_t head = 0;                    // first unsent byte
  size_t length = 0;                  // unsent bytes
  uint64_t lastTakenNs = 0;           // when the client last took bytes (or connected)
  uint32_t skippedFrames = 0;
};

struct VARNMgmt {
  varn_socket listener = VARN_INVALID_SOCKET;
  VARNMgmtClient clients[VARN_MGMT_CLIENTS];
  uint8_t frame[VARN_MGMT_FRAME_MAX];
};

// Decodes the request at the start of a received chunk; returns its length, or 0 when
// the bytes are not a whole request (the rest of the chunk is then ignored). A load
// request replaces `reported` (reportedSize bytes, terminated) only when its whole name
// arrived.
size_t VARNMgmtDecodeRequest(const uint8_t* chunk, size_t length, VARNMgmtRequests* requests, char* reported,
                             size_t reportedSize);

// Adds the listener, every client, and (to the write set) every client with frames
// waiting; returns the highest descriptor plus one.
int VARNMgmtFillSets(VARNMgmt* m, fd_set* readSet, fd_set* writeSet);
// After a wait with activity: client messages first, then a pending connection, then
// queued frames to clients that can take them.
void VARNMgmtServe(VARNMgmt* m, const fd_set* readSet, const fd_set* writeSet, VARNMgmtRequests* requests,
                   char* reported, size_t reportedSize);
// Queues the frame for every client and sends what each can take now.
void VARNMgmtBroadcast(VARNMgmt* m, const uint8_t* frame, size_t length);
int VARNMgmtClientCount(const VARNMgmt* m);
