#include "sim/design/board_power.h"

#include <cmath>

namespace varnsim {

namespace {
// Divider constants of the LR regulators' feedback networks: V = a / (20 - 2048 / (code + b)) + 0.6.
constexpr double kPotA[3] = {2.661, 3.45, 9.03};
constexpr double kPotB[3] = {153.6, 204.8, 256.512};
// Self-heating of a rail's regulator, degrees per watt delivered.
constexpr double kDegPerWatt = 0.25;
}  // namespace

double lrPotVolts(int rail, int code) {
  if (rail < 0 || rail > 2) return 0.0;
  if (code < 0) code = 0;
  if (code > 255) code = 255;
  return kPotA[rail] / (20.0 - 2048.0 / (code + kPotB[rail])) + 0.6;
}

int lrPotCodeFor(int rail, double volts) {
  int best = 0;
  double bestErr = 1e9;
  for (int i = 0; i < 256; ++i) {
    double e = std::fabs(lrPotVolts(rail, i) - volts);
    if (e < bestErr) {
      bestErr = e;
      best = i;
    }
  }
  return best;
}

BoardPower::BoardPower(const DesignConfig& cfg) : family_(cfg.family), inputVolts_(cfg.inputVolts) {
  for (int r = 0; r < 3; ++r) {
    double v = cfg.railVolts[r];
    // The potentiometers can only reach their table's values: start on the nearest one.
    if (family_ == BoardFamily::LR) v = lrPotVolts(r, lrPotCodeFor(r, v));
    volts_[r] = v;
    nominal_[r] = v;
    loadAmps_[r] = cfg.railAmps[r];
    baseTemp_[r] = cfg.railTempC[r];
  }
}

double BoardPower::amps(int rail) const {
  if (!valid(rail) || nominal_[rail] <= 0) return 0.0;
  return loadAmps_[rail] * volts_[rail] / nominal_[rail];
}

double BoardPower::tempC(int rail) const {
  if (!valid(rail)) return 0.0;
  return baseTemp_[rail] + kDegPerWatt * watts(rail);
}

double BoardPower::inputAmps(int rail) const {
  if (!valid(rail) || inputVolts_ <= 0) return 0.0;
  return watts(rail) / 0.9 / inputVolts_;
}

}  // namespace varnsim
