// The AXI CDMA engine in simple mode (Xilinx PG034 register map), window 0x00120000.
//
//   0x00 CDMACR  bit 2 reset (self-clearing), bit 12 IOC_IrqEn, bit 14 Err_IrqEn
//   0x04 CDMASR  bit 1 idle, 4 internal error, 5 slave error, 6 decode error,
//                bit 12 IOC_Irq, bit 14 Err_Irq (both write-one-to-clear)
//   0x18/0x1C source address low/high, 0x20/0x24 destination low/high
//   0x28 BTT     bytes to transfer (26 bits); writing it starts the transfer
//
// A transfer takes latency + length / throughput of simulated time; the bytes land
// when it completes. An error halts the engine (idle stays clear) until reset. The
// engine's interrupt output calls irq(status) when an enabled interrupt fires.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/design/axi_space.h"

namespace varnsim {

enum class CdmaFault { None, Internal, Slave, Decode };

struct AxiCdmaCounters {
  uint64_t transfers = 0;
  uint64_t bytes = 0;
  uint64_t errors = 0;
  uint64_t startsWhileBusy = 0;  // BTT written while a transfer ran: ignored
};

class AxiCdma : public AxiRegisters {
 public:
  static constexpr uint32_t kBttMask = (1u << 26) - 1;

  AxiCdma(AxiSpace& space, uint32_t mbps, uint32_t latencyNs) : space_(space), mbps_(mbps), latencyNs_(latencyNs) {}

  AxiResp read32(uint32_t off, uint32_t* value) override;
  AxiResp write32(uint32_t off, uint32_t value) override;
  void advance(uint64_t nowNs);

  void setIrq(std::function<void(uint32_t status)> irq) { irq_ = std::move(irq); }
  // Test hook: the next transfer ends with this error instead of moving data.
  void injectFault(CdmaFault f) { fault_ = f; }
  bool busy() const { return busy_; }
  const AxiCdmaCounters& counters() const { return counters_; }

 private:
  void reset();
  void start(uint32_t btt);
  void complete();
  void fail(uint32_t bit);

  AxiSpace& space_;
  uint32_t mbps_, latencyNs_;
  uint64_t nowNs_ = 0;
  uint32_t cr_ = 0x00010000, sr_ = 0x00000002;
  uint32_t sa_ = 0, saMsb_ = 0, da_ = 0, daMsb_ = 0, btt_ = 0;
  bool busy_ = false;
  uint64_t doneAtNs_ = 0;
  CdmaFault fault_ = CdmaFault::None;
  std::function<void(uint32_t)> irq_;
  std::vector<uint8_t> bounce_;
  AxiCdmaCounters counters_;
};

}  // namespace varnsim
