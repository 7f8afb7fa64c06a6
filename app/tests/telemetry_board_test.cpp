// The board thread's sampling: SLR sensors, the regulators in their fixed order, the
// validity flags and the step requests with their limits and log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/telemetry/telemetry.h"
#include "app/telemetry/telemetry_steps.h"
#include "app/tests/telemetry_fixture.h"

namespace {

using teldouble::script;
using Calls = std::vector<std::string>;

class BoardSampling : public TelemetryTest {
 protected:
  // A VU35P-like device: all three regulators, plausible readings.
  void SetUp() override {
    TelemetryTest::SetUp();
    registerBoard(0, 1, 1);
    script.vrm[0][0] = {48, 0.85, 40};
    script.vrm[0][2] = {41, 0.85, 3};
    script.vrm[0][4] = {43, 1.2, 8};
  }

  std::string sample() {
    testing::internal::CaptureStdout();
    VARNTelemetrySampleBoard(0);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(BoardSampling, SlrSensorsStoredAndHighTemperatureOnlyRises) {
  registerBoard(0, 2, 3);
  for (int d = 0; d < 2; ++d)
    for (int k = 0; k < 3; ++k) {
      script.slrTemp[d][k] = 40 + 10 * d + k;
      script.slrVolts[d][k] = 0.80 + 0.01 * k;
    }
  sample();
  EXPECT_EQ(regLoad(telemetryTemps[0][1][2]), 52);
  EXPECT_DOUBLE_EQ(regLoad(telemetryVolts[0][1][2]), 0.82);
  EXPECT_EQ(regLoad(telemetryHighTemps[0][1][2]), 52);
  EXPECT_EQ(regLoad(telemetryTemps[0][0][3]), 0) << "no fourth SLR is read";

  script.slrTemp[1][2] = 47;
  sample();
  EXPECT_EQ(regLoad(telemetryTemps[0][1][2]), 47);
  EXPECT_EQ(regLoad(telemetryHighTemps[0][1][2]), 52);
  script.slrTemp[1][2] = 60;
  sample();
  EXPECT_EQ(regLoad(telemetryHighTemps[0][1][2]), 60);

  // A failed read keeps the last sample rather than storing garbage.
  script.failing = {"slr.temp d1 r2", "slr.vccint d1 r2"};
  script.slrTemp[1][2] = 99;
  sample();
  EXPECT_EQ(regLoad(telemetryTemps[0][1][2]), 60);
  EXPECT_DOUBLE_EQ(regLoad(telemetryVolts[0][1][2]), 0.82);
}

TEST_F(BoardSampling, RegulatorsReadInTheirFixedOrder) {
  sample();
  // The HBM question asks the device table, not the bus, so it comes before the reads.
  Calls expected = {"slr.temp d0 r0", "slr.vccint d0 r0", "vrm.has d0 r4",  "vrm.temp d0 r0", "vrm.volts d0 r0",
                    "vrm.amps d0 r0",                     "vrm.volts d0 r4", "vrm.amps d0 r4",
                    "vrm.volts d0 r2", "vrm.amps d0 r2",  "vrm.temp d0 r4", "vrm.temp d0 r2"};
  EXPECT_EQ(script.calls, expected);
  EXPECT_EQ(regLoad(telemetryVRMTemps[0][0][0]), 48);
  EXPECT_EQ(regLoad(telemetryVRMVolts[0][0][1]), 0.85);
  EXPECT_EQ(regLoad(telemetryVRMAmps[0][0][1]), 3);
  EXPECT_EQ(regLoad(telemetryVRMTemps[0][0][2]), 43);
  EXPECT_EQ(regLoad(telemetryVRMVolts[0][0][2]), 1.2);
  EXPECT_EQ(regLoad(telemetryVRMAmps[0][0][2]), 8);
  EXPECT_EQ(valid(0, 0, 0) + valid(0, 0, 1) + valid(0, 0, 2), 3);
}

TEST_F(BoardSampling, DeviceWithoutHbmRegulatorSkipsItsVoltageAndCurrent) {
  script.hasHBM[0] = false;
  sample();
  Calls expected = {"slr.temp d0 r0", "slr.vccint d0 r0", "vrm.has d0 r4", "vrm.temp d0 r0", "vrm.volts d0 r0",
                    "vrm.amps d0 r0", "vrm.volts d0 r2",  "vrm.amps d0 r2", "vrm.temp d0 r4",  "vrm.temp d0 r2"};
  EXPECT_EQ(script.calls, expected);
  EXPECT_EQ(valid(0, 0, 0), 1);
  EXPECT_EQ(valid(0, 0, 1), 1);
  EXPECT_EQ(valid(0, 0, 2), 0);
}

TEST_F(BoardSampling, ValidityFlagsFollowTheirReads) {
  struct Case {
    const char* failing;
    int vccint, vccbram, vcchbm;
  };
  const Case cases[] = {
      {"", 1, 1, 1},
      {"vrm.temp d0 r0", 0, 1, 1},
      {"vrm.volts d0 r0", 0, 1, 1},
      // The HBM flag rests on the VCCINT current read, not on its own.
      {"vrm.amps d0 r0", 0, 1, 0},
      {"vrm.amps d0 r4", 1, 1, 1},
      {"vrm.volts d0 r4", 1, 1, 0},
      {"vrm.temp d0 r4", 1, 1, 0},
      {"vrm.volts d0 r2", 1, 0, 1},
      {"vrm.amps d0 r2", 1, 0, 1},
      {"vrm.temp d0 r2", 1, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    script.failing = {c.failing};
    sample();
    EXPECT_EQ(valid(0, 0, 0), c.vccint);
    EXPECT_EQ(valid(0, 0, 1), c.vccbram);
    EXPECT_EQ(valid(0, 0, 2), c.vcchbm);
  }
}

TEST_F(BoardSampling, DeviceWithALocalLinkIsSampledOnlyForItsSlrs) {
  registerBoard(0, 2, 1);
  giveLink(0, 0, true);
  regStore(telemetryVRMValid[0][0][0], 1);  // as the main loop left it
  regStore(deviceVCCINTIncReq[0][0], 2);
  sample();
  Calls expected = {"slr.temp d0 r0", "slr.vccint d0 r0", "slr.temp d1 r0", "slr.vccint d1 r0", "vrm.has d1 r4",
                    "vrm.temp d1 r0", "vrm.volts d1 r0", "vrm.amps d1 r0", "vrm.volts d1 r4", "vrm.amps d1 r4",
                    "vrm.volts d1 r2", "vrm.amps d1 r2", "vrm.temp d1 r4", "vrm.temp d1 r2"};
  EXPECT_EQ(script.calls, expected);
  EXPECT_EQ(valid(0, 0, 0), 1) << "the main loop owns that device's rail entries";
  EXPECT_EQ(regLoad(deviceVCCINTIncReq[0][0]), 2) << "and its step requests";
}

TEST_F(BoardSampling, NothingForABoardWithoutHandleOrOutOfRange) {
  regStore(varnJtags[0], nullptr);
  VARNTelemetrySampleBoard(0);
  VARNTelemetrySampleBoard(-1);
  VARNTelemetrySampleBoard(MAX_BOARDS);
  EXPECT_TRUE(script.calls.empty());
}

TEST_F(BoardSampling, ThreeUpPressesRaiseTheTargetByThirtyMillivoltsInOneWrite) {
  for (int i = 0; i < 3; ++i) regCountRequest(deviceVCCINTIncReq[0][0]);
  std::string out = sample();
  EXPECT_EQ(out, "New Target VCCINT for Board 0 FPGA A is 0.88\n");
  EXPECT_EQ(teldouble::callsStartingWith("vrm.set"), Calls{"vrm.set d0 r0 0.880"});
  EXPECT_EQ(regLoad(deviceVCCINTIncReq[0][0]), 0);
  EXPECT_EQ(sample(), "") << "served once";
}

TEST_F(BoardSampling, UpAndDownCancelWithoutAWriteAndBothReturnToZero) {
  regStore(deviceVCCBRAMIncReq[0][0], 2);
  regStore(deviceVCCBRAMDecReq[0][0], 2);
  EXPECT_EQ(sample(), "");
  EXPECT_TRUE(teldouble::callsStartingWith("vrm.set").empty());
  EXPECT_EQ(regLoad(deviceVCCBRAMIncReq[0][0]), 0);
  EXPECT_EQ(regLoad(deviceVCCBRAMDecReq[0][0]), 0);
}

TEST_F(BoardSampling, StepsServedVccintThenVcchbmThenVccbramWithTheirLogLines) {
  regStore(deviceVCCINTDecReq[0][0], 1);
  regStore(deviceVCCBRAMIncReq[0][0], 1);
  regStore(deviceVCCHBMDecReq[0][0], 5);
  regStore(deviceVCCHBMIncReq[0][0], 1);
  registerBoard(0, 2, 1);
  regStore(deviceVCCINTIncReq[0][1], 1);
  script.vrm[1][0] = {50, 0.72, 30};
  std::string out = sample();
  EXPECT_EQ(out,
            "New Target VCCINT for Board 0 FPGA A is 0.84\n"
            "New Target VCCHBM for Board 0 FPGA A is 1.160\n"
            "New Target VCCBRAM for Board 0 FPGA A is 0.860\n"
            "New Target VCCINT for Board 0 FPGA B is 0.73\n");
  Calls expected = {"vrm.set d0 r0 0.840", "vrm.set d0 r4 1.160", "vrm.set d0 r2 0.860", "vrm.set d1 r0 0.730"};
  EXPECT_EQ(teldouble::callsStartingWith("vrm.set"), expected);
}

TEST_F(BoardSampling, RequestsWaitWhileTheirRailCannotBeRead) {
  regStore(deviceVCCINTIncReq[0][0], 1);
  regStore(deviceVCCHBMIncReq[0][0], 1);
  script.failing = {"vrm.volts d0 r0"};
  script.hasHBM[0] = false;
  EXPECT_EQ(sample(), "");
  EXPECT_EQ(regLoad(deviceVCCINTIncReq[0][0]), 1);
  EXPECT_EQ(regLoad(deviceVCCHBMIncReq[0][0]), 1) << "no HBM regulator: nothing to step";
  script.failing.clear();
  EXPECT_EQ(sample(), "New Target VCCINT for Board 0 FPGA A is 0.86\n");
}

TEST_F(BoardSampling, FailedStepWriteIsReported) {
  regStore(deviceVCCINTIncReq[0][0], 1);
  script.failing = {"vrm.set d0 r0 0.860"};
  EXPECT_EQ(sample(),
            "New Target VCCINT for Board 0 FPGA A is 0.86\n"
            "Failed to set VRM rail 0 of Board 0 FPGA A to 0.860: 7\n");
  EXPECT_EQ(regLoad(deviceVCCINTIncReq[0][0]), 0) << "not retried";
}

TEST(StepTarget, LimitsPerRailAndDirection) {
  struct Case {
    VARNRail rail;
    double measured;
    int up, down;
    double target;
  };
  const Case cases[] = {
      {VARN_RAIL_VCCINT, 0.90, 3, 0, 0.93},   {VARN_RAIL_VCCINT, 0.93, 1, 0, 0.94},
      {VARN_RAIL_VCCINT, 0.90, 9, 0, 0.94},   {VARN_RAIL_VCCINT, 0.62, 0, 5, 0.60},
      {VARN_RAIL_VCCBRAM, 0.91, 1, 0, 0.92},  {VARN_RAIL_VCCBRAM, 0.92, 1, 0, 0.92},
      {VARN_RAIL_VCCBRAM, 0.61, 1, 3, 0.60},  {VARN_RAIL_VCCHBM, 1.31, 2, 0, 1.32},
      {VARN_RAIL_VCCHBM, 0.95, 0, 10, 0.90},  {VARN_RAIL_VCCHBM, 1.20, 255, 0, 1.32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rail " << c.rail << " at " << c.measured << " +" << c.up << " -" << c.down);
    VARNStepTarget t = VARNStepTargetFor(c.rail, c.measured, static_cast<uint8_t>(c.up), static_cast<uint8_t>(c.down));
    EXPECT_TRUE(t.write);
    EXPECT_NEAR(t.volts, c.target, 1e-9);
  }
  EXPECT_FALSE(VARNStepTargetFor(VARN_RAIL_VCCINT, 0.85, 4, 4).write);
}

}  // namespace
