#include <gtest/gtest.h>

#include "app/mainloop/telemetry_due.h"

namespace {

constexpr varn_walltime kLast{1000, 500000};

varn_walltime after(int64_t sec, int32_t usec) { return {kLast.sec + sec, usec}; }

TEST(TelemetryDue, DefaultIntervalComesDueAfterTwoWholeSeconds) {
  EXPECT_FALSE(VARNTelemetryDue(kLast, after(1, 999999), 1, false));
  EXPECT_FALSE(VARNTelemetryDue(kLast, after(2, 499999), 1, false)) << "1.999999 s is one whole second";
  EXPECT_TRUE(VARNTelemetryDue(kLast, after(2, 500000), 1, false));
}

TEST(TelemetryDue, ZeroIntervalComesDueEverySecond) {
  EXPECT_FALSE(VARNTelemetryDue(kLast, after(0, 999999), 0, false));
  EXPECT_FALSE(VARNTelemetryDue(kLast, after(1, 499999), 0, false));
  EXPECT_TRUE(VARNTelemetryDue(kLast, after(1, 500000), 0, false));
}

TEST(TelemetryDue, NegativeIntervalNeverComesDueByTime) {
  uint32_t negativeOne = static_cast<uint32_t>(-1);
  EXPECT_FALSE(VARNTelemetryDue(kLast, after(10LL * 365 * 24 * 3600, 0), negativeOne, false));
  EXPECT_TRUE(VARNTelemetryDue(kLast, after(0, 600000), negativeOne, true)) << "a request still makes it due";
}

TEST(TelemetryDue, ClockSteppedBackMakesItDueAtOnce) {
  EXPECT_TRUE(VARNTelemetryDue(kLast, {kLast.sec - 30, 0}, 1, false));
}

}  // namespace
