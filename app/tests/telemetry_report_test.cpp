// The console report byte for byte, the power estimate, and the main loop's turn
// work around it (timing, -q, request flags).
#include <gtest/gtest.h>

#include <string>

#include "app/log/varn_log.h"
#include "app/mainloop/main_loop.h"
#include "app/telemetry/telemetry.h"
#include "app/tests/telemetry_fixture.h"

namespace {

class Report : public TelemetryTest {
 protected:
  static void slr(int b, int d, int k, double t, double v) {
    regStore(telemetryTemps[b][d][k], t);
    regStore(telemetryVolts[b][d][k], v);
  }
  static void rail(int b, int d, int r, double t, double v, double a, bool ok = true) {
    regStore(telemetryVRMTemps[b][d][r], t);
    regStore(telemetryVRMVolts[b][d][r], v);
    regStore(telemetryVRMAmps[b][d][r], a);
    regStore(telemetryVRMValid[b][d][r], ok ? 1 : 0);
  }
  static std::string report() {
    testing::internal::CaptureStdout();
    VARNTelemetryPrintReport();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(Report, EveryDeviceOfEveryBoardByteForByte) {
  registerBoard(0, 2, 2);
  registerBoard(1, 1, 1);
  slr(0, 0, 0, 45.678, 0.8512);
  slr(0, 0, 1, 47.1, 0.849);
  rail(0, 0, 0, 48.4, 0.85, 40.123);
  rail(0, 0, 1, 41, 0.8504, 3.2);
  rail(0, 0, 2, 43, 1.2, 8.5);
  regStore(deviceTxBytes[0][0], 12);
  regStore(deviceRxBytes[0][0], 3456);
  // Device B: no regulator reachable, only its SLR values.
  slr(0, 1, 0, 50, 0.9);
  slr(0, 1, 1, 51, 0.91);
  rail(0, 1, 0, 99, 9, 9, false);
  // Board 1: HBM rail invalid.
  slr(1, 0, 0, 30.004, 0.7);
  rail(1, 0, 0, 40, 0.8, 20);
  rail(1, 0, 1, 40, 0.9, 2);
  rail(1, 0, 2, 40, 1.2, 5, false);
  regStore(deviceTxBytes[1][0], 4000000000u);  // a total past 2 GiB stays positive

  double boardZero = (0.85 * 40.123 + 0.8504 * 3.2 + 1.2 * 8.5 + 10) / 0.85;
  char watts[32];
  std::snprintf(watts, sizeof(watts), "%0.2f", boardZero);
  EXPECT_EQ(report(),
            "Telemetry:\n"
            "Board 0 FPGA A TX 12 / RX 3456 (45.68 C 0.851 V, 47.10 C 0.849 V, VRM 48 C, 0.850 V, 40.12 A, "
            "BRAMVRM 0.850 V, 3.20 A, HBMVRM 1.200 V, 8.50 A, Total Watts: " + std::string(watts) + " W)\n"
            "Board 0 FPGA B TX 0 / RX 0 (50.00 C 0.900 V, 51.00 C 0.910 V, )\n"
            "Board 1 FPGA A TX 4000000000 / RX 0 (30.00 C 0.700 V, VRM 40 C, 0.800 V, 20.00 A, "
            "BRAMVRM 0.900 V, 2.00 A, Total Watts: 32.71 W)\n"
            "\n");
}

TEST_F(Report, NoPowerFigureWithoutBothVccintAndVccbram) {
  registerBoard(0, 1, 1);
  slr(0, 0, 0, 40, 0.85);
  rail(0, 0, 0, 40, 0.85, 10, false);
  rail(0, 0, 1, 40, 0.85, 1);
  rail(0, 0, 2, 40, 1.2, 2);
  EXPECT_EQ(report(),
            "Telemetry:\n"
            "Board 0 FPGA A TX 0 / RX 0 (40.00 C 0.850 V, BRAMVRM 0.850 V, 1.00 A, HBMVRM 1.200 V, 2.00 A, )\n"
            "\n");
}

TEST_F(Report, EmptyWithoutBoardsAndIntoTheRingWithTheConsoleView) {
  EXPECT_EQ(report(), "Telemetry:\n\n");
  registerBoard(0, 1, 0);
  VARNLogInit();
  gUseGUI = true;
  EXPECT_EQ(report(), "") << "the ring replaces standard output";
  EXPECT_STREQ(gLogBuffer[VARN_LOG_SLOTS - 3], "Telemetry:\n");
  EXPECT_STREQ(gLogBuffer[VARN_LOG_SLOTS - 2], "Board 0 FPGA A TX 0 / RX 0 ()\n");
  EXPECT_STREQ(gLogBuffer[VARN_LOG_SLOTS - 1], "\n");
}

TEST(PowerEstimate, SumOfRailsPlusTenWattsOverEfficiency) {
  EXPECT_DOUBLE_EQ(VARNTelemetryPowerEstimate(0.85, 40, 0.85, 3, 1.2, 8, true), (34 + 2.55 + 9.6 + 10) / 0.85);
  EXPECT_DOUBLE_EQ(VARNTelemetryPowerEstimate(0.85, 40, 0.85, 3, 1.2, 8, false), (34 + 2.55 + 10) / 0.85);
  EXPECT_DOUBLE_EQ(VARNTelemetryPowerEstimate(0, 0, 0, 0, 0, 0, true), 10 / 0.85);
}

// --- the turn work ---------------------------------------------------------------------

class TurnWork : public Report {
 protected:
  bool turn(std::string* out) {
    testing::internal::CaptureStdout();
    bool due = VARNMainLoopTurnWork(&state_);
    *out = testing::internal::GetCapturedStdout();
    return due;
  }
  VARNMainLoopState state_;
};

TEST_F(TurnWork, ReportWhenDueUnlessQuietAndTheClockRestarts) {
  registerBoard(0, 1, 1);
  regStore(deviceTxBytes[0][0], 5);
  VARNMainLoopInit(&state_);
  std::string out;
  EXPECT_FALSE(turn(&out));
  EXPECT_EQ(out, "");

  state_.lastTelemetryTime.sec -= 3;
  EXPECT_TRUE(turn(&out));
  EXPECT_EQ(out, "Telemetry:\nBoard 0 FPGA A TX 5 / RX 0 (0.00 C 0.000 V, )\n\n");
  EXPECT_FALSE(turn(&out)) << "the interval starts again from the report";
  EXPECT_EQ(regLoad(deviceTxBytes[0][0]), 5u) << "totals are never reset";

  gQuiet = true;
  state_.lastTelemetryTime.sec -= 3;
  EXPECT_TRUE(turn(&out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(turn(&out)) << "due and served even when quiet";
}

TEST_F(TurnWork, RequestsAreServedOnceAndCleared) {
  const char* list = "a.bit,b.bit";
  gBitList = list;
  VARNMainLoopInit(&state_);
  EXPECT_STREQ(state_.reportedBitstream, "a.bit,b.bit");
  state_.telemetryRequested = true;
  state_.loadAllRequested = true;
  state_.deviceListRequested = true;
  std::string out;
  EXPECT_TRUE(turn(&out));
  EXPECT_EQ(out, "Asked to load a.bit,b.bit on all devices, TODO - not supported\nTelemetry:\n\n");
  EXPECT_FALSE(state_.telemetryRequested || state_.loadAllRequested || state_.deviceListRequested);
  EXPECT_FALSE(turn(&out));
  EXPECT_EQ(out, "");
}

TEST_F(TurnWork, ReportedBitstreamKeepsAtMost255Characters) {
  std::string longList(400, 'x');
  gBitList = longList.c_str();
  VARNMainLoopInit(&state_);
  EXPECT_EQ(std::string(state_.reportedBitstream), std::string(255, 'x'));
}

TEST_F(TurnWork, LocalAXIWorkForQualifyingBoardsEveryTurn) {
  registerBoard(0, 1, 1);
  registerBoard(1, 1, 1);
  regStore(devCounts[1], 0);
  regStore(deviceStates[0][0], ProgrammingDone);
  giveLink(0, 0, true);
  VARNMainLoopInit(&state_);
  std::string out;
  turn(&out);
  turn(&out);
  EXPECT_EQ(teldouble::callsStartingWith("lr.temp d0 r0").size(), 2u);
  EXPECT_EQ(regLoad(deviceInitialized[0][0]), 2);
}

}  // namespace
