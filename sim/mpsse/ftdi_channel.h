// One channel of a simulated FTDI chip as the D2XX driver drives it: a UART (after
// open or a bit-mode reset) or an MPSSE (bit mode 2), the chip's OUT FIFO in front of
// it, the IN path behind it (usb_in_path.h), and the costs of the USB bus, all in the
// simulated time of the board the channel belongs to. Nothing here sleeps: a call
// that would wait moves the caller's clock forward instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "sim/common/fpga_fabric.h"
#include "sim/core/jtag_chain.h"
#include "sim/mpsse/chip_info.h"
#include "sim/mpsse/mpsse_engine.h"
#include "sim/mpsse/usb_in_path.h"

namespace varnsim {

struct UsbTiming {
  uint64_t writeOverheadPs = 125'000'000;   // a bulk OUT transfer starts on the next microframe
  uint64_t psPerByte = 25'000;              // 40 MB/s on a high-speed bus
  uint64_t deliverPs = 125'000'000;         // a completed IN request reaches the driver's buffer
  uint64_t statusPs = 100'000'000;          // what one FT_GetStatus call costs the caller
  size_t driverCapacity = 65536;            // the driver's read-ahead buffer

  static UsbTiming forChip(const ChipInfo& chip);
};

struct ChannelCounters {
  uint64_t writes = 0, reads = 0, statusCalls = 0;
  uint64_t bytesWritten = 0, bytesRead = 0;
  uint64_t exchanges = 0;      // a write followed by a read: one trip out and back
  uint64_t writeTimeouts = 0;  // writes that stopped on a full chip
  uint64_t readTimeouts = 0;   // reads that returned short after their time-out
};

class FtdiChannel : private MpsseSink {
 public:
  FtdiChannel(const ChipInfo& chip, int index, const UsbTiming& timing);

  const ChipInfo& chip() const { return chip_; }
  int index() const { return index_; }
  bool hasMpsse() const { return (chip_.mpsseChannels >> index_) & 1; }
  bool mpsseMode() const { return mpsse_; }

  void setChain(JtagChain* chain) { engine_.setChain(chain); }
  // The serial pins of the FPGA the channel is wired to, fetched on every use (the
  // design behind them changes when the FPGA is configured); may return null.
  void setUart(std::function<SerialLink*()> link) { uart_ = std::move(link); }
  // Told whenever the channel's clock has moved (the board runs its designs).
  void setTimeHook(std::function<void(uint64_t ps)> hook) { timeHook_ = std::move(hook); }

  // FT_Write: returns the bytes the chip accepted; `now` advances by the call.
  // timeoutPs 0: no limit (a stalled chip then gives up after 10 s of simulated time).
  size_t write(const uint8_t* p, size_t n, uint64_t& now, uint64_t timeoutPs);
  // FT_Read: returns at most n bytes; short only after the time-out (timeoutPs 0: no
  // limit, but a read that nothing can ever satisfy returns at once).
  size_t read(uint8_t* out, size_t n, uint64_t& now, uint64_t timeoutPs);
  // FT_GetStatus: bytes readable now, then the call's cost is charged.
  size_t rxQueue(uint64_t& now);
  size_t txQueue() const { return outFifo_.size() + tx_.size(); }

  // False when the mode does not exist on this channel.
  bool setBitMode(uint8_t mask, uint8_t mode, uint64_t now);
  void setLatencyMs(unsigned ms) { in_.setLatency(uint64_t{ms} * 1'000'000'000ull); }
  void setTransferSize(size_t in) { in_.setTransferSize(in); }
  void setBaud(uint32_t baud);
  void setFrameBits(unsigned bits);  // start + data + parity + stop
  void purge(bool rx, bool tx);

  const ChannelCounters& counters() const { return counters_; }
  const MpsseEngine& engine() const { return engine_; }
  const UsbInPath& inPath() const { return in_; }
  uint32_t baud() const { return baud_; }

 private:
  // MpsseSink
  bool room(size_t n) const override { return in_.room(n); }
  void put(uint8_t b, uint64_t ps) override { in_.put(b, ps); }
  void sendImmediate(uint64_t ps) override { in_.sendImmediate(ps); }

  void pump(uint64_t now);
  void runBacklog(uint64_t now);
  size_t writeMpsse(const uint8_t* p, size_t n, uint64_t& now, uint64_t timeoutPs);
  size_t writeUart(const uint8_t* p, size_t n, uint64_t& now);
  uint64_t byteTimePs() const;

  const ChipInfo& chip_;
  int index_;
  UsbTiming timing_;
  MpsseEngine engine_;
  UsbInPath in_;
  bool mpsse_ = false;
  std::vector<uint8_t> outFifo_;  // commands the stalled engine has not taken (at most fifoOut)
  std::function<SerialLink*()> uart_;
  std::function<void(uint64_t)> timeHook_;

  // UART wire.
  uint32_t baud_ = 9600;
  unsigned frameBits_ = 10;
  struct TxByte {
    uint8_t b;
    uint64_t due;
  };
  std::deque<TxByte> tx_;
  uint64_t txWire_ = 0;  // when the TX line is free
  uint64_t rxWire_ = 0;  // when the last received byte finished
  std::vector<uint8_t> rxScratch_;

  bool wroteSinceRead_ = false;
  ChannelCounters counters_;
};

}  // namespace varnsim
