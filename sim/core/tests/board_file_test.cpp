// Board descriptions: everything the format can say, the errors it reports, and the
// boards built from it (with the real design library).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/core/board_file.h"
#include "sim/core/sim_board.h"

namespace varnsim {
namespace {

const char* kFull = R"(# Two boards and the chips that reach them
board zk1 clock=sim coe.address=127.0.0.2
device VU35P dna=0x4123456789ABCDEF00112235 fuse=0xDEADBEEF usercode=0x11 slr_temp=45,52.5 carrier=1 slot=2 leds=R-BA--D preconfigured=yes uart=v2 app=echo
device VU9P houseclean=1000 startup=10 slr_vccint=0.82 aes_key=0x1234
fault tdo=1

board s10
device GX2800-H sdm_busy=always sdm_fail=start slr_vccpt=1.7 msel=5

ftdi FT2232H serial=FT1234AB description="Dual RS232-HS" usb_mbps=30 rxbuf=131072
channel A jtag=zk1 short_reads=2
channel B uart=zk1.1 fail_open=yes
ftdi FT4232H serial=FT77
channel A jtag=s10 read_timeouts=1 write_failures=3
ftdi FT232R serial=AL00012 description="CVP UART"
channel A uart=s10
)";

TEST(BoardFile, ParsesEveryPart) {
  BoardFile f;
  std::string err;
  ASSERT_TRUE(parseBoardFile(kFull, &f, &err)) << err;
  ASSERT_EQ(f.boards.size(), 2u);
  const BoardSpec& zk = f.boards[0];
  EXPECT_EQ(zk.name, "zk1");
  EXPECT_EQ(zk.attributes.at("coe.address"), "127.0.0.2");
  ASSERT_EQ(zk.devices.size(), 2u);
  const DeviceConfig& a = zk.devices[0].cfg;
  EXPECT_STREQ(a.part->name, "VU35P");
  EXPECT_EQ(a.dna[0].w[2], 0x41234567u);
  EXPECT_EQ(a.dna[0].w[0], 0x00112235u);
  EXPECT_EQ(a.fuseUser, 0xDEADBEEFu);
  EXPECT_EQ(a.usercode, 0x11u);
  EXPECT_DOUBLE_EQ(a.temp[0], 45.0);
  EXPECT_DOUBLE_EQ(a.temp[1], 52.5);
  EXPECT_DOUBLE_EQ(a.temp[3], 52.5);
  EXPECT_EQ(a.carrier, 1);
  EXPECT_EQ(a.slot, 2);
  EXPECT_EQ(a.leds, 0x40 | 0x10 | 0x08 | 0x01);
  EXPECT_TRUE(a.preconfigured);
  EXPECT_EQ(a.design.size(), 2u);
  EXPECT_EQ(a.design.at("uart"), "v2");
  const DeviceConfig& b = zk.devices[1].cfg;
  EXPECT_EQ(b.housecleanTcks, 1000u);
  EXPECT_EQ(b.startupTcks, 10u);
  EXPECT_DOUBLE_EQ(b.vccint[2], 0.82);
  EXPECT_EQ(b.aesKey, 0x1234u);
  EXPECT_NE(b.dna[0].w[0], a.dna[0].w[0]) << "undescribed DNA is made up, different per device";
  EXPECT_EQ(zk.fault.kind, ChainFault::Kind::TdoStuck1);
  const DeviceConfig& s = f.boards[1].devices[0].cfg;
  EXPECT_EQ(s.sdmBusyPolls, -1);
  EXPECT_EQ(s.sdmFail, SdmFail::Start);
  EXPECT_EQ(s.msel, 5);

  ASSERT_EQ(f.chips.size(), 3u);
  const FtdiSpec& c = f.chips[0];
  EXPECT_EQ(c.chip->kind, ChipKind::FT2232H);
  EXPECT_EQ(c.serial, "FT1234AB");
  EXPECT_EQ(c.description, "Dual RS232-HS");
  EXPECT_EQ(c.pid, 0x6010);
  EXPECT_EQ(c.timing.psPerByte, 1000000u / 30);
  EXPECT_EQ(c.timing.driverCapacity, 131072u);
  EXPECT_EQ(c.channels[0].role, ChannelSpec::Role::Jtag);
  EXPECT_EQ(c.channels[0].faults.shortReads, 2);
  EXPECT_EQ(c.channels[1].role, ChannelSpec::Role::Uart);
  EXPECT_EQ(c.channels[1].device, 1);
  EXPECT_TRUE(c.channels[1].faults.failOpen);
  EXPECT_EQ(f.chips[1].channels.size(), 4u);
  EXPECT_EQ(f.chips[1].description, "Quad RS232-HS");
  EXPECT_EQ(f.chips[1].channels[2].role, ChannelSpec::Role::None);
  EXPECT_EQ(f.chips[2].pid, 0x6001);
  EXPECT_EQ(f.chips[2].channels[0].device, 0);
}

TEST(BoardFile, ErrorsNameTheLineAndTheText) {
  const struct {
    const char* text;
    const char* expect;
  } cases[] = {
      {"device VU9P", "line 1: device outside a board"},
      {"board a\ndevice XC7", "line 2: unknown part 'XC7'"},
      {"board a\ndevice VU9P slr_temp=hot", "line 2: bad value 'hot' for device option 'slr_temp'"},
      {"board a\nboard a", "line 2: board 'a' is described twice"},
      {"board a\nfault break=2", "line 2: break=2 but board 'a' has 0 devices"},
      {"ftdi FT2232H serial=X\nchannel C none", "line 2: FT2232H has no channel C"},
      {"ftdi FT4232H\nchannel C jtag=a", "line 2: channel C of an FT4232H has no MPSSE"},
      {"ftdi FT2232H\nchannel A jtag=nope", "line 2: no board named 'nope'"},
      {"board a\nftdi FT2232H\nchannel A jtag=a\nftdi FT232H\nchannel A jtag=a", "line 5: board 'a' already has a JTAG channel"},
      {"board a\ndevice VU9P\nftdi FT2232H\nchannel B uart=a.1", "line 4: board 'a' has no device 1"},
      {"ftdi FT2232H serial=ABCDEFGHIJKLMNO", "longer than 14 characters"},
      {"ftdi FT2232H description=\"open", "line 1: unterminated quote"},
      {"frobnicate", "line 1: unknown keyword 'frobnicate'"},
      {"board a\n\n# comment\ndevice VU9P leds=RGB", "line 4: bad value 'RGB' for device option 'leds'"},
  };
  for (const auto& c : cases) {
    BoardFile f;
    std::string err;
    EXPECT_FALSE(parseBoardFile(c.text, &f, &err)) << c.text;
    EXPECT_NE(err.find(c.expect), std::string::npos) << "got: " << err;
  }
}

TEST(BoardFile, OtherSimulatorsCanTakeTheirOwnLines) {
  BoardFile f;
  std::string err;
  int seen = 0;
  ExtraLine extra = [&](const std::string& kw, const auto& words, int line, BoardFile& file, std::string* e) {
    if (kw != "controller") return false;
    ++seen;
    EXPECT_EQ(line, 2);
    EXPECT_EQ(words.at(0).first, "port");
    EXPECT_EQ(file.boards.size(), 1u);
    if (words.at(0).second != "21363") *e = "bad port";
    return e->empty();
  };
  EXPECT_TRUE(parseBoardFile("board a\ncontroller port=21363\n", &f, &err, extra)) << err;
  EXPECT_EQ(seen, 1);
  EXPECT_FALSE(parseBoardFile("board a\ncontroller port=1\n", &f, &err, extra));
  EXPECT_EQ(err, "line 2: bad port");
}

TEST(SimBoard, BuildsChainsWithRealDesigns) {
  BoardFile f;
  std::string err;
  ASSERT_TRUE(parseBoardFile(kFull, &f, &err)) << err;
  auto zk = SimBoard::build(f.boards[0], standardDesignFactory(), &err);
  ASSERT_TRUE(zk) << err;
  EXPECT_EQ(zk->deviceCount(), 2u);
  ASSERT_NE(zk->xilinx(0), nullptr);
  EXPECT_TRUE(zk->xilinx(0)->done());
  ASSERT_NE(zk->uart(0), nullptr) << "preconfigured: the design's pins are there";
  EXPECT_EQ(zk->uart(1), nullptr) << "unconfigured: no design";
  EXPECT_EQ(zk->chain().fault().kind, ChainFault::Kind::TdoStuck1);
  // The echo design answers on its pins as simulated time passes.
  const uint8_t hello[] = {'h', 'i'};
  zk->uart(0)->toFpga(hello, 2);
  zk->advanceTo(1'000'000'000);
  uint8_t back[4] = {};
  EXPECT_EQ(zk->uart(0)->fromFpga(back, 4), 2u);
  EXPECT_EQ(back[1], 'i');

  auto s10 = SimBoard::build(f.boards[1], standardDesignFactory(), &err);
  ASSERT_TRUE(s10) << err;
  EXPECT_NE(s10->intel(0), nullptr);

  // Design options the design library refuses stop the build.
  ASSERT_TRUE(parseBoardFile("board x\ndevice VU9P app=teapot\n", &f, &err)) << err;
  EXPECT_FALSE(SimBoard::build(f.boards[0], standardDesignFactory(), &err));
  EXPECT_NE(err.find("board 'x' device 0"), std::string::npos) << err;
  EXPECT_NE(err.find("teapot"), std::string::npos) << err;
}

TEST(SimBoard, ClocksRunInSimulatedTimeUnlessToldToFollowTheWall) {
  BoardFile f;
  std::string err;
  ASSERT_TRUE(parseBoardFile("board s\ndevice VU33P\nboard w clock=wall\ndevice VU33P\n", &f, &err)) << err;
  auto sim = SimBoard::build(f.boards[0], nullptr, &err);
  auto wall = SimBoard::build(f.boards[1], nullptr, &err);
  ASSERT_TRUE(sim && wall) << err;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(sim->now(), 0u) << "nothing happened on the board: no time passed";
  EXPECT_GE(wall->now(), 20'000'000'000ull);
  // Simulated time may run ahead of the wall; the wall never pulls it back.
  wall->advanceTo(3'600'000'000'000'000ull);
  EXPECT_EQ(wall->now(), 3'600'000'000'000'000ull);
}

}  // namespace
}  // namespace varnsim
