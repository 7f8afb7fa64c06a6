// The real driver stack under test: the unmodified varn_tcp_bridge with its own
// libvarn_ftd2xx.so (libftdi1, libusb, usbfs ioctls) against FTDI chips emulated by
// varn_usb_emul under umockdev, with simulated boards behind them. OpenOCD and
// openFPGALoader, two MPSSE hosts written without our code, judge the emulated chip.
#include <csignal>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/tests/board_rig.h"

namespace {

using rig::countOf;

// A VU35P (device 0, nearest TDI) and a VU9P running the echo design behind an
// FT2232H: JTAG on channel A, the VU9P's UART on channel B.
constexpr const char* kTwoFpgas =
    "board b1 clock=wall\n"
    "device VU35P preconfigured=yes app=echo dna=0x0123456789abcdef01234567\n"
    "device VU9P preconfigured=yes app=echo dna=0x76543210fedcba9876543210\n"
    "ftdi FT2232H serial=UMOCK001 description=\"Dual RS232-HS\"\n"
    "channel A jtag=b1\n"
    "channel B uart=b1.1\n";

// One VU9P running the echo design with its UART on channel B (a companion UART serves
// every FPGA of its board, so a board with one is a board with one FPGA).
constexpr const char* kUartBoard =
    "board u clock=wall\n"
    "device VU9P preconfigured=yes app=echo\n"
    "ftdi FT2232H serial=UMOCK003 description=\"Dual RS232-HS\"\n"
    "channel A jtag=u\n"
    "channel B uart=u.0\n";

// One unconfigured VU9P (the part openFPGALoader knows) behind an FT2232H.
constexpr const char* kBlankVu9p =
    "board v clock=wall\n"
    "device VU9P preconfigured=no app=echo\n"
    "ftdi FT2232H serial=UMOCK002 description=\"Dual RS232-HS\"\n"
    "channel A jtag=v\n"
    "channel B none\n";

bool installed(const char* path) { return access(path, X_OK) == 0; }

class UsbStack : public BoardRig {
 protected:
  // Starts the emulator over `boards` (a fresh one per program run: umockdev's socket
  // of a node may stop taking connections after a program died holding it); false
  // (with a failure recorded) when it did not come up.
  bool startChips(const std::string& boards) {
    bridge_.reset();
    sim_.reset();
    rig::writeFile(dir_ / "usb_boards.txt", boards);
    sim_ = std::make_unique<rig::Process>(std::vector<std::string>{VARN_USB_EMUL_PATH, (dir_ / "usb_boards.txt").string()},
                                          std::vector<std::string>{"TSAN_OPTIONS=suppressions=" VARN_USB_TSAN_SUPP},
                                          dir_.string(), (dir_ / "sim.out").string());
    if (!sim_->waitFor("UMOCKDEV_DIR=", 20)) {
      ADD_FAILURE() << "varn_usb_emul did not start: " << sim_->output();
      return false;
    }
    const std::string out = sim_->output();
    const size_t at = out.find("UMOCKDEV_DIR=");
    testbed_ = out.substr(at, out.find('\n', at) - at);
    return true;
  }
  // The environment of a program that sees the emulated chips (and no real ones).
  std::vector<std::string> seesChips() const {
    return {"/usr/bin/env", testbed_, "LD_PRELOAD=libumockdev-preload.so.0",
            "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0", "TSAN_OPTIONS=suppressions=" VARN_USB_TSAN_SUPP};
  }
  std::string runTool(std::vector<std::string> argv, const std::string& log, double seconds = 120) {
    std::vector<std::string> full = seesChips();
    full.insert(full.end(), argv.begin(), argv.end());
    rig::Process p(full, {}, dir_.string(), (dir_ / log).string());
    EXPECT_GE(p.waitExit(seconds), 0) << p.output();
    return p.output();
  }

