#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/settings/varn_settings.h"
#include "app/voltage/voltage_list.h"

namespace {

// Targets of boards 0..2, devices 0..3, as rows.
std::vector<std::vector<double>> targets(const char* list) {
  std::vector<std::vector<double>> rows;
  for (int b = 0; b < 3; ++b) {
    rows.emplace_back();
    for (int d = 0; d < 4; ++d) rows.back().push_back(VARNVoltageListTarget(list, b, d));
  }
  return rows;
}

using Rows = std::vector<std::vector<double>>;

TEST(VoltageList, WithoutACommaOneNumberServesEveryDevice) {
  EXPECT_EQ(targets("0.85"), (Rows{{0.85, 0.85, 0.85, 0.85}, {0.85, 0.85, 0.85, 0.85}, {0.85, 0.85, 0.85, 0.85}}));
  // Reading stops where the number ends: the colon values are not looked at.
  EXPECT_EQ(targets("0.85:0.80"), targets("0.85"));
  EXPECT_EQ(VARNVoltageListTarget("0.9V", 5, 2), 0.9);
  EXPECT_EQ(VARNVoltageListTarget("abc", 0, 0), 0.0);
  EXPECT_EQ(VARNVoltageListTarget("", 0, 0), 0.0);
  EXPECT_EQ(VARNVoltageListTarget(nullptr, 0, 0), 0.0);
}

TEST(VoltageList, TrailingCommaMakesPerDeviceValuesForBoardZero) {
  EXPECT_EQ(targets("0.85:0.80,"), (Rows{{0.85, 0.80, 0.80, 0.80}, {0, 0, 0, 0}, {0, 0, 0, 0}}));
}

TEST(VoltageList, EntriesPerBoardWithEmptyEntriesCounted) {
  EXPECT_EQ(targets(",,0.9"), (Rows{{0, 0, 0, 0}, {0, 0, 0, 0}, {0.9, 0.9, 0.9, 0.9}}));
  EXPECT_EQ(targets("0.8,0.9"), (Rows{{0.8, 0.8, 0.8, 0.8}, {0.9, 0.9, 0.9, 0.9}, {0, 0, 0, 0}}));
  EXPECT_EQ(VARNVoltageListTarget("0.8,0.9", 63, 3), 0.0) << "boards beyond the list get 0";
}

TEST(VoltageList, ColonValuesRepeatTheLastGivenAndStopAtFour) {
  EXPECT_EQ(targets("0.7:0.75:0.8,0.9:0.91"),
            (Rows{{0.7, 0.75, 0.8, 0.8}, {0.9, 0.91, 0.91, 0.91}, {0, 0, 0, 0}}));
  EXPECT_EQ(targets("0.61:0.62:0.63:0.64:0.65,"), (Rows{{0.61, 0.62, 0.63, 0.64}, {0, 0, 0, 0}, {0, 0, 0, 0}}));
  // An empty value holds its place like an empty entry does.
  EXPECT_EQ(targets("0.7::0.8,"), (Rows{{0.7, 0, 0.8, 0.8}, {0, 0, 0, 0}, {0, 0, 0, 0}}));
  // A colon in a later entry does not leak into an earlier one.
  EXPECT_EQ(targets("0.9,0.7:0.8"), (Rows{{0.9, 0.9, 0.9, 0.9}, {0.7, 0.8, 0.8, 0.8}, {0, 0, 0, 0}}));
}

TEST(VoltageRange, BoundsIncludedPerRail) {
  struct Case {
    VARNRail rail;
    double volts;
    bool in;
  };
  const Case cases[] = {
      {VARN_RAIL_VCCINT, 0.6, true},    {VARN_RAIL_VCCINT, 0.95, true},   {VARN_RAIL_VCCINT, 0.5999, false},
      {VARN_RAIL_VCCINT, 0.9501, false}, {VARN_RAIL_VCCBRAM, 0.6, true},  {VARN_RAIL_VCCBRAM, 0.95, true},
      {VARN_RAIL_VCCBRAM, 0.96, false},  {VARN_RAIL_VCCHBM, 1.0, true},   {VARN_RAIL_VCCHBM, 1.3, true},
      {VARN_RAIL_VCCHBM, 0.9, false},    {VARN_RAIL_VCCHBM, 1.31, false}, {VARN_RAIL_VCCINT, 0.0, false},
      {VARN_RAIL_VCCINT, NAN, false},    {VARN_RAIL_VCCHBM, INFINITY, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VARNVoltageInRange(c.rail, c.volts), c.in) << "rail " << c.rail << " volts " << c.volts;
  }
  // Values typed on the command line hit the bounds exactly.
  EXPECT_TRUE(VARNVoltageInRange(VARN_RAIL_VCCINT, VARNVoltageListTarget("0.95", 0, 0)));
  EXPECT_TRUE(VARNVoltageInRange(VARN_RAIL_VCCINT, VARNVoltageListTarget("0.60", 0, 0)));
  EXPECT_TRUE(VARNVoltageInRange(VARN_RAIL_VCCHBM, VARNVoltageListTarget("1.30", 0, 0)));
}

struct Write {
  int board, device;
  VARNRail rail;
  double volts;
};

struct Recorder {
  std::vector<Write> writes;
  int result = 0;
  static int write(void* context, int board, int device, VARNRail rail, double volts) {
    auto* self = static_cast<Recorder*>(context);
    self->writes.push_back({board, device, rail, volts});
    return self->result;
  }
};

class ApplyVoltage : public ::testing::Test {
 protected:
  void SetUp() override { VARNSettingsReset(); }
  void TearDown() override { VARNSettingsReset(); }
  Recorder rec;
};

TEST_F(ApplyVoltage, InRangeIsLoggedThenWrittenPerRail) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCINT, 1, 2, 0.85, Recorder::write, &rec), VARN_VOLTAGE_WRITTEN);
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCBRAM, 0, 0, 0.9, Recorder::write, &rec), VARN_VOLTAGE_WRITTEN);
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCHBM, 3, 1, 1.2, Recorder::write, &rec), VARN_VOLTAGE_WRITTEN);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "VARN JTAG Board 1 Device 2 setting voltage 0.85\n"
            "VARN JTAG Board 0 Device 0 setting BRAM voltage 0.90\n"
            "VARN JTAG Board 3 Device 1 setting HBM voltage 1.20\n");
  ASSERT_EQ(rec.writes.size(), 3u);
  EXPECT_EQ(rec.writes[0].board, 1);
  EXPECT_EQ(rec.writes[0].device, 2);
  EXPECT_EQ(rec.writes[0].rail, VARN_RAIL_VCCINT);
  EXPECT_EQ(rec.writes[0].volts, 0.85);
  EXPECT_EQ(rec.writes[2].rail, VARN_RAIL_VCCHBM);
}

