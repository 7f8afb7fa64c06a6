#include "ftdi/d2xx_channel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace varn_d2xx {

namespace {

// Transfer sizes the chip and libftdi1 agree on: whole 512-byte packets (a multiple
// of the 64-byte full-speed packet too), at most kMaxTransfer.
unsigned roundTransferSize(ULONG requested) {
  constexpr unsigned kUnit = 512;
  ULONG size = std::min<ULONG>(requested, Channel::kMaxTransfer);
  size -= size % kUnit;
  return std::max<unsigned>(unsigned(size), kUnit);
}

}  // namespace

Channel::Channel(std::unique_ptr<UsbChannel> usb, const ChannelIdentity& identity)
    : usb_(std::move(usb)),
      identity_(identity),
      packetSize_(usb_->maxPacketSize()),
      ring_(kRingBytes),
      transfer_(new uint8_t[kMaxTransfer]) {
  // A chip reporting nonsense would make every transfer look like status bytes only.
  if (packetSize_ < 64) packetSize_ = 64;
}

Channel::~Channel() {
  shutdown();
  usb_.reset();
}

bool Channel::start() {
  try {
    reader_ = std::thread(&Channel::readerLoop, this);
  } catch (const std::system_error& e) {
    fprintf(stderr, "varn_ftd2xx: cannot start the reader thread for %s: %s\n", identity_.serial, e.what());
    return false;
  }
  return true;
}

void Channel::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  readerCv_.notify_all();
  dataCv_.notify_all();
  pauseCv_.notify_all();
  if (reader_.joinable()) reader_.join();
}

void Channel::readerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Hold back while paused or while the ring could not take a whole transfer:
    // the chip then keeps the bytes in its FIFO and NAKs, nothing is lost.
    readerCv_.wait(lock, [&] { return stop_ || (pauses_ == 0 && !gone_ && ring_.room() >= inSize_); });
    if (stop_) return;
    const unsigned size = inSize_;
    transferring_ = true;
    lock.unlock();
    int got = 0;
    int rc = usb_->bulkRead(transfer_.get(), int(size), &got, kReaderPollMs);
    lock.lock();
    transferring_ = false;
    if (got > 0) {
      size_t payload = stripStatusBytes(transfer_.get(), size_t(got), packetSize_, transfer_.get(), &modemStatus_);
      if (payload > 0) {
        ring_.push(transfer_.get(), payload);  // room for a whole transfer was waited for above
        dataCv_.notify_all();
      }
    }
    if (pauses_ > 0) pauseCv_.notify_all();

    if (rc == kUsbOk || rc == kUsbTimeout || rc == kUsbInterrupted) {
      lastReadError_ = 0;
      continue;
    }
    if (rc == kUsbNoDevice) {
      fprintf(stderr, "varn_ftd2xx: %s left the bus; reads now fail\n", identity_.serial);
      gone_ = true;
      dataCv_.notify_all();
      continue;
    }
    // Anything else (a stall, a transient bus error): say so once, back off a
    // little so a persisting fault does not spin, and keep reading.
    if (rc != lastReadError_) {
      fprintf(stderr, "varn_ftd2xx: bulk IN on %s failed: %s (%d); retrying\n", identity_.serial,
              usb_->errorText(), rc);
      lastReadError_ = rc;
    }
    readerCv_.wait_for(lock, std::chrono::milliseconds(10), [&] { return stop_; });
  }
}

void Channel::pauseReader(std::unique_lock<std::mutex>& lock) {
  ++pauses_;
  pauseCv_.wait(lock, [&] { return !transferring_; });
}

void Channel::resumeReader(std::unique_lock<std::mutex>& lock) {
  --pauses_;
  readerCv_.notify_all();
}

