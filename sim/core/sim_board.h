// One simulated board built from its description: the JTAG chain with its FPGAs, the
// designs they run, the board's simulated clock and the lock that every user of the
// board (a D2XX channel, its companion UART, a board controller) holds while it works
// on it. Designs see simulated time only: they advance when the board's clock does.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/core/board_file.h"
#include "sim/core/design_slot.h"
#include "sim/core/intel_device.h"
#include "sim/core/jtag_chain.h"
#include "sim/core/xilinx_device.h"

namespace varnsim {

// varnsim::makeDesign with the reason for a refusal (sim/design).
DesignFactory standardDesignFactory();

class SimBoard {
 public:
  // Null with *error set when a device's design options are refused.
  static std::unique_ptr<SimBoard> build(const BoardSpec& desc, const DesignFactory& factory, std::string* error);
  // A board with no chain: the clock and lock of an FTDI channel wired to nothing.
  static std::unique_ptr<SimBoard> empty(const std::string& name);

  const std::string& name() const { return name_; }
  const BoardSpec& description() const { return desc_; }
  JtagChain& chain() { return chain_; }
  size_t deviceCount() const { return chain_.size(); }
  TapDevice& device(size_t i) { return chain_.device(i); }
  XilinxDevice* xilinx(size_t i) { return i < xilinx_.size() ? xilinx_[i] : nullptr; }
  IntelDevice* intel(size_t i) { return i < intel_.size() ? intel_[i] : nullptr; }
  FpgaDesign* design(size_t i);
  // The FPGA's serial pins: the design's, or null while it is unconfigured.
  SerialLink* uart(size_t i) {
    FpgaDesign* d = design(i);
    return d ? &d->uart() : nullptr;
  }

  std::mutex& mutex() { return mu_; }
  // The board's clock, in picoseconds; callers hold mutex(). With clock=wall it never
  // falls behind the wall-clock time since the board was built.
  uint64_t now();
  // Moves the clock to `ps` (never backwards) and lets the designs run up to it.
  void advanceTo(uint64_t ps);

 private:
  SimBoard() = default;

  std::string name_;
  BoardSpec desc_;
  JtagChain chain_;
  std::vector<XilinxDevice*> xilinx_;
  std::vector<IntelDevice*> intel_;
  std::mutex mu_;
  uint64_t nowPs_ = 0;
  uint64_t designPs_ = 0;  // how far the designs have run
  bool wall_ = false;
  uint64_t wallStartNs_ = 0;
};

}  // namespace varnsim
