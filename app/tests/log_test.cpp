#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

namespace {

class LogRing : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNSettingsReset();
    gUseGUI = true;
    VARNLogInit();
  }
  void TearDown() override { VARNSettingsReset(); }
  static std::string slot(int i) { return gLogBuffer[i]; }
};

TEST_F(LogRing, PartialMessagesJoinAndCompletedLineMovesUpOnNextMessage) {
  testing::internal::CaptureStdout();
  VARNLog("A");
  VARNLog("B\n");
  EXPECT_EQ(slot(49), "AB\n");
  VARNLog("C");
  EXPECT_EQ(slot(48), "AB\n");
  EXPECT_EQ(slot(49), "C");
  VARNLogNL("%d", 7);
  EXPECT_EQ(slot(49), "C7");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the GUI ring replaces standard output";
}

TEST_F(LogRing, FiftyFirstLineDropsTheOldest) {
  for (int i = 0; i < 51; ++i) VARNLog("line %d\n", i);
  EXPECT_EQ(slot(49), "line 50\n");
  EXPECT_EQ(slot(0), "line 1\n");
}

TEST_F(LogRing, LongTextIsCutInsideTheSlot) {
  std::string big(5000, 'x');
  VARNLog("%s", big.c_str());
  EXPECT_EQ(std::strlen(gLogBuffer[49]), 1023u);
  VARNLog("tail\n");  // a brim-full slot cannot take more: the ring moves on
  EXPECT_EQ(std::strlen(gLogBuffer[48]), 1023u);
  EXPECT_EQ(slot(49), "tail\n");
  VARNLog("%s\n", big.c_str());
  EXPECT_EQ(std::strlen(gLogBuffer[49]), 1023u);
  VARNLog("next\n");
  EXPECT_EQ(slot(49), "next\n");
}

TEST(LogFile, HoldsEveryVARNLogMessageButNotTheUnlockedBlock) {
  VARNSettingsReset();
  VARNLogInit();
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  logFile = f;
  testing::internal::CaptureStdout();
  VARNLog("first %s\n", "one");
  VARNLogNL("report only\n");
  VARNLog("second\n");
  std::string out = testing::internal::GetCapturedStdout();
  logFile = nullptr;
  EXPECT_EQ(out, "first one\nreport only\nsecond\n");
  std::rewind(f);
  char buf[256] = {};
  size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, n), "first one\nsecond\n");
}

}  // namespace