template <class Change>
int Channel::whilePaused(Change change, bool clearRing) {
  std::unique_lock<std::mutex> lock(mutex_);
  pauseReader(lock);
  // The USB call runs unlocked so FT_GetStatus / FT_Read on the ring stay answered;
  // the reader cannot add to the ring meanwhile.
  lock.unlock();
  int rc = change();
  lock.lock();
  if (clearRing) ring_.clear();
  resumeReader(lock);
  return rc;
}

FT_STATUS Channel::control(int rc, const char* what) {
  if (rc == kUsbOk) return FT_OK;
  fprintf(stderr, "varn_ftd2xx: %s on %s failed: %s (%d)\n", what, identity_.serial, usb_->errorText(), rc);
  if (rc == kUsbNoDevice) {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    dataCv_.notify_all();
  }
  return FT_IO_ERROR;
}

FT_STATUS Channel::read(uint8_t* dst, DWORD count, DWORD* got) {
  if (!got || (count > 0 && !dst)) return FT_INVALID_PARAMETER;
  *got = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  const ULONG timeoutMs = readTimeoutMs_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  DWORD done = 0;
  for (;;) {
    // Taking bytes as they come (not only once all are there) keeps the ring from
    // filling on a read larger than the ring.
    size_t n = ring_.pop(dst + done, count - done);
    if (n > 0) {
      done += DWORD(n);
      readerCv_.notify_all();
    }
    if (done == count || stop_ || gone_) break;
    if (timeoutMs == 0) {
      dataCv_.wait(lock);
    } else if (dataCv_.wait_until(lock, deadline) == std::cv_status::timeout) {
      done += DWORD(ring_.pop(dst + done, count - done));
      readerCv_.notify_all();
      break;
    }
  }
  *got = done;
  // What the ring held is always handed out first; only then does a dead channel fail.
  if (done == 0 && count > 0 && (stop_ || gone_)) return FT_IO_ERROR;
  return FT_OK;
}

FT_STATUS Channel::write(const uint8_t* src, DWORD count, DWORD* written) {
  if (!written || (count > 0 && !src)) return FT_INVALID_PARAMETER;
  *written = 0;
  unsigned chunk;
  ULONG timeoutMs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || gone_) return FT_IO_ERROR;
    chunk = outSize_;
    timeoutMs = writeTimeoutMs_;
  }
  // The time-out bounds the whole call, as it does for reads: a chip that takes each
  // transfer slowly must not stretch a long write to one time-out per transfer.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  DWORD done = 0;
  while (done < count) {
    unsigned waitMs = 0;  // 0: no limit
    if (timeoutMs != 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      waitMs = unsigned(left);
    }
    int len = int(std::min<DWORD>(count - done, chunk));
    int sent = 0;
    int rc = usb_->bulkWrite(src + done, len, &sent, waitMs);
    if (sent > 0) done += DWORD(sent);
    *written = done;
    // A time-out is not a failure: the caller sees fewer bytes written and loops.
    if (rc == kUsbTimeout) break;
    if (rc != kUsbOk) return writeFailed(rc);
    if (sent <= 0) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  lastWriteError_ = 0;
  return FT_OK;
}

FT_STATUS Channel::writeFailed(int rc) {
  // A caller that keeps writing into a broken channel hears about it once per kind
  // of failure, not once per call.
  bool report;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    report = rc != lastWriteError_;
    lastWriteError_ = rc;
    if (rc == kUsbNoDevice) {
      gone_ = true;
      dataCv_.notify_all();
    }
  }
  if (report) fprintf(stderr, "varn_ftd2xx: bulk OUT on %s failed: %s (%d)\n", identity_.serial, usb_->errorText(), rc);
  return FT_IO_ERROR;
}

FT_STATUS Channel::status(DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ring_.size() == 0 && (stop_ || gone_)) return FT_IO_ERROR;
  if (rxBytes) *rxBytes = DWORD(ring_.size());
  // Bulk OUT transfers complete only once the chip has taken the bytes, so nothing
  // ever waits on the host side of the transmit queue.
  if (txBytes) *txBytes = 0;
  if (events) *events = 0;
  return FT_OK;
}

