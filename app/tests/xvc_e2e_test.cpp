// The XVC server of the real varn_tcp_bridge (-j) driven by a real XVC client,
// openFPGALoader, against a simulated CoE board: the client detects the board's VU9P
// and loads a bitstream into it through the server, after which the loaded design
// runs (its echo answers on the board's serial port, which the board thread keeps
// serving), and the board's own JTAG work stops without filling the log.
#include <unistd.h>

#include <string>
#include <vector>

#include "app/tests/board_rig.h"

namespace {

using rig::countOf;

constexpr const char* kClient = "/usr/bin/openFPGALoader";

class Xvc : public BoardRig {
 protected:
  // openFPGALoader exits 0 even when it fails: its output tells.
  std::string openFpgaLoader(uint16_t port, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kClient, "-c", "xvc-client", "--ip", "127.0.0.1", "--port",
                                     std::to_string(port)};
    argv.insert(argv.end(), args.begin(), args.end());
    rig::Process p(argv, {}, dir_, dir_ / "client.out");
    EXPECT_GE(p.waitExit(120.0), 0) << p.output();
    return p.output();
  }
};

TEST_F(Xvc, OpenFpgaLoaderDetectsAndLoadsTheBoardThroughTheServer) {
  if (access(kClient, X_OK) != 0) GTEST_SKIP() << kClient << " is not installed (scripts/setup.sh installs it)";
  const std::string bit = bitgen("xvc.bit", {"--part", "VU9P", "--frames", "2000"});
  std::vector<std::string> addresses = startCoeSim({{"--coe-fpga", "vu9p,preconfigured=no,app=echo"}});
  ASSERT_EQ(addresses.size(), 1u);
  const uint16_t base = rig::freePortRange(2);
  const uint16_t xvc = static_cast<uint16_t>(base + 1);
  startBridge({"-c", addresses[0], "-q", "-j", std::to_string(xvc), "-p", std::to_string(base)});
  ASSERT_TRUE(bridge().waitFor("waiting for XVC connection on port " + std::to_string(xvc) + "...\n", 30))
      << bridgeOutput();

  const std::string detect = openFpgaLoader(xvc, {"--detect"});
  EXPECT_NE(detect.find("idcode 0x4b31093"), std::string::npos) << detect;
  EXPECT_NE(detect.find("model  xcvu9p"), std::string::npos) << detect;
  EXPECT_NE(detect.find("irlength 18"), std::string::npos) << detect;

  const std::string load = openFpgaLoader(xvc, {bit});
  EXPECT_NE(load.find("Done"), std::string::npos) << load;
  // The server took both clients, one after the other, and waits for the next.
  ASSERT_TRUE(bridge().waitFor("waiting for XVC connection on port " + std::to_string(xvc) + "...\n", 10, 3))
      << bridgeOutput();

  // Configured through XVC: the design runs, and the board's serial channel (the
  // controller's UART, not JTAG) still reaches it.
  rig::Client c(base);
  ASSERT_TRUE(c.send("through xvc\n"));
  EXPECT_EQ(c.receive(12, 10), "through xvc\n") << bridgeOutput();

  const std::string out = bridgeOutput();
  EXPECT_EQ(countOf(out, "XVC connected\n"), 2) << out;
  EXPECT_EQ(countOf(out, "Byte count mismatch"), 0) << out;
  // The board thread's own JTAG requests fail without traffic and without a word each.
  EXPECT_EQ(countOf(out, "SHIFT failed"), 0) << out;
}

}  // namespace
