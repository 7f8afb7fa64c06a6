#include "sim/design/design.h"

#include <cstdio>

#include "sim/design/axi_master_app.h"
#include "sim/design/axi_system.h"
#include "sim/design/console_app.h"

namespace varnsim {

Design::Design(const DesignConfig& cfg)
    : cfg_(cfg), channel_(cfg.fifoIn, cfg.fifoOut), power_(cfg), jtag_(cfg.uart, channel_), pins_(*this) {
  switch (cfg.app) {
    case AppKind::Console: {
      auto c = std::make_unique<ConsoleApp>(cfg.consoleName, cfg.consolePeriodMs, &power_);
      console_ = c.get();
      app_ = std::move(c);
      break;
    }
    case AppKind::Axi: {
      axiSystem_ = std::make_unique<AxiSystem>(cfg, power_);
      auto a = std::make_unique<AxiMasterApp>(*axiSystem_, cfg.irqMask);
      axi_ = a.get();
      // The CDMA engine's interrupt output is wired to interrupt set 1.
      axiSystem_->cdma().setIrq([this](uint32_t status) { axi_->raiseInterrupt(0x1, status); });
      app_ = std::move(a);
      break;
    }
    case AppKind::Echo:
      app_ = std::make_unique<EchoApp>();
      break;
  }
  app_->service(channel_);
}

Design::~Design() = default;

void Design::raiseInterrupt(uint8_t sets, uint64_t value) {
  if (!axi_) return;
  axi_->raiseInterrupt(sets, value);
  app_->service(channel_);
}

void Design::update(int user) {
  if (jtag_.update(user) || user == 1) app_->service(channel_);
}

void Design::advance(uint64_t ns) {
  nowNs_ += ns;
  app_->advance(nowNs_, channel_);
}

bool Design::railVoltage(int rail, double* volts) const {
  if (!power_.hasRails() || rail < 0 || rail > 2) return false;
  if (volts) *volts = power_.volts(rail);
  return true;
}

void Design::Pins::toFpga(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (d_.channel_.in.push(data[i])) ++counters.bytesIn;
    // Let the application drain as bytes land, as the fabric would between UART frames.
    if (d_.channel_.in.full()) d_.app_->service(d_.channel_);
  }
  d_.app_->service(d_.channel_);
}

size_t Design::Pins::fromFpga(uint8_t* out, size_t capacity) {
  size_t n = d_.channel_.out.popInto(out, capacity);
  counters.bytesOut += n;
  if (n) d_.app_->service(d_.channel_);  // room in the answer FIFO may unblock the application
  return n;
}

size_t Design::Pins::fromFpgaAvailable() const { return d_.channel_.out.size(); }

std::unique_ptr<Design> makeDesignChecked(const DesignOptions& options, std::string* error) {
  DesignConfig cfg;
  if (!parseDesignOptions(options, &cfg, error)) return nullptr;
  return std::make_unique<Design>(cfg);
}

std::unique_ptr<FpgaDesign> makeDesign(const DesignOptions& options) {
  std::string error;
  auto d = makeDesignChecked(options, &error);
  if (!d) std::fprintf(stderr, "simulated FPGA design: %s\n", error.c_str());
  return d;
}

}  // namespace varnsim
