// The way reply bytes travel from a channel's chip FIFO into the host driver's
// read-ahead buffer, in simulated time (picoseconds).
//
//  - The chip sends bulk IN packets of packetSize bytes: 2 status bytes and up to
//    packetSize - 2 data bytes. A packet leaves when it is full, at once after a
//    send-immediate, or when the latency timer expires; the timer restarts with every
//    packet, and with no data it sends a status-only packet.
//  - The driver's reader keeps an IN request of transferSize bytes posted. A request
//    completes when it is full or when a short packet (status-only included) arrives;
//    only then do its bytes become readable, deliverPs later.
//  - The driver buffers at most driverCapacity bytes and sizes its requests to the
//    room it has (a request that meets a full buffer completes). When it is full the
//    chip keeps its packets, and when the chip FIFO (chipFifo) is full as well, room() reports
//    no space: the MPSSE stalls until the host reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace varnsim {

class UsbInPath {
 public:
  struct Config {
    size_t chipFifo = 4096;
    size_t driverCapacity = 65536;
    size_t packetSize = 512;
    size_t transferSize = 4096;
    uint64_t latencyPs = 16'000'000'000ull;
    uint64_t deliverPs = 125'000'000ull;
  };

  UsbInPath() { configure(Config{}); }
  explicit UsbInPath(const Config& c) { configure(c); }
  void configure(const Config& c);  // also empties everything
  const Config& config() const { return cfg_; }
  void setLatency(uint64_t ps) { cfg_.latencyPs = ps ? ps : 1; }
  void setTransferSize(size_t bytes);

  // Chip side.
  bool room(size_t n) const { return blockedBytes_ + pending_ + n <= cfg_.chipFifo; }
  void put(uint8_t b, uint64_t ps);
  void sendImmediate(uint64_t ps);
  // Lets the latency timer fire up to `ps`.
  void advance(uint64_t ps);

  // Host side.
  size_t visible(uint64_t now) const;
  size_t take(uint8_t* out, size_t n, uint64_t now);
  // The earliest time after `now` at which more bytes become readable without any
  // more chip output; UINT64_MAX when none are on their way.
  uint64_t nextEvent(uint64_t now) const;
  void purge();

  size_t bytesHeld() const { return size_; }
  size_t chipBytes() const { return pending_ + blockedBytes_; }
  uint64_t packets() const { return packets_; }
  uint64_t transfers() const { return transfers_; }

 private:
  struct Chunk {
    uint64_t bytes;
    uint64_t visiblePs;
  };
  size_t packetData() const { return cfg_.packetSize - 2; }
  uint64_t expiry(uint64_t first) const;
  void cut(uint64_t ps);
  void send(uint64_t size, uint64_t ps);
  void complete(uint64_t ps);

  Config cfg_;
  std::vector<uint8_t> ring_;
  size_t head_ = 0, size_ = 0;
  std::deque<Chunk> done_;
  uint64_t openBytes_ = 0, openWire_ = 0;
  std::deque<uint64_t> blocked_;
  uint64_t blockedBytes_ = 0;
  uint64_t pending_ = 0, pendingFirst_ = 0;
  uint64_t anchor_ = 0;
  uint64_t driverBytes_ = 0;
  uint64_t packets_ = 0, transfers_ = 0;
};

}  // namespace varnsim
