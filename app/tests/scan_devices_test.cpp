// The board scan against a scripted FTDI device list. The test supplies the two list
// calls and the registration hooks itself, so it sees exactly what the scan asks for.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/discovery/board_registration.h"
#include "app/discovery/scan_devices.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "ftdi/ftd2xx.h"

namespace {

struct FakeEntry {
  uint32_t id;
  const char* serial;
  const char* description;
  FT_STATUS status = FT_OK;
};

std::vector<FakeEntry> gList;
FT_STATUS gListStatus = FT_OK;
std::vector<std::string> gCalls;  // "ftdi <index> <serial>", "coe <address>", "uart <board> <index>"

}  // namespace

VARN_FT_API FT_STATUS FT_CreateDeviceInfoList(LPDWORD count) {
  *count = gListStatus == FT_OK ? static_cast<DWORD>(gList.size()) : 0;
  return gListStatus;
}

VARN_FT_API FT_STATUS FT_GetDeviceInfoDetail(DWORD index, LPDWORD flags, LPDWORD type, LPDWORD id, LPDWORD location,
                                             LPVOID serial, LPVOID description, FT_HANDLE* handle) {
  if (index >= gList.size()) return FT_DEVICE_NOT_FOUND;
  const FakeEntry& e = gList[index];
  if (e.status != FT_OK) return e.status;
  *flags = 0;
  *type = FT_DEVICE_2232H;
  *id = e.id;
  *location = 0x100 + index;
  std::snprintf(static_cast<char*>(serial), FT_SERIAL_SIZE, "%s", e.serial);
  std::snprintf(static_cast<char*>(description), FT_DESCRIPTION_SIZE, "%s", e.description);
  *handle = nullptr;
  return FT_OK;
}

void registerFtdiBoard(DWORD ftdiIndex, const char* serial, FILE* portsFile) {
  gCalls.push_back("ftdi " + std::to_string(ftdiIndex) + " " + serial + (portsFile ? "" : " (no ports file)"));
}

void registerCoEBoard(const char* address, FILE* portsFile) {
  gCalls.push_back(std::string("coe ") + address + (portsFile ? "" : " (no ports file)"));
}

void attachFtdiUart(int board, DWORD ftdiIndex) {
  gCalls.push_back("uart " + std::to_string(board) + " " + std::to_string(ftdiIndex));
}

namespace {

// Two dual-channel boards, a CVP UART, an unrelated USB-serial chip and a single-
// channel FT232H, in the order a host might list them.
std::vector<FakeEntry> rack() {
  return {
      {0x04036010, "FT5AAA1A", "Dual RS232-HS A"},  // JTAG 0
      {0x04036010, "FT5AAA1B", "Dual RS232-HS B"},  // its UART channel
      {0x04036001, "A10XYZ", "FT232R USB UART"},    // not a JTAG chip
      {0x04036014, "FT9ZKQ4T77", "Single RS232-HS"},  // JTAG 1
      {0x04036011, "AL0001", "CVP UART"},           // CVP UART
      {0x04036010, "FT5BBB2A", "Dual RS232-HS A"},  // JTAG 2
      {0x04036010, "FT5BBB2B", "Dual RS232-HS B"},
  };
}

class ScanDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNSettingsReset();
    VARNRegistryReset();
    cvpUARTIdx = 0;
    gList = rack();
    gListStatus = FT_OK;
    gCalls.clear();
  }
  void TearDown() override {
    VARNSettingsReset();
    VARNRegistryReset();
  }
  std::string scan(int target) {
    testing::internal::CaptureStdout();
    result_ = scanDevices(target);
    return testing::internal::GetCapturedStdout();
  }
  int result_ = -99;
};

