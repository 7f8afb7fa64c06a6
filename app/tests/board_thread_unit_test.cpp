// The board thread's pacing pieces and the scan's formatting and port search, without
// boards: retry pauses of a failing channel, the pace of a controller's UART, the
// carrier line, and binding past ports that are in use.
#include <gtest/gtest.h>

#include <string>

#include "app/boardthread/channel_backoff.h"
#include "app/boardthread/uart_pacer.h"
#include "app/discovery/device_identity.h"
#include "app/discovery/device_ports.h"
#include "app/platform/varn_platform.h"

namespace {

constexpr uint64_t kMs = 1000000;

TEST(ChannelBackoff, PausesGrowToTheirLimitAndOneSuccessEndsTheStreak) {
  VARNChannelBackoff b(50, 2000);
  EXPECT_TRUE(b.due(0));
  EXPECT_TRUE(b.fail(1000 * kMs)) << "the first failure starts a streak";
  EXPECT_FALSE(b.due(1049 * kMs));
  EXPECT_TRUE(b.due(1050 * kMs));
  uint32_t seen[8];
  for (uint32_t& s : seen) {
    EXPECT_FALSE(b.fail(2000 * kMs)) << "later failures are the same streak";
    s = b.delayMs();
  }
  EXPECT_EQ(seen[0], 100u);
  EXPECT_EQ(seen[1], 200u);
  EXPECT_EQ(seen[4], 1600u);
  EXPECT_EQ(seen[5], 2000u);
  EXPECT_EQ(seen[7], 2000u) << "never beyond the limit";
  EXPECT_FALSE(b.due(3999 * kMs));
  EXPECT_TRUE(b.succeed()) << "the success that ends a streak is reported";
  EXPECT_FALSE(b.succeed());
  EXPECT_TRUE(b.due(0)) << "a working channel is always due";
  EXPECT_TRUE(b.fail(0));
  EXPECT_EQ(b.delayMs(), 50u) << "a new streak starts over";
}

TEST(UartPacer, KeepsToTheLineRateAfterTheFirstBurst) {
  VARNUartPacer pacer(100000.0, 4096);
  uint64_t now = 5000 * kMs;
  EXPECT_EQ(pacer.allowance(now), 4096u) << "a burst after a pause";
  pacer.spend(now, 4096);
  EXPECT_EQ(pacer.allowance(now), 0u);
  // One second of sending as fast as allowed moves the line's rate, not more.
  uint64_t sent = 0;
  for (uint64_t t = now; t <= now + 1000 * kMs; t += kMs / 4) {
    uint32_t room = pacer.allowance(t);
    pacer.spend(t, room);
    sent += room;
  }
  EXPECT_NEAR(double(sent), 100000.0, 100.0);
  // A long pause saves up no more than the burst.
  EXPECT_EQ(pacer.allowance(now + 60000 * kMs), 4096u);
}

TEST(DeviceIdentity, CarrierLineShowsModuleLetterAndLitLeds) {
  char line[96];
  VARNFormatZarvikLine(line, 3, 1, 2, 1, 0x40 | 0x10 | 0x08 | 0x01);
  EXPECT_STREQ(line, "Board 3 Device 1 Zarvik Carrier: 2, Module B, LED RGBABCD: R-B A--D\n");
  VARNFormatZarvikLine(line, 0, 0, 0, 3, 0x7F);
  EXPECT_STREQ(line, "Board 0 Device 0 Zarvik Carrier: 0, Module D, LED RGBABCD: RGB ABCD\n");
  VARNFormatZarvikLine(line, 0, 0, 0, 0, 0x80);
  EXPECT_STREQ(line, "Board 0 Device 0 Zarvik Carrier: 0, Module A, LED RGBABCD: --- ----\n");
}

TEST(DevicePorts, BindingSkipsPortsThatAreInUse) {
  // Find two consecutive free ports, hold the first, and bind from it.
  uint16_t base = 0;
  varn_socket holder = VARN_INVALID_SOCKET;
  for (uint16_t p = 41000; p < 42000 && base == 0; p += 7) {
    holder = varn_tcp_socket();
    if (varn_bind_any(holder, p) == 0 && varn_listen(holder, 1) == 0) {
      varn_socket probe = varn_tcp_socket();
      if (varn_bind_any(probe, static_cast<uint16_t>(p + 1)) == 0) base = p;
      varn_close_socket(probe);
    }
    if (base == 0) varn_close_socket(holder);
  }
  ASSERT_NE(base, 0);
  varn_socket s = varn_tcp_socket();
  EXPECT_EQ(VARNBindFirstFreePort(s, base), base + 1);
  EXPECT_EQ(varn_local_port(s), base + 1);
  varn_close_socket(s);
  varn_close_socket(holder);
}

}  // namespace