FT_STATUS Channel::setTimeouts(ULONG readMs, ULONG writeMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  readTimeoutMs_ = readMs;
  writeTimeoutMs_ = writeMs;
  return FT_OK;
}

FT_STATUS Channel::purge(ULONG mask) {
  if (mask & ~(FT_PURGE_RX | FT_PURGE_TX)) return FT_INVALID_PARAMETER;
  if (mask == 0) return FT_OK;
  const bool rx = mask & FT_PURGE_RX;
  const bool tx = mask & FT_PURGE_TX;
  int rc = whilePaused(
      [&] {
        if (rx && tx) {
          int a = usb_->purgeRx();
          int b = usb_->purgeTx();
          return a != kUsbOk ? a : b;
        }
        return rx ? usb_->purgeRx() : usb_->purgeTx();
      },
      rx);
  return control(rc, "purge");
}

FT_STATUS Channel::setBitMode(UCHAR mask, UCHAR mode) {
  int rc = whilePaused([&] { return usb_->setBitMode(mask, mode); }, false);
  if (rc == kUsbOk) {
    std::lock_guard<std::mutex> lock(mutex_);
    bitMode_ = mode;
  }
  return control(rc, "set bit mode");
}

FT_STATUS Channel::setLatencyTimer(UCHAR ms) {
  // libftdi1 refuses 0; 1 ms is the nearest the chip is given.
  return control(usb_->setLatencyTimer(ms == 0 ? 1 : ms), "set latency timer");
}

FT_STATUS Channel::setUsbParameters(ULONG inSize, ULONG outSize) {
  if (inSize == 0) return FT_INVALID_PARAMETER;
  const unsigned in = roundTransferSize(inSize);
  // The vendor driver ignores an out size of 0; keep the current one then.
  unsigned out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    out = outSize == 0 ? outSize_ : roundTransferSize(outSize);
  }
  int rc = whilePaused(
      [&] {
        int r = usb_->setChunkSizes(in, out);
        std::lock_guard<std::mutex> lock(mutex_);
        inSize_ = in;
        outSize_ = out;
        return r;
      },
      false);
  return control(rc, "set transfer sizes");
}

FT_STATUS Channel::setBaudRate(ULONG baud) {
  if (baud == 0) return FT_INVALID_BAUD_RATE;
  {
    // In MPSSE mode the rate means nothing to the chip, and libftdi1 would multiply
    // it by 4 for the bit mode and then refuse it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (bitMode_ == FT_BITMODE_MPSSE) return FT_OK;
  }
  int rc = usb_->setBaudRate(baud);
  if (rc == kUsbBadRate) {
    fprintf(stderr, "varn_ftd2xx: baud rate %u not reachable on %s\n", unsigned(baud), identity_.serial);
    return FT_INVALID_BAUD_RATE;
  }
  return control(rc, "set baud rate");
}

FT_STATUS Channel::setDataCharacteristics(UCHAR bits, UCHAR stopBits, UCHAR parity) {
  if (bits != FT_BITS_7 && bits != FT_BITS_8) return FT_INVALID_PARAMETER;
  if (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) return FT_INVALID_PARAMETER;
  if (parity > 4) return FT_INVALID_PARAMETER;  // none, odd, even, mark, space
  return control(usb_->setLineProperty(bits, stopBits, parity), "set data characteristics");
}

FT_STATUS Channel::setFlowControl(USHORT flow, UCHAR xon, UCHAR xoff) {
  if (flow != FT_FLOW_NONE && flow != FT_FLOW_RTS_CTS && flow != FT_FLOW_DTR_DSR && flow != FT_FLOW_XON_XOFF)
    return FT_INVALID_PARAMETER;
  return control(usb_->setFlowControl(flow, xon, xoff), "set flow control");
}

}  // namespace varn_d2xx
