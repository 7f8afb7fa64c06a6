#include "sim/mpsse/usb_in_path.h"

#include <algorithm>

namespace varnsim {

void UsbInPath::configure(const Config& c) {
  cfg_ = c;
  if (cfg_.packetSize < 8) cfg_.packetSize = 8;
  if (!cfg_.latencyPs) cfg_.latencyPs = 1;
  setTransferSize(cfg_.transferSize);
  ring_.assign(cfg_.driverCapacity + cfg_.chipFifo + 2 * cfg_.packetSize, 0);
  purge();
}

void UsbInPath::setTransferSize(size_t bytes) {
  // The driver rounds its request to whole packets.
  size_t t = (bytes + cfg_.packetSize - 1) / cfg_.packetSize * cfg_.packetSize;
  cfg_.transferSize = std::max(t, cfg_.packetSize);
}

void UsbInPath::purge() {
  head_ = size_ = 0;
  done_.clear();
  openBytes_ = openWire_ = 0;
  blocked_.clear();
  blockedBytes_ = 0;
  pending_ = 0;
  driverBytes_ = 0;
}

uint64_t UsbInPath::expiry(uint64_t first) const {
  const uint64_t lat = cfg_.latencyPs;
  const uint64_t k = first >= anchor_ ? (first - anchor_) / lat + 1 : 1;
  return anchor_ + k * lat;
}

void UsbInPath::complete(uint64_t ps) {
  if (openBytes_) {
    done_.push_back({openBytes_, ps + cfg_.deliverPs});
    ++transfers_;
  }
  openBytes_ = openWire_ = 0;
}

void UsbInPath::send(uint64_t size, uint64_t ps) {
  ++packets_;
  driverBytes_ += size;
  openBytes_ += size;
  openWire_ += size + 2;
  if (size + 2 < cfg_.packetSize || openWire_ >= cfg_.transferSize) complete(ps);
}

void UsbInPath::cut(uint64_t ps) {
  const uint64_t size = pending_;
  pending_ = 0;
  anchor_ = ps;
  if (!blocked_.empty() || driverBytes_ + size > cfg_.driverCapacity) {
    blocked_.push_back(size);
    blockedBytes_ += size;
    // The driver sized its request to the room it had; that request is now full.
    complete(ps);
    return;
  }
  send(size, ps);
}

void UsbInPath::advance(uint64_t ps) {
  for (;;) {
    if (pending_) {
      const uint64_t e = expiry(pendingFirst_);
      if (e <= ps) {
        cut(e);
        continue;
      }
    }
    if (openBytes_ && !pending_) {
      const uint64_t e = anchor_ + cfg_.latencyPs;
      if (e <= ps) {
        anchor_ = e;  // a status-only packet: short, so the request completes
        complete(e);
        continue;
      }
    }
    return;
  }
}

void UsbInPath::put(uint8_t b, uint64_t ps) {
  advance(ps);
  ring_[(head_ + size_) % ring_.size()] = b;
  ++size_;
  if (!pending_) pendingFirst_ = ps;
  if (++pending_ == packetData()) cut(ps);
}

void UsbInPath::sendImmediate(uint64_t ps) {
  advance(ps);
  if (pending_) {
    cut(ps);
  } else if (openBytes_) {
    anchor_ = ps;
    complete(ps);
  }
}

size_t UsbInPath::visible(uint64_t now) const {
  size_t n = 0;
  for (const auto& c : done_) {
    if (c.visiblePs > now) break;
    n += c.bytes;
  }
  return n;
}

size_t UsbInPath::take(uint8_t* out, size_t n, uint64_t now) {
  advance(now);
  size_t got = 0;
  while (got < n && !done_.empty() && done_.front().visiblePs <= now) {
    Chunk& c = done_.front();
    const size_t k = static_cast<size_t>(std::min<uint64_t>(c.bytes, n - got));
    for (size_t i = 0; i < k; ++i) out[got + i] = ring_[(head_ + i) % ring_.size()];
    head_ = (head_ + k) % ring_.size();
    size_ -= k;
    got += k;
    c.bytes -= k;
    if (!c.bytes) done_.pop_front();
  }
  driverBytes_ -= got;
  // Room in the driver: the chip sends what it had to keep.
  while (!blocked_.empty() && driverBytes_ + blocked_.front() <= cfg_.driverCapacity) {
    const uint64_t s = blocked_.front();
    blocked_.pop_front();
    blockedBytes_ -= s;
    anchor_ = std::max(anchor_, now);
    send(s, anchor_);
  }
  if (!blocked_.empty()) complete(anchor_);
  return got;
}

uint64_t UsbInPath::nextEvent(uint64_t now) const {
  uint64_t t = UINT64_MAX;
  for (const auto& c : done_)
    if (c.visiblePs > now) {
      t = c.visiblePs;
      break;
    }
  if (blocked_.empty()) {
    if (pending_) t = std::min(t, expiry(pendingFirst_) + cfg_.deliverPs);
    else if (openBytes_) t = std::min(t, anchor_ + cfg_.latencyPs + cfg_.deliverPs);
  }
  return t;
}

}  // namespace varnsim
