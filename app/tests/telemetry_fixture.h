// One registered board over the scripted doubles, with every table and setting back
// at its start value.
#pragma once

#include <gtest/gtest.h>

#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "app/tests/telemetry_doubles.h"

class TelemetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNRegistryReset();
    VARNSettingsReset();
    teldouble::reset();
  }
  void TearDown() override {
    VARNRegistryReset();
    VARNSettingsReset();
  }

  // Board `b` with `devices` devices of `slrs` SLRs each, reached through the double.
  static void registerBoard(int b, int devices, int slrs) {
    if (regLoad(boardCnt) <= b) regStore(boardCnt, b + 1);
    regStore(devCounts[b], devices);
    regStore(varnJtags[b], teldouble::jtag());
    for (int d = 0; d < devices; ++d) regStore(slrCounts[b][d], slrs);
  }

  static void giveLink(int b, int d, bool lr) {
    regStore(localAXI[b][d], teldouble::link(d));
    regStore(localAXIIsLR[b][d], lr ? 1 : 0);
    regStore(localAXIIsZK[b][d], lr ? 0 : 1);
  }

  static int valid(int b, int d, int rail) { return regLoad(telemetryVRMValid[b][d][rail]); }
};
