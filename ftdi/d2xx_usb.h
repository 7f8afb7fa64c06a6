// The seam between the D2XX logic and the USB stack. Everything above it (the
// device list, the read-ahead reader, the FT_* calls) is plain C++ that the tests
// drive with a fake; below it sits the one real implementation over libftdi1/libusb
// (d2xx_libftdi.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace varn_d2xx {

// Result codes of the USB calls. They keep libusb's numbers so the real layer can
// pass them through unchanged; any other negative value is a failure as well.
enum : int {
  kUsbOk = 0,
  kUsbIoError = -1,
  kUsbAccessDenied = -3,
  kUsbNoDevice = -4,
  kUsbBusy = -6,
  kUsbTimeout = -7,
  kUsbInterrupted = -10,
};

// Returned by setBaudRate when the chip cannot make the rate within tolerance.
constexpr int kUsbBadRate = -1001;

// Returned by findChips when the machine has no usable USB stack at all (no usbfs,
// libusb cannot start): the device list is then empty rather than an error.
constexpr int kUsbUnavailable = -1000;

// One FTDI chip as the bus describes it, read once per device-list snapshot.
struct UsbChip {
  uint8_t bus = 0;
  uint8_t address = 0;
  uint16_t vid = 0;
  uint16_t pid = 0;
  uint16_t bcdDevice = 0;
  uint8_t interfaces = 0;   // bNumInterfaces of the active configuration, 0 if unknown
  bool highSpeed = false;
  char serial[64] = {};      // iSerialNumber text, empty when the chip has none
  char description[128] = {};  // iProduct text
};

// One opened channel of a chip. All calls may run concurrently with bulkRead on the
// reader thread except where the caller pauses the reader (purge, bit mode, chunk
// sizes). Every call returns kUsbOk or a negative code.
class UsbChannel {
 public:
  virtual ~UsbChannel() = default;

  // Size of one IN packet (512 on high speed, 64 on full speed); every packet starts
  // with two modem-status bytes.
  virtual unsigned maxPacketSize() = 0;

  // One bulk IN transfer of at most len raw bytes (status bytes included).
  // *transferred is valid whatever the result, a time-out included: bytes that did
  // arrive before it are never thrown away.
  virtual int bulkRead(uint8_t* buf, int len, int* transferred, unsigned timeoutMs) = 0;
  // One bulk OUT transfer; *transferred tells how much left even on failure.
  // timeoutMs 0 waits without limit.
  virtual int bulkWrite(const uint8_t* buf, int len, int* transferred, unsigned timeoutMs) = 0;

  virtual int setBitMode(uint8_t mask, uint8_t mode) = 0;
  virtual int setLatencyTimer(uint8_t ms) = 0;
  // kUsbBadRate when the rate is out of reach; other negatives are transfer failures.
  virtual int setBaudRate(uint32_t baud) = 0;
  virtual int setLineProperty(uint8_t bits, uint8_t stopBits, uint8_t parity) = 0;
  // flow is one of the FT_FLOW_* values of ftd2xx.h.
  virtual int setFlowControl(uint16_t flow, uint8_t xon, uint8_t xoff) = 0;
  virtual int purgeRx() = 0;
  virtual int purgeTx() = 0;
  virtual int setChunkSizes(unsigned inSize, unsigned outSize) = 0;

  // Text for the last failure of a call of this channel made on the calling thread.
  virtual const char* errorText() = 0;
};

class UsbBus {
 public:
  virtual ~UsbBus() = default;
  // Replaces out with the FTDI chips of the supported products now attached.
  // kUsbOk, kUsbUnavailable, or another negative code.
  virtual int findChips(std::vector<UsbChip>& out) = 0;
  // Opens channel (0 = A .. 3 = D) of chip through a context of its own.
  virtual int openChannel(const UsbChip& chip, int channel, std::unique_ptr<UsbChannel>& out) = 0;
  // Text for the last failure of findChips/openChannel on the calling thread.
  virtual const char* errorText() = 0;
};

// The bus the FT_* calls use: the one linked in (libftdi1 in the shipped library)
// unless a test installs another. Passing nullptr restores the linked-in one.
UsbBus& activeBus();
void useBus(UsbBus* bus);

// Provided by whichever USB layer is linked with the core.
UsbBus& linkedBus();

}  // namespace varn_d2xx
