// A Stratix 10 FPGA on the chain: a 10-bit instruction register (capture 0101010101,
// as Intel's BSDL files declare), IDCODE and USERCODE, the SDM mailbox registers
// (0x201 command, 0x202 response, both 34 bits), the configuration stream status
// register (0x208, 37 bits: bit 0 busy, bit 1 failed, bits 2-31 bytes taken) and
// CONFIG_IN (0x002). Every CONFIG_IN scan carries one chunk: the eight framing bytes
// FF FF FF FF 00 2A 7E A1, the data bytes, and a single 1 bit. Bits before the
// framing (those of bypass registers between TDI and the device) are ignored; a scan
// without the framing, or not ending in whole bytes and the 1 bit, delivers nothing, and nothing is taken while the SDM is busy or not
// receiving. Unknown instructions select the 1-bit bypass register.
#pragma once

#include <cstdint>

#include "sim/core/design_slot.h"
#include "sim/core/device_config.h"
#include "sim/core/sdm.h"
#include "sim/core/tap_device.h"

namespace varnsim {

class IntelDevice : public TapDevice {
 public:
  IntelDevice(const DeviceConfig& cfg, DesignFactory factory);

  const PartInfo& part() const { return *cfg_.part; }
  Sdm& sdm() { return sdm_; }
  bool configured() const { return sdm_.configured(); }
  FpgaDesign* design() const { return design_.get(); }
  DeviceConfig& settings() { return cfg_; }
  uint64_t rejectedChunks() const { return rejected_; }

 protected:
  uint64_t captureIR() override { return 0x155; }
  void updateIR(uint64_t ir) override { ir_ = static_cast<uint32_t>(ir); }
  uint64_t testLogicReset() override;
  void captureDR() override;
  bool drOut() const override;
  void shiftDR(bool tdi) override;
  uint8_t shiftDRByte(uint8_t tdi) override;
  void updateDR() override;

 private:
  void configBit(bool b);
  void afterStream();

  DeviceConfig cfg_;
  Sdm sdm_;
  DesignSlot design_;
  uint32_t ir_ = 0;
  uint64_t reg_ = 0;   // the 32/34/37-bit registers
  int regLen_ = 1;
  bool bypass_ = false;

  // The CONFIG_IN scan in progress.
  SdmStream snapshot_;
  uint64_t bits_ = 0;       // 0x201 scan length
  uint64_t window_ = 0;     // the last 64 bits, hunting for the framing
  bool synced_ = false;
  uint64_t dataBits_ = 0;   // bits after the framing
  bool chunkAccepted_ = false;
  uint8_t cur_ = 0;
  bool lastBit_ = false;
  uint64_t rejected_ = 0;
};

}  // namespace varnsim