TEST_F(ApplyVoltage, OutOfRangeIsLoggedAndNotWritten) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCINT, 0, 1, 0.0, Recorder::write, &rec), VARN_VOLTAGE_OUT_OF_RANGE);
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCBRAM, 0, 1, 1.0, Recorder::write, &rec), VARN_VOLTAGE_OUT_OF_RANGE);
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCHBM, 0, 1, 0.9, Recorder::write, &rec), VARN_VOLTAGE_OUT_OF_RANGE);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "VARN JTAG Board 0 Device 1 specified voltage 0.00 is out of range\n"
            "VARN JTAG Board 0 Device 1 specified BRAM voltage 1.00 is out of range\n"
            "VARN JTAG Board 0 Device 1 specified HBM voltage 0.90 is out of range\n");
  EXPECT_TRUE(rec.writes.empty());
}

TEST_F(ApplyVoltage, FailedWriteIsLoggedOnce) {
  rec.result = 5;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCINT, 0, 0, 0.7, Recorder::write, &rec), VARN_VOLTAGE_WRITE_FAILED);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "VARN JTAG Board 0 Device 0 setting voltage 0.70\nFailed to set voltage\n");
  EXPECT_EQ(rec.writes.size(), 1u) << "a failed write is not retried";
}

TEST_F(ApplyVoltage, WithoutAWriterTheLineIsLoggedOnly) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(VARNApplyVoltage(VARN_RAIL_VCCINT, 2, 0, 0.8, nullptr, nullptr), VARN_VOLTAGE_WRITTEN);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "VARN JTAG Board 2 Device 0 setting voltage 0.80\n");
}

TEST_F(ApplyVoltage, StartupTargetsComeFromTheGivenOption) {
  gSetVCCHBM = true;
  gVCCHBMList = "0.9";  // -w 0.9: below the HBM range on every device
  gSetVCCINT = true;
  gVCCINTList = "0.85:0.80,";
  testing::internal::CaptureStdout();
  for (int d = 0; d < 2; ++d) {
    EXPECT_EQ(VARNApplyStartupVoltage(VARN_RAIL_VCCINT, 0, d, Recorder::write, &rec), VARN_VOLTAGE_WRITTEN);
    EXPECT_EQ(VARNApplyStartupVoltage(VARN_RAIL_VCCBRAM, 0, d, Recorder::write, &rec), VARN_VOLTAGE_NOT_SET);
    EXPECT_EQ(VARNApplyStartupVoltage(VARN_RAIL_VCCHBM, 0, d, Recorder::write, &rec), VARN_VOLTAGE_OUT_OF_RANGE);
  }
  EXPECT_EQ(VARNApplyStartupVoltage(VARN_RAIL_VCCINT, 1, 0, Recorder::write, &rec), VARN_VOLTAGE_OUT_OF_RANGE);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "VARN JTAG Board 0 Device 0 setting voltage 0.85\n"
            "VARN JTAG Board 0 Device 0 specified HBM voltage 0.90 is out of range\n"
            "VARN JTAG Board 0 Device 1 setting voltage 0.80\n"
            "VARN JTAG Board 0 Device 1 specified HBM voltage 0.90 is out of range\n"
            "VARN JTAG Board 1 Device 0 specified voltage 0.00 is out of range\n");
  ASSERT_EQ(rec.writes.size(), 2u);
  EXPECT_EQ(rec.writes[1].volts, 0.80);
}

}  // namespace
