// The main loop's rail sampling over a local AXI link, and its start-up work: which
// boards qualify, the ZK patch once, start-up voltages through the link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/mainloop/local_axi_work.h"
#include "app/telemetry/telemetry.h"
#include "app/tests/arg_vector.h"
#include "app/tests/telemetry_fixture.h"

namespace {

using teldouble::script;
using Calls = std::vector<std::string>;

class LocalAXISampling : public TelemetryTest {
 protected:
  void SetUp() override {
    TelemetryTest::SetUp();
    registerBoard(0, 1, 1);
    for (int r = 0; r < 3; ++r) script.axi[0][r] = {40.0 + r, 0.85 + 0.1 * r, 10.0 + r};
  }
  std::string sample(int d = 0) {
    testing::internal::CaptureStdout();
    VARNTelemetrySampleLocalAXI(0, d);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(LocalAXISampling, LrRailsReadInOrderAndStored) {
  giveLink(0, 0, true);
  sample();
  Calls expected;
  for (const char* r : {"r0", "r1", "r2"})
    for (const char* what : {"lr.temp", "lr.volts", "lr.amps"}) expected.push_back(std::string(what) + " d0 " + r);
  EXPECT_EQ(script.calls, expected);
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(regLoad(telemetryVRMTemps[0][0][r]), 40.0 + r);
    EXPECT_EQ(regLoad(telemetryVRMVolts[0][0][r]), 0.85 + 0.1 * r);
    EXPECT_EQ(regLoad(telemetryVRMAmps[0][0][r]), 10.0 + r);
    EXPECT_EQ(valid(0, 0, r), 1);
  }
}

TEST_F(LocalAXISampling, ValidityFlagsOnBothFamilies) {
  struct Case {
    const char* failing;  // without the family prefix
    int r0, r1, r2;
  };
  const Case cases[] = {
      {"", 1, 1, 1},
      {"temp d0 r0", 0, 1, 1},
      {"volts d0 r0", 0, 1, 1},
      {"amps d0 r0", 0, 1, 0},
      {"temp d0 r1", 1, 0, 1},
      {"volts d0 r1", 1, 0, 1},
      {"amps d0 r1", 1, 0, 1},
      {"temp d0 r2", 1, 1, 0},
      {"volts d0 r2", 1, 1, 1},  // rail 2's own voltage read is not in its flag
      {"amps d0 r2", 1, 1, 0},
  };
  for (bool lr : {true, false}) {
    giveLink(0, 0, lr);
    for (const Case& c : cases) {
      std::string failing = std::string(lr ? "lr." : "zk.") + c.failing;
      SCOPED_TRACE(failing);
      script.failing = {failing};
      sample();
      EXPECT_EQ(valid(0, 0, 0), c.r0);
      EXPECT_EQ(valid(0, 0, 1), c.r1);
      EXPECT_EQ(valid(0, 0, 2), c.r2);
    }
  }
}

TEST_F(LocalAXISampling, FailedReadKeepsTheLastSample) {
  giveLink(0, 0, false);
  sample();
  script.axi[0][1].volts = 0.5;
  script.failing = {"zk.volts d0 r1"};
  sample();
  EXPECT_EQ(regLoad(telemetryVRMVolts[0][0][1]), 0.95);
  EXPECT_EQ(valid(0, 0, 1), 0);
}

TEST_F(LocalAXISampling, LinkOfNeitherFamilyClearsTheFlagsAndReadsNothing) {
  regStore(localAXI[0][0], teldouble::link(0));
  for (int r = 0; r < 3; ++r) regStore(telemetryVRMValid[0][0][r], 1);
  sample();
  EXPECT_TRUE(script.calls.empty());
  EXPECT_EQ(valid(0, 0, 0) + valid(0, 0, 1) + valid(0, 0, 2), 0);
}

TEST_F(LocalAXISampling, StepRequestsMoveEachRailAndEqualCountersStay) {
  giveLink(0, 0, true);
  regStore(deviceVCCINTIncReq[0][0], 3);
  regStore(deviceVCCBRAMIncReq[0][0], 1);
  regStore(deviceVCCBRAMDecReq[0][0], 1);
  regStore(deviceVCCHBMDecReq[0][0], 2);
  sample();
  EXPECT_EQ(teldouble::callsStartingWith("lr.chg"), (Calls{"lr.chg d0 r0 +3", "lr.chg d0 r2 -2"}));
  EXPECT_EQ(regLoad(deviceVCCINTIncReq[0][0]), 0);
  EXPECT_EQ(regLoad(deviceVCCHBMDecReq[0][0]), 0);
  EXPECT_EQ(regLoad(deviceVCCBRAMIncReq[0][0]), 1) << "equal counters are left as they are";
  EXPECT_EQ(regLoad(deviceVCCBRAMDecReq[0][0]), 1);

  giveLink(0, 0, false);
  script.calls.clear();
  regStore(deviceVCCBRAMDecReq[0][0], 0);
  sample();
  EXPECT_EQ(teldouble::callsStartingWith("zk.chg"), Calls{"zk.chg d0 r1 +1"});
  EXPECT_EQ(regLoad(deviceVCCBRAMIncReq[0][0]), 0);
}

// Steps move a rail from its present reading; while that cannot be read they wait
// (reported once) and are served in full by the first turn that reads it.
TEST_F(LocalAXISampling, StepsWaitForAGoodReading) {
  giveLink(0, 0, false);
  regStore(deviceVCCINTDecReq[0][0], 4);
  script.failing = {"zk.volts d0 r0"};
  std::string out = sample() + sample();
  EXPECT_TRUE(teldouble::callsStartingWith("zk.chg").empty());
  EXPECT_EQ(regLoad(deviceVCCINTDecReq[0][0]), 4);
  EXPECT_EQ(out, "Board 0 Device 0 rail 0: the voltage reading failed; its steps wait for a good reading\n");
  // The reading works but fails again inside the change: the steps go back.
  script.failing = {"zk.chg d0 r0"};
  out = sample();
  EXPECT_EQ(teldouble::callsStartingWith("zk.chg"), Calls{"zk.chg d0 r0 -4"});
  EXPECT_EQ(regLoad(deviceVCCINTDecReq[0][0]), 4);
  EXPECT_TRUE(out.empty()) << "already reported";
  script.failing.clear();
  script.calls.clear();
  sample();
  EXPECT_EQ(teldouble::callsStartingWith("zk.chg"), Calls{"zk.chg d0 r0 -4"});
  EXPECT_EQ(regLoad(deviceVCCINTDecReq[0][0]), 0);
}

// --- the main loop's per-board work -------------------------------------------------

class LocalAXIWork : public TelemetryTest {
 protected:
  void SetUp() override {
    TelemetryTest::SetUp();
    registerBoard(0, 2, 1);
    for (int d = 0; d < 2; ++d) {
      regStore(deviceStates[0][d], Waiting);
      regStore(deviceUserCode[0][d], 0x1234);
      giveLink(0, d, false);
    }
  }
  void parse(std::initializer_list<const char*> args) {
    args_ = std::make_unique<ArgVector>(args);
    testing::internal::CaptureStdout();
    VARNParseOptions(args_->argc(), args_->argv());
    testing::internal::GetCapturedStdout();
  }
  std::string turn() {
    testing::internal::CaptureStdout();
    VARNLocalAXIWork(0);
    return testing::internal::GetCapturedStdout();
  }
  std::unique_ptr<ArgVector> args_;
};

TEST_F(LocalAXIWork, BoardQualifiesOnlyWhenEveryDeviceIsReadyAndLinked) {
  EXPECT_TRUE(VARNLocalAXIBoardQualifies(0));
  regStore(deviceStates[0][1], ProgrammingDone);
  regStore(deviceUserCode[0][1], VARN_USER_CODE_NONE);
  EXPECT_TRUE(VARNLocalAXIBoardQualifies(0)) << "a loaded device needs no user code";
  for (uint8_t state : {0, int(Programming), int(DeviceNotValid), int(BitLoadFailed)}) {
    SCOPED_TRACE(int(state));
    regStore(deviceStates[0][1], state);
    EXPECT_FALSE(VARNLocalAXIBoardQualifies(0));
  }
  regStore(deviceStates[0][1], Waiting);
  EXPECT_FALSE(VARNLocalAXIBoardQualifies(0)) << "Waiting without a user code yet";
  regStore(deviceUserCode[0][1], 0);
  EXPECT_TRUE(VARNLocalAXIBoardQualifies(0));
  regStore(localAXI[0][1], nullptr);
  EXPECT_FALSE(VARNLocalAXIBoardQualifies(0));
  EXPECT_FALSE(VARNLocalAXIBoardQualifies(1)) << "no devices";

  EXPECT_EQ(turn(), "");
  EXPECT_TRUE(script.calls.empty()) << "nothing on a board that does not qualify";
  EXPECT_EQ(regLoad(deviceInitialized[0][0]), 0);
}

TEST_F(LocalAXIWork, ZkPatchOnceThenStartupVoltagesThenRailsEveryTurn) {
  parse({"-x", "-v", "0.85", "-y", "0.9:0.99,", "-w", "1.25"});
  std::string out = turn();
  EXPECT_EQ(out,
            "VARN JTAG Board 0 Device 0 setting voltage 0.85\n"
            "VARN JTAG Board 0 Device 0 setting BRAM voltage 0.90\n"
            "VARN JTAG Board 0 Device 0 setting HBM voltage 1.25\n"
            "VARN JTAG Board 0 Device 1 setting voltage 0.85\n"
            "VARN JTAG Board 0 Device 1 specified BRAM voltage 0.99 is out of range\n"
            "VARN JTAG Board 0 Device 1 setting HBM voltage 1.25\n");
  Calls writes;
  for (const auto& c : script.calls)
    if (c.rfind("zk.patch", 0) == 0 || c.rfind("zk.write", 0) == 0 || c == "zk.temp d0 r0" || c == "zk.temp d1 r0")
      writes.push_back(c);
  Calls expected = {"zk.patch d0 r0",         "zk.write d0 r0 0.850", "zk.write d0 r1 0.900", "zk.write d0 r2 1.250",
                    "zk.temp d0 r0",          "zk.patch d1 r0",       "zk.write d1 r0 0.850", "zk.write d1 r2 1.250",
                    "zk.temp d1 r0"};
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(regLoad(deviceInitialized[0][0]), 1);

  for (int i = 0; i < 3; ++i) {
    script.calls.clear();
    EXPECT_EQ(turn(), "");
    EXPECT_TRUE(teldouble::callsStartingWith("zk.patch").empty());
    EXPECT_TRUE(teldouble::callsStartingWith("zk.write").empty());
    EXPECT_EQ(teldouble::callsStartingWith("zk.temp").size(), 6u) << "three rails of two devices each turn";
  }
  EXPECT_EQ(regLoad(deviceInitialized[0][0]), 2) << "counts up to 2 and stays";
  EXPECT_EQ(regLoad(deviceInitialized[0][1]), 2);
}

TEST_F(LocalAXIWork, LrLinkWritesThroughThePotentiometersWithoutPatch) {
  for (int d = 0; d < 2; ++d) giveLink(0, d, true);
  parse({"-x", "-u", "-v", "0.80:0.6,"});
  turn();
  EXPECT_TRUE(teldouble::callsStartingWith("zk.").empty());
  EXPECT_EQ(teldouble::callsStartingWith("lr.write"), (Calls{"lr.write d0 r0 0.800", "lr.write d1 r0 0.600"}));
}

TEST_F(LocalAXIWork, FailedWriteIsLoggedAndNotRetried) {
  script.voltWriteResult = 1;
  parse({"-x", "-w", "1.1"});
  EXPECT_EQ(turn(),
            "VARN JTAG Board 0 Device 0 setting HBM voltage 1.10\n"
            "Failed to set voltage\n"
            "VARN JTAG Board 0 Device 1 setting HBM voltage 1.10\n"
            "Failed to set voltage\n");
  script.calls.clear();
  turn();
  EXPECT_TRUE(teldouble::callsStartingWith("zk.write").empty());
}

TEST_F(LocalAXIWork, LinkOfNeitherFamilyGetsTheLogLinesButNoWrite) {
  regStore(localAXIIsZK[0][0], 0);
  parse({"-x", "-v", "0.9"});
  std::string out = turn();
  EXPECT_NE(out.find("VARN JTAG Board 0 Device 0 setting voltage 0.90\n"), std::string::npos);
  EXPECT_TRUE(teldouble::callsStartingWith("zk.write d0").empty());
  EXPECT_TRUE(teldouble::callsStartingWith("zk.patch d0").empty());
  EXPECT_EQ(teldouble::callsStartingWith("zk.write d1"), Calls{"zk.write d1 r0 0.900"});
}

}  // namespace
