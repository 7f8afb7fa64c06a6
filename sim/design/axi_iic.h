// The AXI IIC controller (Xilinx PG090 register map) in dynamic mode, as master only.
//
//   0x01C GIE      0x020 ISR (write toggles)   0x028 IER
//   0x040 SOFTR    write 0xA to reset; any other value is refused with SLVERR
//   0x100 CR       bit 0 EN, bit 1 TX FIFO reset
//   0x104 SR       bit 7 TX FIFO empty, 6 RX FIFO empty, 5 RX full, 4 TX full, 2 bus busy
//   0x108 TX_FIFO  bits 7..0 byte, bit 8 START before it, bit 9 STOP after it
//   0x10C RX_FIFO  0x114 / 0x118 TX / RX occupancy - 1   0x120 RX_FIFO_PIRQ
//
// Dynamic mode: a TX word with START carries the address byte; for a write the words
// after it are data, for a read the next word holds the byte count (and STOP). A START
// word in the middle of a transfer is a repeated START. Reads after a repeated START
// are SMBus block reads in this design: the slave's count byte comes first and is not
// part of the requested length, so the RX FIFO receives count + 1 bytes. A NACK sets
// ISR bit 1, flushes the TX FIFO and releases the bus.
//
// With a bus clock set, each byte takes nine SCL periods (START/STOP one more) of
// simulated time; with clock 0 transfers complete as soon as their words are written.
// A full RX FIFO stretches the clock until the host reads.
#pragma once

#include <cstdint>
#include <deque>

#include "sim/design/axi_space.h"
#include "sim/design/i2c_bus.h"

namespace varnsim {

struct AxiIicCounters {
  uint64_t transfers = 0;    // START conditions issued
  uint64_t nacks = 0;
  uint64_t softResets = 0;
  uint64_t txOverflows = 0;  // words written to a full TX FIFO (lost)
  uint64_t rxUnderflows = 0; // reads of an empty RX FIFO
};

class AxiIic : public AxiRegisters {
 public:
  static constexpr size_t kFifoDepth = 16;

  AxiIic(I2cBus& bus, uint32_t khz) : bus_(bus), khz_(khz) {}

  AxiResp read32(uint32_t off, uint32_t* value) override;
  AxiResp write32(uint32_t off, uint32_t value) override;
  void advance(uint64_t nowNs);

  const AxiIicCounters& counters() const { return counters_; }
  // Test hook: a device holding SDA low; nothing moves on the bus until released. A
  // soft reset still empties the FIFOs, so a host sees idle again after one.
  void setBusStuck(bool stuck) { stuck_ = stuck; }
  // Test hook: a wedged core whose status never shows its FIFOs empty, reset or not.
  void setStatusStuck(bool stuck) { statusStuck_ = stuck; }

 private:
  void reset();
  uint32_t status() const;
  // Runs bus events that are due; in untimed mode everything that can run.
  void pump();
  // One bus event; false when nothing can happen now. *cost gets its SCL periods.
  bool step(int* cost);
  void abortTransfer();
  void releaseBus();

  I2cBus& bus_;
  uint32_t khz_;
  uint64_t nowNs_ = 0;
  uint64_t busyUntilNs_ = 0;
  bool stuck_ = false;
  bool statusStuck_ = false;

  uint32_t cr_ = 0, isr_ = 0xD0, ier_ = 0, gie_ = 0, pirq_ = 0, adr_ = 0, gpo_ = 0;
  std::deque<uint16_t> tx_;
  std::deque<uint8_t> rx_;

  enum class Phase { Idle, Writing, AwaitCount, Reading, HoldAfterRead };
  Phase phase_ = Phase::Idle;
  I2cDevice* dev_ = nullptr;
  bool repeated_ = false;
  int readLeft_ = 0;
  bool stopAfterRead_ = false;
  AxiIicCounters counters_;
};

}  // namespace varnsim
