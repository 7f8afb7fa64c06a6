// One simulated FPGA design: the JTAG-UART and UART pins in front of one byte
// channel, the application chosen by the options behind it, and the board's power
// circuitry. The concrete type behind varnsim::makeDesign; tests reach the counters
// and fault hooks through it.
#pragma once

#include <memory>
#include <string>

#include "sim/common/fpga_fabric.h"
#include "sim/design/board_power.h"
#include "sim/design/byte_channel.h"
#include "sim/design/channel_app.h"
#include "sim/design/design_config.h"
#include "sim/design/jtag_uart.h"

namespace varnsim {

class AxiMasterApp;
class AxiSystem;
class ConsoleApp;

struct PinCounters {
  uint64_t bytesIn = 0;   // accepted from the pins into the FIFO toward the FPGA
  uint64_t bytesOut = 0;  // handed out of the FIFO toward the host
};

class Design : public FpgaDesign {
 public:
  explicit Design(const DesignConfig& cfg);
  ~Design() override;

  // BscanUser
  void capture(int user) override { jtag_.capture(user); }
  bool tdo(int user) const override { return jtag_.tdo(user); }
  void shift(int user, bool tdi) override { jtag_.shift(user, tdi); }
  void update(int user) override;

  // FpgaDesign
  SerialLink& uart() override { return pins_; }
  void advance(uint64_t ns) override;
  bool railVoltage(int rail, double* volts) const override;

  // Inspection and test hooks.
  const DesignConfig& config() const { return cfg_; }
  uint64_t nowNs() const { return nowNs_; }
  ByteChannel& channel() { return channel_; }
  const JtagUartCounters& jtagCounters() const { return jtag_.counters(); }
  const PinCounters& pinCounters() const { return pins_.counters; }
  uint64_t inputDropped() const { return channel_.in.dropped(); }
  BoardPower& power() { return power_; }
  // Non-null only for app=axi / app=console respectively.
  AxiMasterApp* axi() { return axi_; }
  AxiSystem* axiSystem() { return axiSystem_.get(); }
  ConsoleApp* console() { return console_; }
  // Test hook (app=axi): the design raises interrupt sets with a 64-bit value.
  void raiseInterrupt(uint8_t sets, uint64_t value);
  // Runs the application once more (after a test hook changed something behind it).
  void service() { app_->service(channel_); }

 private:
  class Pins : public SerialLink {
   public:
    explicit Pins(Design& d) : d_(d) {}
    void toFpga(const uint8_t* data, size_t n) override;
    size_t fromFpga(uint8_t* out, size_t capacity) override;
    size_t fromFpgaAvailable() const override;
    PinCounters counters;

   private:
    Design& d_;
  };

  DesignConfig cfg_;
  uint64_t nowNs_ = 0;
  ByteChannel channel_;
  BoardPower power_;
  JtagUart jtag_;
  Pins pins_;
  std::unique_ptr<AxiSystem> axiSystem_;
  std::unique_ptr<ChannelApp> app_;
  AxiMasterApp* axi_ = nullptr;
  ConsoleApp* console_ = nullptr;
};

// makeDesign with the reason for a refusal: null and *error set on bad options.
std::unique_ptr<Design> makeDesignChecked(const DesignOptions& options, std::string* error);

}  // namespace varnsim
