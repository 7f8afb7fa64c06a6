// The inside of a _VNCoELink, shared by the files of the link (request side, link
// thread, packet parser, USB transport) and by the link's own tests.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "app/platform/varn_platform.h"
#include "app/platform/varn_wake.h"
#include "coe/coe_link.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

constexpr uint32_t VN_COE_SLOT_COUNT = 16;
constexpr uint32_t VN_COE_HEADER_SIZE = 8;
constexpr uint32_t VN_COE_MAX_RX_PACKET = 4096;   // largest packet the controller may send
constexpr uint32_t VN_COE_MAX_TX_PACKET = 65535;  // the 16-bit length field
constexpr uint32_t VN_COE_RX_CHUNK = 8192;
constexpr uint32_t VN_COE_UART_SLOTS = 4;
constexpr uint32_t VN_COE_UART_RING = 65536;

constexpr uint32_t VN_COE_HELLO_SETTLE_MS = 500;

// CoU boards: vendor, product, interface and bulk endpoints.
constexpr uint16_t VN_COU_VENDOR = 0x3122;
constexpr uint16_t VN_COU_PRODUCT = 0xC0ED;
constexpr unsigned char VN_COU_EP_OUT = 0x01;
constexpr unsigned char VN_COU_EP_IN = 0x81;
constexpr unsigned int VN_COU_TRANSFER_TIMEOUT_MS = 600;

struct CoeTransaction {
  uint8_t inUse;
  uint8_t sent;
  uint8_t done;
  uint16_t command;
  const uint8_t* payload;  // borrowed from the requester while it waits
  uint32_t payloadLen;
  uint16_t tag;
  uint16_t flags;
  uint16_t answerCommand;
  // The requester's own answer buffer: the link thread copies the answer straight into
  // it (at most answerCapacity bytes), so no answer is ever allocated.
  uint8_t* answerData;
  uint32_t answerLen;  // bytes stored in answerData
  uint16_t answerTag;
  uint16_t answerWord;
  uint32_t answerCapacity;
  uint8_t failed;     // completed without an answer (the connection dropped)
  uint64_t sequence;  // send order: answers with one tag go to the oldest request first
  uint8_t posted;     // in posts: nobody waits on it; the link thread releases it
  uint32_t* postedAnswerLen;  // a post's answer length output, or null
};

// Bytes of posted packets held for one send, and how many posted requests may await
// their answers at once. Posts have their own table, so they never take the slots of
// other threads' ordinary requests.
constexpr uint32_t VN_COE_POST_BUFFER = 16384;
constexpr uint32_t VN_COE_POST_MAX = 64;

struct _VNCoELink {
  char* address;
  uint16_t port;
  std::atomic<varn_socket> sock{VARN_INVALID_SOCKET};
  std::atomic<uint8_t> stop{0};
  uint8_t isUsb = 0;
  libusb_context* usbContext = nullptr;
  libusb_device* usbDevice = nullptr;
  libusb_device_handle* usbHandle = nullptr;
  std::atomic<uint8_t> usbReadDone{0};
  std::atomic<uint8_t> connected{0};
  // Signalled after UART bytes are stored, so the reader need not poll the rings.
  std::atomic<VARNWake*> uartWake{nullptr};
  std::thread thread;
  uint8_t rxBuf[VN_COE_MAX_RX_PACKET] = {};
  uint32_t rxLen = 0;
  uint8_t uartRing[VN_COE_UART_SLOTS][VN_COE_UART_RING] = {};
  uint16_t uartHead[VN_COE_UART_SLOTS] = {};
  uint16_t uartTail[VN_COE_UART_SLOTS] = {};
  CoeTransaction slots[VN_COE_SLOT_COUNT] = {};
  std::mutex lock;
  std::condition_variable answered;