TEST_F(ScanDevices, ListOnlyNamesEachJtagDeviceWithItsJtagIndex) {
  std::string log = scan(VARN_SCAN_LIST_ONLY);
  EXPECT_EQ(log,
            "Running FTDI USB Device Scan...\n"
            "Found 7 FTDI devices, targeting List Only\n"
            "Valid JTAG Device 0: Dual RS232-HS A (Serial: FT5AAA1A)\n"
            "Skipping unknown or in-use device\n"
            "Valid JTAG Device 1: Single RS232-HS (Serial: FT9ZKQ4T77)\n"
            "Valid JTAG Device 2: Dual RS232-HS A (Serial: FT5BBB2A)\n"
            "Skipping non-JTAG (Likely UART Port) device Dual RS232-HS B (Serial: FT5AAA1B)\n"
            "Skipping non-JTAG (Likely UART Port) device CVP UART (Serial: AL0001)\n"
            "Skipping non-JTAG (Likely UART Port) device Dual RS232-HS B (Serial: FT5BBB2B)\n");
  EXPECT_TRUE(gCalls.empty()) << "nothing is opened when listing";
  EXPECT_EQ(result_, 0);
}

TEST_F(ScanDevices, AllDevicesRegistersEveryJtagChannelAndScansEachEntryInBothPasses) {
  std::string log = scan(VARN_SCAN_ALL);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"ftdi 0 FT5AAA1A", "ftdi 3 FT9ZKQ4T77", "ftdi 5 FT5BBB2A"}));
  std::string firstScan = "Scanning Dual RS232-HS A (Serial: FT5AAA1A) ID 04036010\n";
  size_t first = log.find(firstScan);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find(firstScan, first + 1), std::string::npos) << "scanned again in the UART pass";
  EXPECT_NE(log.find("Found 7 FTDI devices, targeting All Devices\n"), std::string::npos);
  EXPECT_NE(log.find("Scanning FT232R USB UART (Serial: A10XYZ) ID 04036001\nSkipping unknown or in-use device\n"),
            std::string::npos);
  EXPECT_NE(log.find("Scanning CVP UART (Serial: AL0001) ID 04036011\n"
                     "Skipping non-JTAG (Likely UART Port) device CVP UART (Serial: AL0001)\n"),
            std::string::npos);
}

TEST_F(ScanDevices, IndexTargetCountsJtagChannelsOnly) {
  std::string log = scan(2);
  EXPECT_NE(log.find("Found 7 FTDI devices, targeting 2\n"), std::string::npos);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"ftdi 5 FT5BBB2A"}));
  gCalls.clear();
  scan(3);
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(ScanDevices, FilterSkipsEmptyPiecesAndReportsMisses) {
  gUSBList = ",BBB";
  std::string log = scan(VARN_SCAN_FILTER);
  EXPECT_NE(log.find("Found 7 FTDI devices, targeting Devices Matching Filter\n"), std::string::npos);
  EXPECT_NE(log.find("JTAG Device 0 Does Not Match Filter: Dual RS232-HS A (Serial: FT5AAA1A)\n"),
            std::string::npos);
  EXPECT_NE(log.find("JTAG Device 1 Does Not Match Filter: Single RS232-HS (Serial: FT9ZKQ4T77)\n"),
            std::string::npos);
  // The match line has no line end of its own: the board's opening continues it.
  EXPECT_NE(log.find("Device with serial FT5BBB2A matches filter BBB"
                     "Scanning Dual RS232-HS B"),
            std::string::npos);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"ftdi 5 FT5BBB2A"}));
}

