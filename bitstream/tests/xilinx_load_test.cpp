// Xilinx houseclean, load, clear and reload-from-flash over both transports, as the
// sequence of TAP operations and controller requests they make.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "bitstream/bitstream_internal.h"
#include "bitstream/tests/fake_tap.h"
#include "bitstream/tests/test_files.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"

using faketap::Kind;
using faketap::Op;

namespace {

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  return v;
}

// A device behind the fake TAP: housecleans after a few no-op captures, reports DONE
// after start-up when the whole expected stream arrived.
struct XilinxModel {
  int32_t row;
  int capturesToClean = 1;
  size_t expectBytes = 0;
  bool done = false;
  bool everClean = true;  // false: INIT_COMPLETE never comes
  bool exitBitHigh = false;  // the capture's last bit in bit 7 of its byte, as FTDI delivers it
  int captures = 0;

  void install(uint32_t device) {
    auto& st = faketap::state();
    st.cfgInstr = JTAG_I_MAP[row][JTAG_I_CFG_IN];
    st.onIr = [this, device](uint32_t dev, uint64_t instr) {
      if (dev != device) return;
      if (instr == JTAG_I_MAP[row][JTAG_I_JPROGRAM]) {
        done = false;
        captures = 0;
      }
      if (instr == JTAG_I_MAP[row][JTAG_I_JSTART] && expectBytes > 0 &&
          faketap::state().cfgData.size() == expectBytes)
        done = true;
    };
    st.irCapture = [this, device](uint32_t dev, uint64_t instr) -> uint64_t {
      if (dev != device) return 0;
      const uint32_t bit = JTAG_I_MAP[row][JTAG_I_INIT_BIT];
      uint64_t v = 0x1;
      if (instr == JTAG_I_MAP[row][JTAG_I_ISC_NOOP] && everClean && ++captures >= capturesToClean)
        v |= 1ull << bit;
      if (done) v |= 1ull << (exitBitHigh ? 8 * ((bit + 1) / 8) + 7 : bit + 1);
      return v;
    };
  }
};

class XilinxLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    faketap::reset();
    varn_bit_set_coe_status_pause_ms(0);
  }
  void TearDown() override { varn_bit_set_coe_status_pause_ms(1000); }

  bittest::TempDir dir;
  VARNProgressCell progress{-1.0};
};

std::vector<Op> dataShifts() { return faketap::only(Kind::Dr); }

// Instruction loads in order, as (device, instruction, captured).
std::vector<std::tuple<uint32_t, uint64_t, bool>> loads() {
  std::vector<std::tuple<uint32_t, uint64_t, bool>> out;
  for (const Op& op : faketap::only(Kind::Ir)) out.emplace_back(op.device, op.instruction, op.capture);
  return out;
}

