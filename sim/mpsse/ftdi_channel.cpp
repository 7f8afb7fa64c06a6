#include "sim/mpsse/ftdi_channel.h"

#include <algorithm>

namespace varnsim {

namespace {

constexpr uint64_t kMs = 1'000'000'000ull;
constexpr uint64_t kGiveUpPs = 10'000 * kMs;  // a call without a time-out stops waiting here

}  // namespace

UsbTiming UsbTiming::forChip(const ChipInfo& chip) {
  UsbTiming t;
  if (!chip.highSpeed) {
    // Full speed: 1 ms frames and about 1 MB/s.
    t.writeOverheadPs = kMs;
    t.psPerByte = 1'000'000;
    t.deliverPs = kMs;
  }
  return t;
}

FtdiChannel::FtdiChannel(const ChipInfo& chip, int index, const UsbTiming& timing)
    : chip_(chip), index_(index), timing_(timing), engine_(chip, *this) {
  UsbInPath::Config c;
  c.chipFifo = chip.fifoIn;
  c.driverCapacity = timing.driverCapacity;
  c.packetSize = chip.packetSize;
  c.transferSize = 4096;  // the driver's default IN request
  c.latencyPs = 16 * kMs;
  c.deliverPs = timing.deliverPs;
  in_.configure(c);
  outFifo_.reserve(chip.fifoOut);
  rxScratch_.resize(chip.fifoIn);
}

uint64_t FtdiChannel::byteTimePs() const { return uint64_t{frameBits_} * 1'000'000'000'000ull / baud_; }

void FtdiChannel::setBaud(uint32_t baud) { baud_ = baud ? baud : 1; }

void FtdiChannel::setFrameBits(unsigned bits) { frameBits_ = bits < 7 ? 7 : bits; }

bool FtdiChannel::setBitMode(uint8_t mask, uint8_t mode, uint64_t now) {
  if (mode == 0) {
    mpsse_ = false;
    outFifo_.clear();
    engine_.reset(0);
    return true;
  }
  if (mode == 2 && hasMpsse()) {
    engine_.reset(mask);
    engine_.catchUp(now);
    outFifo_.clear();
    tx_.clear();
    mpsse_ = true;
    return true;
  }
  return false;
}

void FtdiChannel::purge(bool rx, bool tx) {
  if (rx) in_.purge();
  if (tx) {
    outFifo_.clear();
    tx_.clear();
  }
}

void FtdiChannel::pump(uint64_t now) {
  in_.advance(now);
  if (timeHook_) timeHook_(now);
  if (mpsse_) return;
  SerialLink* link = uart_ ? uart_() : nullptr;
  // Bytes whose stop bit has gone out reach the FPGA's pins.
  while (!tx_.empty() && tx_.front().due <= now) {
    uint8_t buf[256];
    size_t k = 0;
    while (k < sizeof buf && !tx_.empty() && tx_.front().due <= now) {
      buf[k++] = tx_.front().b;
      tx_.pop_front();
    }
    if (link) link->toFpga(buf, k);
  }
  if (!link) return;
  // The FPGA's answer comes in at the line rate, as far as the chip FIFO has room.
  const size_t room = chip_.fifoIn > in_.chipBytes() ? chip_.fifoIn - in_.chipBytes() : 0;
  const size_t want = std::min(room, link->fromFpgaAvailable());
  if (!want) return;
  const size_t got = link->fromFpga(rxScratch_.data(), std::min(want, rxScratch_.size()));
  const uint64_t bt = byteTimePs();
  for (size_t i = 0; i < got; ++i) {
    rxWire_ = std::max(rxWire_, now) + bt;
    in_.put(rxScratch_[i], rxWire_);
  }
}

void FtdiChannel::runBacklog(uint64_t now) {
  if (!mpsse_ || engine_.hung()) return;
  engine_.catchUp(now);
  engine_.beginWrite(now, 0);
  engine_.resume();
  if (outFifo_.empty()) return;
  const size_t used = engine_.feed(outFifo_.data(), outFifo_.size());
  outFifo_.erase(outFifo_.begin(), outFifo_.begin() + static_cast<long>(used));
}

size_t FtdiChannel::writeMpsse(const uint8_t* p, size_t n, uint64_t& now, uint64_t timeoutPs) {
  const uint64_t t0 = now;
  runBacklog(now);
  engine_.beginWrite(t0 + timing_.writeOverheadPs, timing_.psPerByte);
  size_t done = 0;
  uint64_t lastFifoByte = t0;  // when the byte that leaves the last FIFO's worth went in
  if (outFifo_.empty()) {
    const size_t split = n > chip_.fifoOut ? n - chip_.fifoOut : 0;
    done = engine_.feed(p, split);
    if (done == split) {
      lastFifoByte = engine_.timePs();
      done += engine_.feed(p + split, n - split);
    }
  }
  const size_t room = chip_.fifoOut - outFifo_.size();
  const size_t k = std::min(room, n - done);
  outFifo_.insert(outFifo_.end(), p + done, p + done + k);
  done += k;
  if (done < n) {
    // The MPSSE waits for the host to read its replies; the rest of the write waits
    // with it until the time-out.
    ++counters_.writeTimeouts;
    now += timeoutPs ? timeoutPs : kGiveUpPs;
    return done;
  }
  now = std::max(t0 + timing_.writeOverheadPs + n * timing_.psPerByte, lastFifoByte);
  return n;
}

size_t FtdiChannel::writeUart(const uint8_t* p, size_t n, uint64_t& now) {
  const uint64_t bt = byteTimePs();
  const uint64_t arrive = now + timing_.writeOverheadPs;
  uint64_t t = std::max(arrive, txWire_);
  for (size_t i = 0; i < n; ++i) {
    t += bt;
    tx_.push_back({p[i], t});
  }
  txWire_ = t;
  uint64_t done = arrive + n * timing_.psPerByte;
  // The call returns once what is left fits the chip's FIFO.
  if (tx_.size() > chip_.fifoOut) done = std::max(done, tx_[tx_.size() - chip_.fifoOut - 1].due);
  now = done;
  return n;
}

size_t FtdiChannel::write(const uint8_t* p, size_t n, uint64_t& now, uint64_t timeoutPs) {
  ++counters_.writes;
  wroteSinceRead_ = true;
  pump(now);
  const size_t acc = mpsse_ ? writeMpsse(p, n, now, timeoutPs) : writeUart(p, n, now);
  counters_.bytesWritten += acc;
  pump(now);
  return acc;
}

size_t FtdiChannel::read(uint8_t* out, size_t n, uint64_t& now, uint64_t timeoutPs) {
  ++counters_.reads;
  if (wroteSinceRead_) {
    ++counters_.exchanges;
    wroteSinceRead_ = false;
  }
  const bool linked = !mpsse_ && uart_ && uart_();
  const uint64_t limit = timeoutPs ? timeoutPs : (linked ? kGiveUpPs : 0);
  const uint64_t deadline = limit ? now + limit : UINT64_MAX;
  size_t got = 0;
  for (;;) {
    pump(now);
    got += in_.take(out + got, n - got, now);
    runBacklog(now);
    if (got == n) break;
    uint64_t t = in_.nextEvent(now);
    if (linked) t = std::min(t, now + kMs);  // the FPGA may answer later: look again
    if (!tx_.empty()) t = std::min(t, tx_.front().due);
    if (t <= now) t = now + 1;
    if (t > deadline || t == UINT64_MAX) {
      if (deadline != UINT64_MAX) {
        now = deadline;
        pump(now);
        got += in_.take(out + got, n - got, now);
      }
      if (got < n) ++counters_.readTimeouts;
      break;
    }
    now = t;
  }
  counters_.bytesRead += got;
  return got;
}

size_t FtdiChannel::rxQueue(uint64_t& now) {
  ++counters_.statusCalls;
  pump(now);
  runBacklog(now);
  const size_t v = in_.visible(now);
  now += timing_.statusPs;
  return v;
}

}  // namespace varnsim