  // Set by a requester whose answer never came or whose send failed: the stream can no
  // longer be trusted, so the link thread drops the connection and reconnects.
  std::atomic<uint8_t> dropRequested{0};
  uint64_t nextSequence = 0;  // under lock
  // Some controllers answer the hello sent after connecting (with tag 1, like a request),
  // some do not. A keepalive follows the hello at once; the controller answers in order,
  // so until the keepalive's answer (or the hello's) arrives, a tag-1 answer can only be
  // the hello's. Requests wait for that, at most VN_COE_HELLO_SETTLE_MS. Under lock.
  uint8_t helloPending = 0;
  uint64_t helloDeadlineNs = 0;
  std::atomic<uint32_t> answerTimeoutMs{VN_COE_ANSWER_TIMEOUT_MS};
  // Pacing of the link thread; the tests shorten them.
  std::atomic<uint64_t> keepaliveIntervalNs{10ull * 1000000000ull};
  std::atomic<uint32_t> retryDelayMs{1000};
  uint32_t connectTimeoutMs = 2000;
  // One outgoing packet, header and payload together, so it leaves in one send.
  uint8_t txBuf[VN_COE_MAX_TX_PACKET] = {};
  // Posted requests, under lock: their table, packets not sent yet, how many still
  // wait for their answers, how many were refused or lost since the last
  // VNCoELinkFlushPosted, and posters waiting for a free entry.
  CoeTransaction posts[VN_COE_POST_MAX] = {};
  uint8_t postBuf[VN_COE_POST_BUFFER] = {};
  uint32_t postLen = 0;
  uint32_t postedOutstanding = 0;
  uint32_t postedFailed = 0;
  uint32_t postWaiters = 0;

  // CoU receive side, used by the link thread only (and the callback it runs).
  libusb_transfer* usbIn = nullptr;
  uint8_t usbRxBuf[VN_COE_RX_CHUNK] = {};
  int usbReadLength = 0;
  int usbReadStatus = 0;
  std::atomic<int> usbOutPending{0};
  std::atomic<uint8_t> usbDeviceGone{0};
};

// --- link thread ----------------------------------------------------------------
void _VNCoELinkThread(_VNCoELink* link);
void _VNCoELinkConnect(_VNCoELink* link);
// Sends the keepalive when the interval has passed since the check-point.
void _VNCoELinkKeepalive(_VNCoELink* link, uint64_t* checkpointNs);

// --- request side, with lock held -----------------------------------------------
// Sends one whole packet on the link's transport. 0, or -1 when it could not go out
// whole (the connection is then marked lost).
int _sendall(_VNCoELink* link, const uint8_t* data, uint32_t len);
// Sends the posted packets held in postBuf (their slots count as sent from then on).
// 0, or -1 as _sendall.
int _VNCoELinkSendPosted(_VNCoELink* link);
// Waits (lock held by `hold`) until no greeting is pending; VN_COE_OK, or
// VN_COE_NOT_CONNECTED when the link went down meanwhile.
int _VNCoELinkAwaitGreeting(_VNCoELink* link, std::unique_lock<std::mutex>& hold);
// Header and payload into txBuf, then _sendall. Posted packets still held go first.
int _VNCoELinkSendPacket(_VNCoELink* link, uint16_t tag, uint16_t command, uint16_t flags, const uint8_t* payload,
                         uint32_t payloadLen);
// Right after a connection is up (lock held): the hello, then a keepalive whose answer
// tells that the hello's answer, if the controller sends one, has passed.
void _VNCoELinkGreet(_VNCoELink* link);
// The connection is gone or out of step: no more sends, every request in flight
// completes at once as failed, and the link thread is asked to reconnect.
void _VNCoELinkMarkLost(_VNCoELink* link);

// --- receive side (link thread) -------------------------------------------------------
void _VNCoELinkParsePacket(_VNCoELink* link, const uint8_t* data, uint32_t len);
void _VNCoELinkDispatch(_VNCoELink* link, const uint8_t* packet, uint32_t len);

// --- CoU transport -------------------------------------------------------------------
// "usb://BUS.ADDR" with two decimal numbers and nothing else. true when it parses.
bool _VNCoEParseCoUAddress(const char* address, unsigned* bus, unsigned* deviceAddress);
void _VNCoUConnect(_VNCoELink* link);
// Runs the connected CoU link until stop, or until the device goes away.
void _VNCoURun(_VNCoELink* link);
// Releases everything the CoU connection holds (interface, handle, device, context).
void _VNCoUClose(_VNCoELink* link);
int _VNCoUSend(_VNCoELink* link, const uint8_t* data, uint32_t len);
#ifndef _WIN32
// Completion of the IN transfer (user_data is the link): logs a status other than
// completed, keeps the length and status for the link thread, sets usbReadDone.
void usbReadCb(libusb_transfer* transfer);
#endif

inline uint16_t _VNCoELe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void _VNCoEPutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