TEST_F(XilinxLoad, FtdiChunksFormOneShiftWithBypassBitsAfterTheLast) {
  // VU9P as device 1 behind a VU35P: 8192 bytes are exactly two chunks.
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU35P, JTAG_DEV_VU9P}, false);
  XilinxModel m{JTAG_DEV_VU9P};
  m.expectBytes = 8192;
  m.install(1);
  const auto bytes = pattern(8192);
  const std::string path = dir.write("two.bit", bytes);
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 0);
  EXPECT_EQ(log.count("Houseclean OK\n"), 1);

  const auto dr = dataShifts();
  ASSERT_EQ(dr.size(), 2u);
  EXPECT_EQ(dr[0].device, 0u);
  EXPECT_EQ(dr[0].endState, static_cast<uint32_t>(DRSHIFT));
  EXPECT_EQ(dr[1].device, 1u);
  EXPECT_EQ(dr[1].endState, static_cast<uint32_t>(DRUPDATE));
  for (const Op& op : dr) {
    EXPECT_EQ(op.bits, 32768u);
    EXPECT_TRUE(op.reverse);
    EXPECT_TRUE(op.hasTdi);
    EXPECT_FALSE(op.hasTdo);
  }
  EXPECT_EQ(faketap::state().cfgData, bytes);

  // Every instruction goes to device 1 with the VU35P's 12 bits on its TDI side.
  for (const Op& op : faketap::only(Kind::Ir)) {
    EXPECT_EQ(op.tdiSide, 12);
    EXPECT_EQ(op.irLength, 18);
    EXPECT_EQ(op.totalIr, 30);
    EXPECT_EQ(op.endState, static_cast<uint32_t>(IRUPDATE));
  }
  const auto l = loads();
  ASSERT_GE(l.size(), 5u);
  EXPECT_EQ(std::get<1>(l[0]), 0xB2CBu);   // JPROGRAM
  EXPECT_EQ(std::get<1>(l[1]), 0x14514u);  // ISC_NOOP
  EXPECT_FALSE(std::get<2>(l[1]));
  EXPECT_EQ(std::get<1>(l[2]), 0x14514u);  // the captured no-op
  EXPECT_TRUE(std::get<2>(l[2]));
  EXPECT_EQ(std::get<1>(l[3]), 0x5924u);   // CFG_IN
  EXPECT_EQ(std::get<1>(l[4]), 0xC30Cu);   // JSTART
  const auto waits = faketap::only(Kind::Wait);
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_EQ(waits[0].clocks, 30000u);
  EXPECT_EQ(waits[1].clocks, 60000u);
  // The load leaves the TAP in RESET, everything flushed.
  EXPECT_EQ(j.tapState, static_cast<uint32_t>(RESET));
  EXPECT_EQ(faketap::state().ops.back().kind, Kind::Flush);
  EXPECT_EQ(progress.load(), 100.0);
}

TEST_F(XilinxLoad, CoeAddressesTheDeviceInEveryChunkAndAsksForDone) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU35P, JTAG_DEV_VU9P}, true);
  XilinxModel m{JTAG_DEV_VU9P};
  m.install(1);
  const auto bytes = pattern(4096 * 3 + 100);
  const std::string path = dir.write("coe.bit", bytes);
  std::vector<uint8_t> record(64, 0);
  record[16 * 1 + 15] = 0xC0;
  faketap::state().coe = [&](uint16_t cmd) { return faketap::CoeAnswer{0, cmd == 0x0300 ? record : std::vector<uint8_t>{}}; };
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 0);
  const auto dr = dataShifts();
  ASSERT_EQ(dr.size(), 4u);
  for (size_t i = 0; i < dr.size(); ++i) {
    EXPECT_EQ(dr[i].device, 1u);
    EXPECT_EQ(dr[i].endState, static_cast<uint32_t>(i + 1 < dr.size() ? DRSHIFT : DRUPDATE));
  }
  EXPECT_EQ(dr[3].bits, 800u);
  EXPECT_EQ(faketap::state().cfgData, bytes);
  const auto coe = faketap::only(Kind::CoE);
  ASSERT_EQ(coe.size(), 1u);
  EXPECT_EQ(coe[0].command, 0x0300);
  EXPECT_EQ(coe[0].bits, 64u);  // room for the records of all four slots
  EXPECT_EQ(log.count("Status byte was 192\n"), 1);
  // Over CoE the DONE state comes from the controller alone.
  EXPECT_EQ(std::get<1>(loads().back()), 0xC30Cu);
  EXPECT_EQ(progress.load(), 100.0);
}

