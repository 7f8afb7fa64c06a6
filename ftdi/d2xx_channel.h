// One open FTDI channel: the USB channel, the reader thread that drains the chip
// into the read-ahead ring, and the D2XX semantics of reads, writes and settings.
//
// The chip sends whatever its MPSSE engine or UART produces as soon as it has a
// packet (or its latency timer fires), but its IN FIFO is only a few KiB. A host that
// writes a large command batch and only then starts reading would stall it; the
// vendor driver therefore reads continuously in the background, and so does this
// class: bytes wait in the ring until FT_Read takes them.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ftdi/d2xx_read_ahead.h"
#include "ftdi/d2xx_usb.h"
#include "ftdi/ftd2xx.h"

namespace varn_d2xx {

// What the device list knew about the channel when it was opened.
struct ChannelIdentity {
  FT_DEVICE type = FT_DEVICE_UNKNOWN;
  DWORD id = 0;
  char serial[FT_SERIAL_SIZE] = {};
  char description[FT_DESCRIPTION_SIZE] = {};
};

class Channel {
 public:
  // Bytes of read-ahead per channel: several of the largest replies the program
  // asks for at once (64 KiB), so the reader never has to hold back in normal use.
  static constexpr size_t kRingBytes = 512 * 1024;
  // The largest IN/OUT transfer (libftdi1 and usbfs both stop at 16 KiB).
  static constexpr unsigned kMaxTransfer = 16384;
  static constexpr unsigned kDefaultTransfer = 4096;
  // How long one background IN transfer may wait. The chip answers at least once per
  // latency period (a status-only packet), so this only bounds how long a pause or a
  // close waits on a chip that has stopped answering.
  static constexpr unsigned kReaderPollMs = 100;
  // Read and write time-outs until FT_SetTimeouts: long enough for any real reply,
  // short enough that a dead chip cannot hang a caller that never set them.
  static constexpr ULONG kDefaultTimeoutMs = 5000;

  Channel(std::unique_ptr<UsbChannel> usb, const ChannelIdentity& identity);
  ~Channel();  // stops the reader and releases the USB channel
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Starts the reader; false when the thread cannot be created.
  bool start();
  // Stops the reader and wakes every waiting FT_Read; later calls fail.
  void shutdown();

  const ChannelIdentity& identity() const { return identity_; }

  FT_STATUS read(uint8_t* dst, DWORD count, DWORD* got);
  FT_STATUS write(const uint8_t* src, DWORD count, DWORD* written);
  FT_STATUS status(DWORD* rxBytes, DWORD* txBytes, DWORD* events);
  FT_STATUS setTimeouts(ULONG readMs, ULONG writeMs);
  FT_STATUS purge(ULONG mask);
  FT_STATUS setBitMode(UCHAR mask, UCHAR mode);
  FT_STATUS setLatencyTimer(UCHAR ms);
  FT_STATUS setUsbParameters(ULONG inSize, ULONG outSize);
  FT_STATUS setBaudRate(ULONG baud);
  FT_STATUS setDataCharacteristics(UCHAR bits, UCHAR stopBits, UCHAR parity);
  FT_STATUS setFlowControl(USHORT flow, UCHAR xon, UCHAR xoff);

 private:
  void readerLoop();
  void pauseReader(std::unique_lock<std::mutex>& lock);
  void resumeReader(std::unique_lock<std::mutex>& lock);
  FT_STATUS control(int rc, const char* what);
  FT_STATUS writeFailed(int rc);
  // Runs change() with no IN transfer in flight; clearRing also empties the ring.
  template <class Change>
  int whilePaused(Change change, bool clearRing);

  std::unique_ptr<UsbChannel> usb_;
  ChannelIdentity identity_;
  unsigned packetSize_;

  std::mutex mutex_;
  std::condition_variable dataCv_;    // ring grew, or the reader stopped / failed
  std::condition_variable readerCv_;  // the reader may go on (room, resume, stop)
  std::condition_variable pauseCv_;   // the reader has finished its transfer
  ReadAheadRing ring_;
  std::unique_ptr<uint8_t[]> transfer_;  // the reader's own raw IN buffer
  unsigned inSize_ = kDefaultTransfer;
  unsigned outSize_ = kDefaultTransfer;
  ULONG readTimeoutMs_ = kDefaultTimeoutMs;
  ULONG writeTimeoutMs_ = kDefaultTimeoutMs;
  UCHAR bitMode_ = FT_BITMODE_RESET;
  uint16_t modemStatus_ = 0;
  int pauses_ = 0;           // pause requests outstanding
  bool transferring_ = false;  // the reader is inside bulkRead
  bool stop_ = false;
  bool gone_ = false;        // the device has left the bus
  int lastReadError_ = 0;    // last failure the reader reported, said once
  int lastWriteError_ = 0;   // same for writes
  std::thread reader_;
};

}  // namespace varn_d2xx
