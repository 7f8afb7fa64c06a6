#include <gtest/gtest.h>

#include <string>

#include "sim/design/console_app.h"
#include "sim/design/design.h"

namespace varnsim {
namespace {

std::string drain(Design& d) {
  uint8_t buf[8192];
  size_t n = d.uart().fromFpga(buf, sizeof buf);
  return std::string(reinterpret_cast<char*>(buf), n);
}

void type(Design& d, const std::string& s) {
  d.uart().toFpga(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::unique_ptr<Design> console(DesignOptions extra = {}) {
  DesignOptions o = {{"app", "console"}, {"name", "fpgaA"}};
  o.insert(extra.begin(), extra.end());
  std::string err;
  auto d = makeDesignChecked(o, &err);
  EXPECT_TRUE(d) << err;
  return d;
}

TEST(Console, BannerThenPeriodicLinesInSimulatedTime) {
  auto d = console({{"console_period_ms", "100"}});
  EXPECT_EQ(drain(*d), "fpgaA console ready, type 'help'\r\n");
  d->advance(99'000'000);
  EXPECT_EQ(drain(*d), "");
  d->advance(1'000'000);
  EXPECT_EQ(drain(*d), "fpgaA: tick 1 uptime 100 ms\r\n");
  d->advance(250'000'000);
  EXPECT_EQ(drain(*d), "fpgaA: tick 2 uptime 200 ms\r\nfpgaA: tick 3 uptime 300 ms\r\n");
}

TEST(Console, AnswersCommandsWhateverTheLineEnding) {
  auto d = console({{"console_period_ms", "0"}});
  drain(*d);
  type(*d, "echo hello world\r\nversion\nuptime\r");
  EXPECT_EQ(drain(*d), "hello world\r\nfpgaA console 1.0\r\nuptime 0 ms\r\n");
  type(*d, "\n\r\nfrobnicate\n");  // empty lines are ignored
  EXPECT_EQ(drain(*d), "unknown command 'frobnicate'\r\n");
  type(*d, "ra");
  EXPECT_EQ(drain(*d), "");  // nothing until the line ends
  type(*d, "ils\n");
  std::string rails = drain(*d);
  EXPECT_EQ(rails.rfind("VCCINT 0.8", 0), 0u) << rails;
  EXPECT_EQ(d->console()->commands(), 5u);
}

TEST(Console, OverlongLineIsRefusedNotSplit) {
  auto d = console({{"console_period_ms", "0"}});
  drain(*d);
  type(*d, "echo " + std::string(200, 'x') + "\necho ok\n");
  EXPECT_EQ(drain(*d), "error: line longer than 128 characters\r\nok\r\n");
}

TEST(Console, LinesThatDoNotFitAreDroppedWhole) {
  auto d = console({{"console_period_ms", "1"}, {"fifo_out", "64"}});
  d->advance(10'000'000);  // ten ticks of ~30 bytes into a 64-byte FIFO
  std::string out = drain(*d);
  EXPECT_EQ(out.substr(out.size() - 2), "\r\n");
  EXPECT_GT(d->console()->linesDropped(), 0u);
  // Every line present is complete.
  size_t pos = 0, lines = 0;
  while ((pos = out.find("\r\n", pos)) != std::string::npos) pos += 2, ++lines;
  EXPECT_EQ(lines + d->console()->linesDropped(), 11u);  // banner + 10 ticks
}

TEST(Console, HourLongJumpDoesNotFloodOrHang) {
  auto d = console({{"console_period_ms", "1"}});
  d->advance(3600ull * 1'000'000'000);
  EXPECT_GT(d->console()->linesDropped(), 3'000'000u);
  EXPECT_LE(d->channel().out.size(), d->channel().out.capacity());
}

}  // namespace
}  // namespace varnsim
