#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/help_text.h"
#include "app/settings/varn_settings.h"
#include "app/tests/arg_vector.h"
#include "app/tests/expected_help.h"

namespace {

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override { VARNSettingsReset(); }
  void TearDown() override {
    if (logFile) std::fclose(logFile);
    VARNSettingsReset();
  }
  // Parses and returns what the parser logged.
  std::string parse(ArgVector& args) {
    testing::internal::CaptureStdout();
    refused_ = VARNParseOptions(args.argc(), args.argv());
    return testing::internal::GetCapturedStdout();
  }
  int refused_ = 0;
};

TEST(Help, WantedForNoArgumentOrExactFirstArgument) {
  ArgVector none{};
  EXPECT_TRUE(VARNWantsHelp(none.argc(), none.argv()));
  ArgVector h{"-h"};
  EXPECT_TRUE(VARNWantsHelp(h.argc(), h.argv()));
  ArgVector longHelp{"--help"};
  EXPECT_TRUE(VARNWantsHelp(longHelp.argc(), longHelp.argv()));
  ArgVector x{"-x"};
  EXPECT_FALSE(VARNWantsHelp(x.argc(), x.argv()));
  ArgVector later{"-a", "-h"};  // only the first argument counts
  EXPECT_FALSE(VARNWantsHelp(later.argc(), later.argv()));
  ArgVector upper{"-H"};
  EXPECT_FALSE(VARNWantsHelp(upper.argc(), upper.argv()));
}

TEST(Help, TextIsByteForByte) {
  VARNSettingsReset();
  testing::internal::CaptureStdout();
  VARNPrintHelp();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kExpectedHelp));
}

TEST_F(CommandLine, EveryLetterWorksInBothCases) {
  for (bool upper : {false, true}) {
    SCOPED_TRACE(upper ? "upper case" : "lower case");
    VARNSettingsReset();
    std::vector<std::string> words{"-u", "-d", "-t", "-l", "-c", "10.0.0.1,10.0.0.2", "-b", "a.bit,b.rbf", "-m",
                                   "-n", "3000", "-o", "7", "-p", "4000", "-v", "0.85", "-w", "1.2", "-y", "0.9",
                                   "-q", "-g", "-x", "-j", "2542", "-r", "3", "-k", "5", "-s", "ABC"};
    if (upper) {
      for (auto& w : words) {
        if (w.size() == 2 && w[0] == '-') w[1] = static_cast<char>(std::toupper(static_cast<unsigned char>(w[1])));
      }
    }
    ArgVector args(words);
    std::string log = parse(args);
    EXPECT_EQ(log, "");
    EXPECT_EQ(refused_, 0);
    EXPECT_TRUE(gUseFTDIUart);
    EXPECT_TRUE(gUseCoU);
    EXPECT_TRUE(gDisableLocalAXI);
    EXPECT_TRUE(gListDevices);
    EXPECT_TRUE(gUseCoE);
    EXPECT_STREQ(gCoEList, "10.0.0.1,10.0.0.2");
    EXPECT_TRUE(gLoadBits);
    EXPECT_STREQ(gBitList, "a.bit,b.rbf");
    EXPECT_TRUE(gUseManagement);
    EXPECT_EQ(gManagementPort, 3000);
    EXPECT_EQ(gSetFTDIUARTLatency, 7);
    EXPECT_EQ(gStartPort, 4000);
    EXPECT_TRUE(gSetVCCINT);
    EXPECT_STREQ(gVCCINTList, "0.85");
    EXPECT_TRUE(gSetVCCHBM);
    EXPECT_STREQ(gVCCHBMList, "1.2");
    EXPECT_TRUE(gSetVCCBRAM);
    EXPECT_STREQ(gVCCBRAMList, "0.9");
    EXPECT_TRUE(gQuiet);
    EXPECT_TRUE(gUseGUI);
    EXPECT_TRUE(gUseAXIBridge);
    EXPECT_TRUE(gEnableXVC);
    EXPECT_EQ(gXVCPort, 2542);
    EXPECT_EQ(gSetFTDIJTAGLatency, 3);
    EXPECT_EQ(gTelemetryInterval, 5u);
    EXPECT_TRUE(gUseUSB);
    EXPECT_TRUE(gUseUSBList);
    EXPECT_STREQ(gUSBList, "ABC");
  }
}

TEST_F(CommandLine, LaterAllOptionTurnsTheSerialListOff) {
  ArgVector args{"-s", "ABC", "-a"};
  parse(args);
  EXPECT_TRUE(gUseUSB);
  EXPECT_FALSE(gUseUSBList);
}