TEST_F(ScanDevices, UnreadableEntryIsReportedInBothPassesAndTakesNoJtagIndex) {
  gList[0].status = FT_DEVICE_NOT_FOUND;
  std::string log = scan(VARN_SCAN_LIST_ONLY);
  size_t first = log.find("Failed getting details for FTDI device 0\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.find("Failed getting details for FTDI device 0\n", first + 1), std::string::npos);
  EXPECT_NE(log.find("Valid JTAG Device 0: Single RS232-HS (Serial: FT9ZKQ4T77)\n"), std::string::npos);
}

TEST_F(ScanDevices, ListFailureReturnsTheDriverStatus) {
  gListStatus = FT_OTHER_ERROR;
  std::string log = scan(VARN_SCAN_ALL);
  EXPECT_EQ(result_, static_cast<int>(FT_OTHER_ERROR));
  EXPECT_EQ(log.find("Found"), std::string::npos);
  EXPECT_NE(log.find("FTDI device list"), std::string::npos) << "the failure is named: " << log;
}

TEST_F(ScanDevices, UartPortsGoToTheirBoardsWithU) {
  gUseFTDIUart = true;
  // As if the first pass had registered the two dual-channel boards.
  regStore(boardCnt, 2);
  std::memcpy(deviceFTDISerials[0], "FT5AAA1", 8);
  std::memcpy(deviceFTDISerials[1], "FT5BBB2", 8);
  gList.push_back({0x04036011, "AL0002", "CVP UART"});
  gList.push_back({0x04036011, "AL0003", "CVP UART"});  // a third CVP UART, no third board
  std::string log = scan(VARN_SCAN_LIST_ONLY);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"uart 0 1", "uart 0 4", "uart 1 6", "uart 1 7"}));
  EXPECT_EQ(cvpUARTIdx, 3);
  EXPECT_EQ(log.find("Skipping non-JTAG"), std::string::npos);
  size_t cvp = 0, lines = 0;
  while ((cvp = log.find("Found CVP UART\n", cvp)) != std::string::npos) ++lines, ++cvp;
  EXPECT_EQ(lines, 3u);
}

TEST_F(ScanDevices, CoEBoardsComeFirstAndEmptyPiecesAreSkipped) {
  gUseCoE = true;
  gCoEList = "192.168.1.10,,usb://1.4,";
  gList.clear();
  std::string log = scan(VARN_SCAN_LIST_ONLY);
  EXPECT_EQ(log,
            "Adding CoE Devices...\n"
            "Adding CoE Device at 192.168.1.10\n"
            "Adding CoE Device at usb://1.4\n"
            "Running FTDI USB Device Scan...\n"
            "Found 0 FTDI devices, targeting List Only\n");
  EXPECT_EQ(gCalls, (std::vector<std::string>{"coe 192.168.1.10", "coe usb://1.4"}));
  EXPECT_STREQ(gCoEList, "192.168.1.10,,usb://1.4,") << "the setting points into argv and stays as it was";
}

TEST_F(ScanDevices, NothingMoreIsOpenedOnceTheBoardTablesAreFull) {
  regStore(boardCnt, MAX_BOARDS);
  gUseCoE = true;
  gCoEList = "10.0.0.1";
  std::string log = scan(VARN_SCAN_ALL);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_NE(log.find("Adding CoE Device at 10.0.0.1\nBoard limit of 64 reached, not opening CoE board (Serial: "
                     "10.0.0.1)\n"),
            std::string::npos);
  EXPECT_NE(log.find("Board limit of 64 reached, not opening Dual RS232-HS A (Serial: FT5BBB2A)\n"),
            std::string::npos);
}

TEST_F(ScanDevices, PortsFileIsRewrittenEmptyEachScan) {
  FILE* f = std::fopen(VARN_PORTS_FILE, "w");
  ASSERT_NE(f, nullptr);
  std::fputs("tcp://<hostname>:2000\n", f);
  std::fclose(f);
  scan(VARN_SCAN_ALL);
  EXPECT_EQ(gCalls.size(), 3u);
  EXPECT_EQ(gCalls[0], "ftdi 0 FT5AAA1A") << "the hooks receive the open ports file";
  f = std::fopen(VARN_PORTS_FILE, "r");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 0, SEEK_END);
  EXPECT_EQ(std::ftell(f), 0L);
  std::fclose(f);
}

}  // namespace