TEST_F(XilinxLoad, CoeStatusRecordsOfEverySlot) {
  const auto bytes = pattern(100);
  const std::string path = dir.write("s.bit", bytes);
  struct Case {
    uint8_t slot;
    size_t answerBytes;
    uint8_t status;
    int rc;
  } cases[] = {
      {0, 32, 0x40, 0}, {1, 32, 0xC0, 0}, {1, 32, 0x80, 7}, {0, 32, 0x00, 7},
      {2, 64, 0x40, 0}, {3, 64, 0xC0, 0}, {3, 64, 0x00, 7},
      {2, 32, 0x40, 5},  // an answer without the slot's record
      {3, 63, 0x40, 5},
  };
  for (const Case& c : cases) {
    faketap::reset();
    VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P}, true);
    j.coeSlot[0] = c.slot;
    XilinxModel m{JTAG_DEV_VU9P};
    m.install(0);
    std::vector<uint8_t> answer(c.answerBytes, 0);
    // Every other record says DONE, so a wrong record would show.
    for (size_t r = 0; r + 16 <= answer.size(); r += 16) answer[r + 15] = static_cast<uint8_t>(0x40 ^ c.status);
    if (16u * c.slot + 15 < answer.size()) answer[16 * c.slot + 15] = c.status;
    faketap::state().coe = [&](uint16_t) { return faketap::CoeAnswer{0, answer}; };
    bittest::LogCapture log;
    EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, path.c_str(), 0, &progress), c.rc) << "slot " << int(c.slot);
    if (c.rc != 5) {
      EXPECT_EQ(log.count("Status byte was " + std::to_string(c.status) + "\n"), 1);
    } else {
      EXPECT_EQ(log.count("holds no record for slot " + std::to_string(c.slot)), 1);
    }
    EXPECT_EQ(progress.load() == 100.0, c.rc == 0);
  }
  // A failed or refused request.
  for (int rc : {2, 5, -1}) {
    faketap::reset();
    VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P}, true);
    XilinxModel m{JTAG_DEV_VU9P};
    m.install(0);
    faketap::state().coe = [&](uint16_t) { return faketap::CoeAnswer{rc, {}}; };
    EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, path.c_str(), 0, &progress), 5);
    EXPECT_LT(progress.load(), 100.0);
  }
}

TEST_F(XilinxLoad, ChunkBoundaries) {
  for (size_t size : {1u, 4095u, 4096u, 4097u, 12288u}) {
    faketap::reset();
    VARNJtag j = faketap::makeHandle({JTAG_DEV_VU33P, JTAG_DEV_VU33P, JTAG_DEV_VU33P}, false);
    XilinxModel m{JTAG_DEV_VU33P};
    m.install(2);
    const auto bytes = pattern(size);
    const std::string path = dir.write("b.bit", bytes);
    VARNJtagLoadBitstream(&j, 2, path.c_str(), 1, &progress);
    const auto dr = dataShifts();
    ASSERT_EQ(dr.size(), (size + 4095) / 4096) << size;
    uint64_t bits = 0;
    for (size_t i = 0; i < dr.size(); ++i) {
      const bool last = i + 1 == dr.size();
      EXPECT_EQ(dr[i].device, last ? 2u : 0u);
      EXPECT_EQ(dr[i].endState, static_cast<uint32_t>(last ? DRUPDATE : DRSHIFT));
      bits += dr[i].bits;
    }
    EXPECT_EQ(bits, 8u * size);
    EXPECT_EQ(faketap::state().cfgData, bytes) << size;
  }
}

TEST_F(XilinxLoad, FtdiReportsDoneFromTheDevice) {
  // An empty file: start-up still runs, and the device says whether it is configured.
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P}, false);
  XilinxModel m{JTAG_DEV_VU9P};
  m.install(0);
  const std::string empty = dir.write("empty.bit", {});
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, empty.c_str(), 0, &progress), 7);
  EXPECT_TRUE(dataShifts().empty());
  EXPECT_EQ(std::get<1>(loads()[loads().size() - 2]), 0xC30Cu);
  EXPECT_EQ(faketap::only(Kind::Wait).back().clocks, 60000u);
  EXPECT_EQ(log.count("has DONE (bit 17) clear"), 1);
  EXPECT_EQ(j.tapState, static_cast<uint32_t>(RESET));
  EXPECT_LT(progress.load(), 100.0);

  // A device still configured (no houseclean) is reported as such.
  faketap::reset();
  m.install(0);
  m.done = true;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, empty.c_str(), 1, &progress), 0);
  // The DONE bit as the FTDI capture of the device nearest TDI delivers it.
  faketap::reset();
  m.install(0);
  m.done = true;
  m.exitBitHigh = true;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, empty.c_str(), 1, &progress), 0);
  m.exitBitHigh = false;
  // Only whole streams bring DONE.
  faketap::reset();
  m.install(0);
  m.expectBytes = 5000;
  const std::string whole = dir.write("whole.bit", pattern(5000));
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, whole.c_str(), 0, &progress), 0);
  faketap::reset();
  m.install(0);
  m.expectBytes = 9000;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, whole.c_str(), 0, &progress), 7);
}