TEST_F(CommandLine, UnknownLetterAndMissingArgumentAreLoggedAndParsingGoesOn) {
  ArgVector args{"-z", "-a", "-Z", "-q", "-p"};
  std::string log = parse(args);
  EXPECT_EQ(log,
            "Error - invalid parameter -z\n"
            "Error - invalid parameter -Z\n"
            "Error - invalid parameter -p\n");
  EXPECT_EQ(refused_, 3);
  EXPECT_TRUE(gUseUSB);
  EXPECT_TRUE(gQuiet);
  EXPECT_EQ(gStartPort, 2000);
}

TEST_F(CommandLine, NumbersStopAtTheFirstNonDigit) {
  EXPECT_EQ(VARNParseDecimal("2500abc"), 2500);
  EXPECT_EQ(VARNParseDecimal("abc"), 0);
  EXPECT_EQ(VARNParseDecimal(""), 0);
  EXPECT_EQ(VARNParseDecimal("-7"), -7);
  EXPECT_EQ(VARNParseDecimal("0x10"), 0);
  ArgVector args{"-p", "3000x", "-n", "port", "-k", "-1", "-r", "12ms"};
  parse(args);
  EXPECT_EQ(gStartPort, 3000);
  EXPECT_EQ(gManagementPort, 0);
  EXPECT_EQ(gTelemetryInterval, 4294967295u) << "a negative interval is stored unsigned";
  EXPECT_EQ(gSetFTDIJTAGLatency, 12);
}

TEST_F(CommandLine, ParsesAgainInTheSameProcess) {
  ArgVector first{"-q", "-p", "2100"};
  parse(first);
  VARNSettingsReset();
  ArgVector second{"-x", "-p", "2200"};
  parse(second);
  EXPECT_FALSE(gQuiet);
  EXPECT_TRUE(gUseAXIBridge);
  EXPECT_EQ(gStartPort, 2200);
}

TEST_F(CommandLine, LogFileIsOpenedTruncatedAndReceivesLaterMessages) {
  const char* path = "command_line_test_log.txt";
  FILE* old = std::fopen(path, "w");
  ASSERT_NE(old, nullptr);
  std::fputs("stale content\n", old);
  std::fclose(old);
  ArgVector args{"-f", path, "-z"};
  parse(args);
  ASSERT_NE(logFile, nullptr);
  std::fclose(logFile);
  logFile = nullptr;
  FILE* f = std::fopen(path, "r");
  ASSERT_NE(f, nullptr);
  char buf[256] = {};
  size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
  std::fclose(f);
  std::remove(path);
  EXPECT_EQ(std::string(buf, n), "Error - invalid parameter -z\n");
}

TEST_F(CommandLine, UnopenableLogFileIsNamedAndLeftOut) {
  ArgVector args{"-f", "/nonexistent-dir/log.txt"};
  EXPECT_EQ(parse(args),
            "Cannot write the log file /nonexistent-dir/log.txt (No such file or directory); going on without it\n");
  EXPECT_EQ(logFile, nullptr);
}

struct TargetCase {
  std::vector<const char*> args;
  int target;
  const char* log;
};

TEST_F(CommandLine, AnnouncementsAndScanTarget) {
  const TargetCase cases[] = {
      {{"-x"}, VARN_SCAN_LIST_ONLY, ""},
      {{"-l", "-a"}, VARN_SCAN_LIST_ONLY,
       "Enabled for FTDI USB Devices\nRunning in FTDI JTAG-UART Mode for FTDI USB Devices\nListing devices only\n"},
      {{"-a", "-u"}, VARN_SCAN_ALL,
       "Enabled for FTDI USB Devices\nRunning in FTDI Native-UART Mode for FTDI USB Devices\nSelecting ALL devices\n"},
      {{"-s", "3"}, 3,
       "Enabled for FTDI USB Devices\nRunning in FTDI JTAG-UART Mode for FTDI USB Devices\n"
       "Selecting device at FTDI Index 3 (Warning, FTDI indexes are not stable) If you meant to match numeric "
       "serials, use a leading comma\n"},
      {{"-s", "99999999999"}, 2147483647, nullptr},
      {{"-s", ",3"}, VARN_SCAN_FILTER,
       "Enabled for FTDI USB Devices\nRunning in FTDI JTAG-UART Mode for FTDI USB Devices\n"
       "Filtering for devices with serials containing any of the following comma separated values: ,3\n"},
      {{"-c", "10.0.0.5", "-d"}, VARN_SCAN_LIST_ONLY, "Enabled for CoE Devices\nEnabled for CoU Devices\n"},
  };
  for (const TargetCase& c : cases) {
    VARNSettingsReset();
    std::vector<std::string> words(c.args.begin(), c.args.end());
    SCOPED_TRACE(words[0] + (words.size() > 1 ? " " + words[1] : std::string()));
    ArgVector args(words);
    testing::internal::CaptureStdout();
    VARNParseOptions(args.argc(), args.argv());
    VARNAnnounceModes();
    int target = VARNChooseScanTarget();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(target, c.target);
    if (c.log) {
      EXPECT_EQ(log, c.log);
    }
  }
}

}  // namespace
