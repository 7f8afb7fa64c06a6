// The USB probe's listing and per-chain report.
#include <gtest/gtest.h>

#include <string>

#include "jtag/tests/chain_model.h"
#include "jtag/tests/ft_capture.h"
#include "jtag/varn_jtag.h"

namespace {

std::string run(std::string* err = nullptr) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(enumUSB(), 0);
  std::string e = testing::internal::GetCapturedStderr();
  if (err) *err = e;
  return testing::internal::GetCapturedStdout();
}

TEST(Probe, Vu35pChainReport) {
  auto d = chainmodel::vu35p();
  for (int k = 0; k < 12; ++k) d.dna[k] = static_cast<uint8_t>(k);
  d.sysmon[0][0] = 0xA000;
  d.sysmon[0][1] = 0x4000;
  d.sysmon[1][0] = 0xA040;
  d.sysmon[1][1] = 0x4040;
  // Slot C (2), carrier 1, green and LED D on.
  d.boundary[1649 / 8] &= static_cast<uint8_t>(~(1u << (1649 % 8)));
  d.boundary[1700 / 8] &= static_cast<uint8_t>(~(1u << (1700 % 8)));
  d.boundary[1553 / 8] &= static_cast<uint8_t>(~(1u << (1553 % 8)));
  d.boundary[1559 / 8] &= static_cast<uint8_t>(~(1u << (1559 % 8)));
  chainmodel::install({d});
  ftcap::state().list = {{0x04036014, "VT0001", "VARN VU35P"}, {0x04036001, "X1", "Serial"},
                         {0x04036010, "", "", FT_IO_ERROR}};
  const std::string out = run();
  // SYSMON answers carry the DRP address in bits 16..25.
  char t0[64], v0[64], t1[64], v1[64];
  std::snprintf(t0, sizeof t0, "SLR0 Temperature: %0.2f C\n", (0xA000u >> 6) * 509.314 / 1024 - 280.23);
  std::snprintf(v0, sizeof v0, "SLR0 VCCINT: %0.2f C\n", (0x14000u >> 6) * 3.0 / 1024);
  std::snprintf(t1, sizeof t1, "SLR1 Temperature: %0.2f C\n", (0xA040u >> 6) * 509.314 / 1024 - 280.23);
  std::snprintf(v1, sizeof v1, "SLR1 VCCINT: %0.2f C\n", (0x14040u >> 6) * 3.0 / 1024);
  const std::string want = std::string(
                               "Scanning for VARN USB Devices...\n"
                               "Scanning for FTDI D2XX Devices...\n"
                               "Found 3 devices\n"
                               "Found VARN VU35P (Serial: VT0001) ID 04036014\n"
                               "Scanning JTAG Chain...\n"
                               "Found JTAG Device 0 with ID CODE 14b71093\n"
                               "Device is VU35P\n"
                               "Found end of JTAG Chain (1 devices)\n"
                               "JTAG Chain IR Length was 12 bits\n"
                               "Assuming all 1 device(s) have 12 bit IR\n"
                               "Querying devices for DNA/ChipID and SYSMON/Telemetry data\n"
                               "Scanning Device 0 DNA...\n"
                               "DNA_INST: 00000ca4\n"
                               "DNA: 0b0a09080706050403020100\n") +
                           t0 + v0 + t1 + v1 +
                           "Reading boundary scan of 1858 bits\n"
                           "GPIO Bits: Module Idx: C\n"
                           "GPIO Bits: Carrier ID: 01\n"
                           "RGB [-G-] LED ABCD:[-|-|-|*]\n"
                           "Found Serial (Serial: X1) ID 04036001\n"
                           "Skipping probe of unknown PID\n"
                           "Failed getting details for device 2\n";
  EXPECT_EQ(out, want);
  auto names = ftcap::callNames();
  EXPECT_EQ(names.front(), "FT_Reload");
  EXPECT_EQ(std::count(names.begin(), names.end(), "FT_Close"), 1);
}

TEST(Probe, FiveDevicesStopAfterFour) {
  chainmodel::install({chainmodel::vu33p(), chainmodel::vu33p(), chainmodel::vu33p(), chainmodel::vu33p(),
                       chainmodel::vu33p()});
  ftcap::state().list = {{0x04036010, "A", "Dual RS232-HS A"}};
  const std::string out = run();
  EXPECT_NE(out.find("Found JTAG Device 3 with ID CODE"), std::string::npos);
  EXPECT_EQ(out.find("Found end of JTAG Chain"), std::string::npos);
  EXPECT_NE(out.find("JTAG Chain IR Length was 30 bits\n"), std::string::npos);
  EXPECT_NE(out.find("Assuming all 4 device(s) have 7 bit IR\n"), std::string::npos);
}

TEST(Probe, EmptyChainAndStuckTdo) {
  chainmodel::install({});
  ftcap::state().list = {{0x04036011, "Q", "Quad RS232-HS A"}};
  std::string out = run();
  EXPECT_NE(out.find("Found end of JTAG Chain (0 devices)\nJTAG Chain IR Length was 0 bits\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("Querying"), std::string::npos);

  chainmodel::install({chainmodel::vu35p()});
  chainmodel::chain().stuckTdo = 1;
  ftcap::state().list = {{0x04036014, "S", "Single RS232-HS"}};
  std::string err;
  out = run(&err);
  EXPECT_EQ(err, "JTAG Scan Error: ffffffff\n");
  auto names = ftcap::callNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "FT_Close"), 0);  // left open after a scan error
  EXPECT_EQ(enumPCIe() + enumVARN() + enumLibFTDI1() + initLibFTDI1(), 0);
}

}  // namespace
