// The board's power circuitry around the FPGA: three rails whose set points come from
// the LR potentiometers or the ZK regulators, the load each rail carries, regulator
// temperatures and the board input supply. The sensor models (sysmon, temperature
// sensors, regulator readings) read their values from here.
#pragma once

#include <cstdint>

#include "sim/design/design_config.h"

namespace varnsim {

// Rail voltage an LR potentiometer code 0..255 produces, for rails 0..2.
double lrPotVolts(int rail, int code);
// The code whose voltage is nearest to volts on an LR rail.
int lrPotCodeFor(int rail, double volts);

class BoardPower {
 public:
  explicit BoardPower(const DesignConfig& cfg);

  BoardFamily family() const { return family_; }
  bool hasRails() const { return family_ != BoardFamily::None; }

  double volts(int rail) const { return valid(rail) ? volts_[rail] : 0.0; }
  void setVolts(int rail, double v) {
    if (valid(rail)) volts_[rail] = v;
  }
  // Current drawn from the rail: the load behaves resistively around its start-up point.
  double amps(int rail) const;
  double watts(int rail) const { return volts(rail) * amps(rail); }
  // Regulator / sensor temperature of the rail: its base plus self-heating.
  double tempC(int rail) const;
  double inputVolts() const { return inputVolts_; }
  // Current the rail's converter draws from the input supply at 90 % efficiency.
  double inputAmps(int rail) const;

  // Test hooks.
  void setLoadAmps(int rail, double a) {
    if (valid(rail)) loadAmps_[rail] = a;
  }
  void setBaseTempC(int rail, double t) {
    if (valid(rail)) baseTemp_[rail] = t;
  }
  void setInputVolts(double v) { inputVolts_ = v; }

 private:
  static bool valid(int rail) { return rail >= 0 && rail < 3; }
  BoardFamily family_;
  double volts_[3];
  double nominal_[3];
  double loadAmps_[3];
  double baseTemp_[3];
  double inputVolts_;
};

}  // namespace varnsim