TEST_F(XilinxLoad, ChecksComeFirstAndTouchNothing) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P, JTAG_DEV_GX2800H}, false);
  const std::string path = dir.write("x.bit", pattern(10));
  progress = 42.0;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 2, path.c_str(), 0, &progress), 4);
  EXPECT_EQ(progress.load(), 42.0);
  EXPECT_EQ(_VARNJtagPreload(&j, 2), 4);
  EXPECT_EQ(VARNJtagClearBitstream(&j, 4), 4);
  EXPECT_EQ(VARNJtagBootFromFlash(&j, 2), 4);
  EXPECT_EQ(_VARNJtagPreload(&j, 1), 3);
  EXPECT_EQ(VARNJtagClearBitstream(&j, 1), 3);
  EXPECT_EQ(VARNJtagBootFromFlash(&j, 1), 3);
  EXPECT_TRUE(faketap::state().ops.empty());

  // A missing file: 8 before any houseclean.
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, dir.path("absent.bit").c_str(), 0, &progress), 8);
  EXPECT_TRUE(faketap::state().ops.empty());
  EXPECT_EQ(progress.load(), 0.0);
  EXPECT_EQ(log.count("cannot be opened"), 1);
}

TEST_F(XilinxLoad, HousecleanPollsTheInitCompleteBit) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU13P}, false);
  XilinxModel m{JTAG_DEV_VU13P};
  m.capturesToClean = 3;
  m.install(0);
  bittest::LogCapture log;
  EXPECT_EQ(_VARNJtagPreload(&j, 0), 0);
  size_t captured = 0;
  for (const Op& op : faketap::only(Kind::Ir)) captured += op.capture;
  EXPECT_EQ(captured, 3u);
  EXPECT_EQ(faketap::only(Kind::Wait).size(), 3u);
  EXPECT_EQ(log.count("Houseclean OK\n"), 1);

  // Never clean: ten attempts, then 9, and a load shifts nothing.
  faketap::reset();
  m.everClean = false;
  m.install(0);
  const std::string path = dir.write("x.bit", pattern(10));
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, path.c_str(), 0, &progress), 9);
  EXPECT_EQ(faketap::only(Kind::Wait).size(), 10u);
  EXPECT_TRUE(dataShifts().empty());
  EXPECT_EQ(log.count("Houseclean Fail\n"), 1);
  // Skipping houseclean: no JPROGRAM and no polling before the data.
  faketap::reset();
  m.install(0);
  VARNJtagLoadBitstream(&j, 0, path.c_str(), 1, &progress);
  EXPECT_EQ(std::get<1>(loads()[0]), 0x164924u);  // CFG_IN first
  EXPECT_EQ(dataShifts().size(), 1u);

  // A CoE link handed to XVC refuses every shift: houseclean fails after its attempts.
  faketap::reset();
  VARNJtag coe = faketap::makeHandle({JTAG_DEV_VU9P}, true);
  coe.xvcActive = 1;
  m = XilinxModel{JTAG_DEV_VU9P};
  m.install(0);
  EXPECT_EQ(VARNJtagLoadBitstream(&coe, 0, path.c_str(), 0, &progress), 9);
  EXPECT_TRUE(faketap::only(Kind::CoE).empty());
}

TEST_F(XilinxLoad, ClearAndBootFromFlash) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P}, false);
  XilinxModel m{JTAG_DEV_VU9P};
  m.install(0);
  EXPECT_EQ(VARNJtagClearBitstream(&j, 0), 0);
  auto l = loads();
  EXPECT_EQ(std::get<1>(l.front()), 0xB2CBu);
  EXPECT_EQ(std::get<1>(l.back()), 0xC30Cu);
  EXPECT_EQ(faketap::only(Kind::Wait).back().clocks, 60000u);
  EXPECT_EQ(j.tapState, static_cast<uint32_t>(RESET));
  EXPECT_EQ(faketap::state().ops.back().kind, Kind::Flush);

  faketap::reset();
  EXPECT_EQ(VARNJtagBootFromFlash(&j, 0), 0);
  l = loads();
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(std::get<1>(l[0]), 0xB2CBu);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(std::get<1>(l[i]), 0x3FFFFu);  // BYPASS in all 18 bits
  const auto waits = faketap::only(Kind::Wait);
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0].clocks, 1200000u);
  EXPECT_EQ(j.tapState, static_cast<uint32_t>(RESET));

  // Clear fails like houseclean.
  faketap::reset();
  m.everClean = false;
  m.install(0);
  EXPECT_EQ(VARNJtagClearBitstream(&j, 0), 9);
  EXPECT_NE(std::get<1>(loads().back()), 0xC30Cu);
}

