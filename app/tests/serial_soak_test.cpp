// Ten megabytes each way over each serial route of the real varn_tcp_bridge, compared
// byte for byte (VARN_SOAK_SCALE scales it; "brief" in CI). The CoE route runs at its
// controller's 1 Mbaud line and takes close to two minutes in full.
#include "app/tests/serial_rig.h"

namespace {

using serialrig::echoBulk;
using serialrig::expectEcho;
using serialrig::soakBytes;

class SerialSoak : public Serial {};

TEST_F(SerialSoak, TenMegabytesEachWayOverJtagUart) {
  std::vector<uint16_t> ports = ftdiBridge(serialrig::kJtagUartBoard, {});
  ASSERT_EQ(ports.size(), 2u);
  const size_t total = soakBytes(10u << 20);
  expectEcho(echoBulk(ports[0], total, 1200), total, "JTAG-UART soak");
}

TEST_F(SerialSoak, TenMegabytesEachWayOverTheCompanionUart) {
  std::vector<uint16_t> ports = ftdiBridge(serialrig::kCompanionUartBoard, {"-u"});
  ASSERT_EQ(ports.size(), 1u);
  const size_t total = soakBytes(10u << 20);
  expectEcho(echoBulk(ports[0], total, 1200), total, "companion UART soak");
}

TEST_F(SerialSoak, TenMegabytesEachWayOverCoE) {
  std::vector<uint16_t> ports = coeBridge({});
  ASSERT_EQ(ports.size(), 2u);
  const size_t total = soakBytes(10u << 20);
  serialrig::EchoRun r = echoBulk(ports[0], total, 1200);
  expectEcho(r, total, "CoE UART soak");
  EXPECT_EQ(rig::countOf(bridgeOutput(), "UART Overflow"), 0);
}

}  // namespace
