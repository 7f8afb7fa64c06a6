// A Virtex UltraScale+ FPGA on the chain: one TAP for the whole part, a 6-bit
// instruction per SLR concatenated with the master SLR (SLR 0) in the most
// significant bits, and behind it the data registers, per-SLR configuration logic
// and system monitors, the eFUSE identity and the user design once configured.
//
// Instruction composition: an instruction for all SLRs (IDCODE, BYPASS, SAMPLE,
// JPROGRAM, JSTART, JSHUTDOWN, ISC_NOOP) repeats its code in every group; an
// instruction for one SLR puts its code in that SLR's group and 0x24 (feed-through)
// in all others. Any other combination selects the 1-bit bypass register, as does
// BYPASS itself: the whole part then shows one bypass bit.
#pragma once

#include <cstdint>
#include <string>

#include "sim/core/bit_ring.h"
#include "sim/core/bits.h"
#include "sim/core/design_slot.h"
#include "sim/core/device_config.h"
#include "sim/core/sysmon.h"
#include "sim/core/tap_device.h"
#include "sim/core/xilinx_config.h"

namespace varnsim {

class XilinxDevice : public TapDevice {
 public:
  // Boundary-scan cells of the VU35P that carry the carrier board's GPIO lines.
  static constexpr int kBitCarrier0 = 1691, kBitCarrier1 = 1700;
  static constexpr int kBitSlot0 = 1649, kBitSlot1 = 1658;
  static constexpr int kBitLedR = 1556, kBitLedG = 1553, kBitLedB = 1547;
  static constexpr int kBitLedA = 1562, kBitLedBb = 1565, kBitLedC = 1568, kBitLedD = 1559;

  XilinxDevice(const DeviceConfig& cfg, DesignFactory factory);

  const PartInfo& part() const { return *cfg_.part; }
  int slrs() const { return slrs_; }
  DeviceConfig& settings() { return cfg_; }

  // Brings lazily tracked progress (housecleaning, start-up) up to date.
  void settle();
  bool done() { settle(); return done_; }
  bool initComplete() { settle(); return initDone_; }
  // The IR capture of the whole part (SLR 0 in the most significant group).
  uint64_t irCapture() { settle(); return captureIR(); }
  ConfigLogic& configLogic(int slr) { return config_[slr]; }
  const ConfigLogic& configLogic(int slr) const { return config_[slr]; }
  uint64_t frameWords() const;
  // First configuration error over the SLRs (CfgError::None when there is none).
  CfgError configError(int* slr = nullptr) const;
  std::string describe();
  Sysmon& sysmon(int slr) { return sysmon_[slr]; }
  uint32_t usercode() const { return usercode_; }
  FpgaDesign* design() const { return design_.get(); }
  const DesignSlot& designSlot() const { return design_; }
  uint64_t programs() const { return programs_; }

 protected:
  uint64_t captureIR() override;
  void updateIR(uint64_t ir) override;
  uint64_t testLogicReset() override;
  void captureDR() override;
  bool drOut() const override;
  void shiftDR(bool tdi) override;
  uint8_t shiftDRByte(uint8_t tdi) override;
  void updateDR() override;

 private:
  enum class Dr { Bypass, Fixed, Sysmon, User, CfgIn };

  uint64_t everySlr(uint32_t code) const;
  void decode(uint64_t ir);
  void program();
  void leaveInstruction();
  void becomeDone();
  bool cfgGate() const { return initDone_; }
  void loadBoundary();
  void updateRails();

  DeviceConfig cfg_;
  int slrs_;
  ConfigLogic config_[4];
  Sysmon sysmon_[4];
  DesignSlot design_;

  Dr dr_ = Dr::Fixed;
  int drSlr_ = 0;
  int user_ = 0;
  uint32_t code_ = 0;      // decoded 6-bit code of the current instruction
  bool global_ = true;     // the code went to every SLR
  uint32_t fixedKind_ = 0; // which fixed register (the code) a Fixed DR holds
  BitRing ring_{2048};
  bool bypass_ = false;

  bool done_ = false;
  bool initDone_ = true;   // an unconfigured part after power-up is clean
  uint64_t hcEnd_ = 0;
  uint64_t startupAcc_ = 0;
  uint64_t startMark_ = 0;
  bool inJstart_ = false;
  uint32_t usercode_;
  uint64_t programs_ = 0;
};

}  // namespace varnsim