TEST_F(XilinxLoad, ProgressIsTrueWhileRunningAndFullOnlyOnSuccess) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P}, false);
  XilinxModel m{JTAG_DEV_VU9P};
  m.expectBytes = 4096 * 4;
  m.install(0);
  const std::string path = dir.write("p.bit", pattern(4096 * 4));
  std::vector<double> seen;
  faketap::state().dr = [&](uint32_t, uint64_t, const uint8_t*, uint8_t*, uint64_t) { seen.push_back(progress.load()); };
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, path.c_str(), 0, &progress), 0);
  // Read at each shift: the value of the chunks before it.
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], 0.0);
  EXPECT_EQ(seen[1], 25.0);
  EXPECT_EQ(seen[2], 50.0);
  EXPECT_EQ(seen[3], 75.0);
  EXPECT_EQ(progress.load(), 100.0);
}

TEST_F(XilinxLoad, AFileThatShrinksWhileLoadingEndsTheShiftAndIsReported) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU35P, JTAG_DEV_VU9P}, false);
  XilinxModel m{JTAG_DEV_VU9P};
  m.expectBytes = 4096 * 5;
  m.install(1);
  const std::string path = dir.write("shrink.bit", pattern(4096 * 5));
  int shifts = 0;
  faketap::state().dr = [&](uint32_t, uint64_t, const uint8_t*, uint8_t*, uint64_t) {
    if (++shifts == 1) {
      ASSERT_EQ(truncate(path.c_str(), 6000), 0);
    }
  };
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 6);
  // The chunks read ahead were sent; the last of them closed the shift with the bypass bit.
  const auto dr = dataShifts();
  ASSERT_EQ(dr.size(), 2u);
  EXPECT_EQ(dr.back().endState, static_cast<uint32_t>(DRUPDATE));
  EXPECT_EQ(dr.back().device, 1u);
  EXPECT_EQ(log.count("gave 8192 of its 20480 bytes; the device was not started"), 1);
  // Not started, TAP back in RESET, progress honest.
  for (const auto& l : loads()) EXPECT_NE(std::get<1>(l), 0xC30Cu);
  EXPECT_EQ(j.tapState, static_cast<uint32_t>(RESET));
  EXPECT_DOUBLE_EQ(progress.load(), 8192 * 100.0 / 20480);

  // Shrinking to a chunk boundary: the read ahead finds nothing and the chunk in hand
  // closes the shift.
  faketap::reset();
  m.install(1);
  const std::string path2 = dir.write("shrink2.bit", pattern(4096 * 5));
  shifts = 0;
  faketap::state().dr = [&](uint32_t, uint64_t, const uint8_t*, uint8_t*, uint64_t) {
    if (++shifts == 1) {
      ASSERT_EQ(truncate(path2.c_str(), 8192), 0);
    }
  };
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path2.c_str(), 0, &progress), 6);
  ASSERT_EQ(dataShifts().size(), 2u);
  EXPECT_EQ(dataShifts().back().endState, static_cast<uint32_t>(DRUPDATE));
}

TEST_F(XilinxLoad, ACoeShiftThatFailsAbandonsTheLoad) {
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P}, true);
  XilinxModel m{JTAG_DEV_VU9P};
  m.install(0);
  faketap::state().drResult = -1;
  const std::string path = dir.write("c.bit", pattern(4096 * 3));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 0, path.c_str(), 0, &progress), 5);
  EXPECT_EQ(dataShifts().size(), 1u);
  EXPECT_TRUE(faketap::only(Kind::CoE).empty());
  EXPECT_EQ(log.count("CoE data shift failed at byte 0 of 12288"), 1);
  EXPECT_EQ(progress.load(), 0.0);
}

}  // namespace
