// The seam between the simulated silicon (TAP, configuration logic, SYSMON: sim/core)
// and the simulated FPGA design loaded into it (JTAG-UART, applications, AXI space:
// sim/design). It mirrors what a real design sees: the BSCANE2 user-register signals
// and the UART pins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace varnsim {

// What the design sees of the JTAG chain while USER1..USER4 is the active
// instruction of the device (user = 1..4), as the BSCANE2 primitive presents it.
class BscanUser {
 public:
  virtual ~BscanUser() = default;
  virtual void capture(int user) = 0;          // Capture-DR
  virtual bool tdo(int user) const = 0;        // the bit the design drives on TDO in Shift-DR
  virtual void shift(int user, bool tdi) = 0;  // one TCK in Shift-DR
  virtual void update(int user) = 0;           // Update-DR
};

// A byte stream between the design's UART pins and whatever is wired to them
// (a companion FTDI UART channel, or a board controller's UART).
class SerialLink {
 public:
  virtual ~SerialLink() = default;
  virtual void toFpga(const uint8_t* data, size_t n) = 0;
  virtual size_t fromFpga(uint8_t* out, size_t capacity) = 0;
  virtual size_t fromFpgaAvailable() const = 0;
};

// A loaded design. Every call for one board comes from one thread at a time: the
// owner of the board (the simulated D2XX library, the controller or the AXI endpoint)
// holds the board's lock around it.
class FpgaDesign : public BscanUser {
 public:
  virtual SerialLink& uart() = 0;
  // Simulated time passes (consoles print, engines run). No wall-clock sleeps.
  virtual void advance(uint64_t ns) = 0;
  // The rail voltage the design's board circuitry currently produces, when it models
  // one (rail 0 VCCINT, 1 VCCBRAM, 2 VCCHBM); false when it does not.
  virtual bool railVoltage(int rail, double* volts) const = 0;
};

// Options of one FPGA's design, as key=value pairs from the board description
// (for example "uart" = "v2", "app" = "echo"). The design side defines the keys.
using DesignOptions = std::map<std::string, std::string>;

// Builds the design named by the options; implemented in sim/design.
std::unique_ptr<FpgaDesign> makeDesign(const DesignOptions& options);

}  // namespace varnsim