  std::string testbed_;
};

TEST_F(UsbStack, ListsScansEchoesAndSurvivesTheUnplug) {
  ASSERT_TRUE(startChips(kTwoFpgas));
  startBridge({"-l"}, "", seesChips());
  ASSERT_GE(bridge().waitExit(60), 0);
  std::string out = bridgeOutput();
  EXPECT_NE(out.find("Found 2 FTDI devices"), std::string::npos) << out;
  EXPECT_NE(out.find("Valid JTAG Device 0: Dual RS232-HS A (Serial: UMOCK001A)"), std::string::npos) << out;
  EXPECT_NE(out.find("Skipping non-JTAG (Likely UART Port) device Dual RS232-HS B (Serial: UMOCK001B)"),
            std::string::npos)
      << out;

  // JTAG-UART: both FPGAs identified over the real USB path, the VU9P's echo through its port.
  ASSERT_TRUE(startChips(kTwoFpgas));
  const uint16_t base = rig::freePortRange(2);
  startBridge({"-a", "-q", "-p", std::to_string(base)}, "", seesChips());
  ASSERT_TRUE(bridge().waitFor("Board 0 Device 1 Open Complete", 60)) << bridgeOutput();
  out = bridgeOutput();
  EXPECT_NE(out.find("Board 0 Device 0 IDCODE(04b71093) Name: VU35P"), std::string::npos) << out;
  EXPECT_NE(out.find("Board 0 Device 1 IDCODE(04b31093) Name: VU9P"), std::string::npos) << out;
  EXPECT_NE(out.find("Board 0 Device 0 DNA: 0123456789abcdef01234567"), std::string::npos) << out;
  EXPECT_NE(out.find("Board 0 Device 1 DNA: 76543210fedcba9876543210"), std::string::npos) << out;
  {
    rig::Client c(static_cast<uint16_t>(base + 1));
    const std::string line = "through libusb and umockdev\n";
    ASSERT_TRUE(c.send(line));
    EXPECT_EQ(c.receive(line.size(), 20), line) << bridgeOutput();
  }

  // The companion UART (-u) on channel B, then the chip is pulled out.
  ASSERT_TRUE(startChips(kUartBoard));
  startBridge({"-a", "-q", "-u", "-p", std::to_string(base)}, "", seesChips());
  ASSERT_TRUE(bridge().waitFor("Initializing companion FTDI UART", 60)) << bridgeOutput();
  {
    rig::Client c(base);
    const std::string line = "over channel B\n";
    ASSERT_TRUE(c.send(line));
    EXPECT_EQ(c.receive(line.size(), 20), line) << bridgeOutput();
  }
  sim_->signal(SIGUSR1);
  ASSERT_TRUE(sim_->waitFor("unplugged /dev/bus/usb/001/002", 10)) << sim_->output();
  EXPECT_TRUE(bridge().waitFor("varn_ftd2xx: UMOCK003A left the bus; reads now fail", 20)) << bridgeOutput();
  ASSERT_TRUE(bridge().waitFor("Board 0: its USB JTAG channel is gone; sensor reads and loads stop", 20))
      << bridgeOutput();
  // Said once: the sensor step no longer runs into the dead chip ten times a second.
  const int errors = countOf(bridgeOutput(), "Error Writing FTD2XX");
  bridge().runUntil(bridge().elapsed() + 1.0);
  EXPECT_EQ(countOf(bridgeOutput(), "Error Writing FTD2XX"), errors) << bridgeOutput();
  EXPECT_TRUE(bridge().running()) << "the bridge ended when its board went away:\n" << bridgeOutput();
}

TEST_F(UsbStack, EveryChipKindIsListedAndScannedAsTheVendorDriverNamesIt) {
  ASSERT_TRUE(startChips(
      "board a clock=wall\ndevice VU9P preconfigured=yes app=echo\n"
      "board c clock=wall\ndevice VU33P preconfigured=yes app=echo\n"
      "ftdi FT232H serial=UMOCK010\nchannel A jtag=a\n"
      "ftdi FT4232H serial=UMOCK011 description=\"Quad RS232-HS\"\n"
      "channel A jtag=c\nchannel B none\nchannel C none\nchannel D none\n"));
  startBridge({"-a", "-q", "-p", std::to_string(rig::freePortRange(2))}, "", seesChips());
  ASSERT_TRUE(bridge().waitFor("Open Complete", 60, 2)) << bridgeOutput();
  const std::string out = bridgeOutput();
  EXPECT_NE(out.find("Found 5 FTDI devices"), std::string::npos) << out;
  EXPECT_NE(out.find("Scanning Quad RS232-HS A (Serial: UMOCK011A) ID 04036011"), std::string::npos) << out;
  EXPECT_NE(out.find("Scanning Single RS232-HS (Serial: UMOCK010) ID 04036014"), std::string::npos) << out;
  EXPECT_NE(out.find("IDCODE(04b69093) Name: VU33P"), std::string::npos) << out;
  EXPECT_NE(out.find("IDCODE(04b31093) Name: VU9P"), std::string::npos) << out;
}

TEST_F(UsbStack, TheBridgeLoadsABitstreamOverTheRealDriver) {
  const std::string bit = bitgen("usb.bit", {"--part", "VU9P", "--frames", "2000"});
  ASSERT_TRUE(startChips(kBlankVu9p));
  const uint16_t base = rig::freePortRange(1);
  startBridge({"-a", "-q", "-p", std::to_string(base), "-b", bit}, "", seesChips());
  ASSERT_TRUE(bridge().waitFor("Bitstream Loaded", 120)) << bridgeOutput();
  // Only a configured FPGA runs the echo design.
  rig::Client c(base);
  ASSERT_TRUE(c.send("configured\n"));
  EXPECT_EQ(c.receive(11, 20), "configured\n") << bridgeOutput();
}

TEST_F(UsbStack, OpenOcdFindsTheChainThroughTheEmulatedChip) {
  if (!installed("/usr/bin/openocd")) GTEST_SKIP() << "openocd is not installed (scripts/setup.sh installs it)";
  ASSERT_TRUE(startChips(kTwoFpgas));
  // OpenOCD names the TAP nearest TDO first.
  rig::writeFile(dir_ / "chain.cfg",
                 "adapter driver ftdi\nftdi vid_pid 0x0403 0x6010\nftdi channel 0\n"
                 "ftdi layout_init 0x0008 0x000b\nadapter speed 1000\ntransport select jtag\n"
                 "jtag newtap vu9p tap -irlen 18 -expected-id 0x04b31093\n"
                 "jtag newtap vu35p tap -irlen 24 -expected-id 0x04b71093\n"
                 "init\nscan_chain\nshutdown\n");
  const std::string out = runTool({"/usr/bin/openocd", "-f", (dir_ / "chain.cfg").string()}, "openocd.out");
  EXPECT_NE(out.find("JTAG tap: vu9p.tap tap/device found: 0x04b31093"), std::string::npos) << out;
  EXPECT_NE(out.find("JTAG tap: vu35p.tap tap/device found: 0x04b71093"), std::string::npos) << out;
  EXPECT_EQ(countOf(out, "UNEXPECTED"), 0) << out;
  EXPECT_EQ(countOf(out, "Error:"), 0) << out;
}

TEST_F(UsbStack, OpenFpgaLoaderDetectsAndConfiguresTheFpga) {
  if (!installed("/usr/bin/openFPGALoader")) GTEST_SKIP() << "openFPGALoader is not installed";
  const std::string bit = bitgen("ofl.bit", {"--part", "VU9P", "--frames", "2000"});
  ASSERT_TRUE(startChips(kBlankVu9p));
  const std::string detect = runTool({"/usr/bin/openFPGALoader", "-c", "ft2232", "--detect"}, "detect.out");
  EXPECT_NE(detect.find("idcode 0x4b31093"), std::string::npos) << detect;
  EXPECT_NE(detect.find("model  xcvu9p"), std::string::npos) << detect;
  const std::string load = runTool({"/usr/bin/openFPGALoader", "-c", "ft2232", bit}, "load.out");
  EXPECT_NE(load.find("Done"), std::string::npos) << load;
  // The simulated FPGA took the stream whole: it is configured, so the bridge finds it
  // configured and its echo design answers.
  const uint16_t base = rig::freePortRange(1);
  startBridge({"-a", "-q", "-p", std::to_string(base)}, "", seesChips());
  ASSERT_TRUE(bridge().waitFor("Open Complete", 60)) << bridgeOutput();
  rig::Client echo(base);
  ASSERT_TRUE(echo.send("loaded by ofl\n"));
  EXPECT_EQ(echo.receive(14, 20), "loaded by ofl\n") << bridgeOutput();
}

}  // namespace
