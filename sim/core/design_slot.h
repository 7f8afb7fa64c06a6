// The place in a simulated FPGA where a design lives: empty while the device is
// unconfigured, filled by a fresh design when configuration completes (or at power-up
// for a preconfigured device), emptied again by JPROGRAM. The factory is
// varnsim::makeDesign on real boards; tests pass a double.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/common/fpga_fabric.h"

namespace varnsim {

using DesignFactory = std::function<std::unique_ptr<FpgaDesign>(const DesignOptions&, std::string* error)>;

class DesignSlot {
 public:
  DesignSlot() = default;
  DesignSlot(DesignFactory factory, DesignOptions options)
      : factory_(std::move(factory)), options_(std::move(options)) {}

  // Configuration finished: a new design starts (null factory: no design).
  void load();
  void clear() { design_.reset(); }
  FpgaDesign* get() const { return design_.get(); }
  const DesignOptions& options() const { return options_; }
  const std::string& lastError() const { return error_; }
  uint64_t loads() const { return loads_; }

 private:
  DesignFactory factory_;
  DesignOptions options_;
  std::unique_ptr<FpgaDesign> design_;
  std::string error_;
  uint64_t loads_ = 0;
};

}  // namespace varnsim
