// The board-controller link of CoE (TCP) and CoU (USB bulk) boards: one handle per
// board with its own thread that connects, reconnects, reassembles packets, matches
// answers to waiting requests by tag and keeps the controller's UART bytes per slot.
#pragma once

#include <cstdint>

#include "coe/coe_commands.h"

struct _VNCoELink;

constexpr uint16_t VN_COE_PORT = 21363;
constexpr uint16_t VN_COE_FLAGS = 0x8000;
constexpr uint16_t VN_COE_TAG_REQUEST = 1;
constexpr uint16_t VN_COE_TAG_UART = 2;
constexpr uint16_t VN_COE_TAG_NOANSWER = 3;

// Result codes of the link.
enum : int {
  VN_COE_OK = 0,
  VN_COE_NOT_CONNECTED = 2,
  VN_COE_SLOTS_BUSY = 3,
  VN_COE_BAD_ARGUMENT = 4,  // UART slot above 3, payload missing or longer than a packet can carry
  VN_COE_NO_ANSWER = 5,  // no answer within the bound, or the connection dropped while waiting
};

// Copies the address ("a.b.c.d" for TCP, "usb://bus.addr" for USB), starts the link
// thread and returns at once; null when memory runs out.
_VNCoELink* VNCoELinkCreate(const char* address, uint16_t port);
uint8_t VNCoELinkIsConnected(_VNCoELink* link);
// One request, one answer. Outputs may be null. Returns a code above.
int VNCoELinkTransaction(_VNCoELink* link, uint16_t command, uint16_t tag, uint16_t flags, const uint8_t* payload,
                         uint32_t payloadLen, uint16_t* answerCommand, uint16_t* answerWord, uint8_t* answer,
                         uint32_t* answerLen, uint32_t answerCapacity);
// A request whose answer nobody waits for now, so that a run of requests costs one
// round trip: the packet is held and goes out with the next ordinary request or
// VNCoELinkFlushPosted, in order. The answer's first `capacity` bytes are copied to
// `answer` (may be null) when it arrives, and their count to *answerLen (may be null;
// left alone when no answer comes); both must stay valid until the flush returns. A
// negative answer counts as a failure (its code is what lands in `answer`). Posts do not take the 16 slots of
// VNCoELinkTransaction; while all 64 posts await answers, it first waits (within the
// answer bound) for one. Returns a code above.
int VNCoELinkPost(_VNCoELink* link, uint16_t command, uint16_t tag, const uint8_t* payload, uint32_t payloadLen,
                  uint8_t* answer, uint32_t capacity, uint32_t* answerLen = nullptr);
// Sends what is held and waits until every posted request is answered (or the link
// gave up on them). *failed (may be null) receives how many failed since the last
// flush. VN_COE_OK, or VN_COE_NO_ANSWER when the answers did not come in time.
int VNCoELinkFlushPosted(_VNCoELink* link, uint32_t* failed);
// Takes up to capacity bytes from the slot's UART ring, oldest first. 0, or 4 for a slot above 3.
int VNCoELinkReadUART(_VNCoELink* link, uint8_t slot, uint8_t* buffer, uint32_t capacity, uint32_t* count);
void VNCoELinkDestroy(_VNCoELink* link);
// Signals `wake` whenever UART bytes arrive (null: no longer). The wake must outlive
// the link or be taken off first.
struct VARNWake;
void VNCoELinkSetUartWake(_VNCoELink* link, VARNWake* wake);

// How long a request waits for its answer before it fails with VN_COE_NO_ANSWER and the
// link reconnects to get back in step with the controller (3000 ms unless changed).
constexpr uint32_t VN_COE_ANSWER_TIMEOUT_MS = 3000;
void VNCoELinkSetAnswerTimeout(_VNCoELink* link, uint32_t ms);
