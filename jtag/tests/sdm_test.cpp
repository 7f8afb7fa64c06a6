// The SDM mailbox protocol: drain, command words, response polling.
#include <gtest/gtest.h>

#include "coe/coe_link.h"
#include "jtag/jtag_tables.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tests/chain_model.h"
#include "jtag/tests/coe_capture.h"
#include "jtag/tests/ft_capture.h"
#include "jtag/varn_jtag.h"
#include "jtag/transport.h"
#include "jtag/varn_jtag_handle.h"

namespace {

FT_HANDLE const kJtag = reinterpret_cast<FT_HANDLE>(1);

class Sdm : public ::testing::Test {
 protected:
  void SetUp() override {
    chainmodel::install({chainmodel::vu9p(), chainmodel::gx2800h()});
    testing::internal::CaptureStdout();
    ASSERT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 0);
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override { VARNJtagDestroy(j); }
  chainmodel::Device& gx() { return chainmodel::chain().devices[1]; }
  void respond(std::vector<uint64_t> words) {
    gx().sdm = [words](const std::vector<uint64_t>&) { return words; };
  }
  VARNJtag* j = nullptr;
};

TEST_F(Sdm, PollLimitZeroWritesTheEntriesThenGivesUp) {
  std::vector<std::vector<uint64_t>> seen;
  gx().sdm = [&seen](const std::vector<uint64_t>& w) {
    seen.push_back(w);
    return std::vector<uint64_t>{};
  };
  const uint32_t cmd[] = {0x11, 0, 0xFFFFFFFF, 1, 0x22, 2};
  uint32_t ans[2] = {};
  EXPECT_EQ(IntelSDMCommand(j, 1, cmd, ans, 3, 1, 0), 9);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::vector<uint64_t>{0x11, 0x1FFFFFFFFull, 0x200000022ull}));
}

TEST_F(Sdm, StaleResponsesAreDrainedFirst) {
  for (int i = 0; i < 20; ++i) gx().sdmOut.push_back((0xBADull << 2) | 1);
  respond({1, (0x77ull << 2) | 3});
  const uint32_t cmd[] = {0, 0, 0x12, 2};
  uint32_t ans[2] = {};
  ASSERT_EQ(IntelSDMCommand(j, 1, cmd, ans, 2, 1, 50), 0);
  EXPECT_EQ(ans[0], (0x77u << 2) | 3);
}

TEST_F(Sdm, HeaderSkippedEntriesBeyondCapacityDropped) {
  respond({1, (0xA1ull << 2) | 1, (0xA2ull << 2) | 1, (0xA3ull << 2) | 1, (0xA4ull << 2) | 3});
  const uint32_t cmd[] = {0, 0, 0x12, 2};
  uint32_t ans[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(IntelSDMCommand(j, 1, cmd, ans, 2, 2, 50), 0);
  EXPECT_EQ(ans[0], (0xA1u << 2) | 1);
  EXPECT_EQ(ans[2], (0xA2u << 2) | 1);
  EXPECT_EQ(ans[4], 0xEEu);  // never written
}

TEST_F(Sdm, EndMarkerWithoutLastWord) {
  respond({1, (0xB1ull << 2) | 1, 2});
  const uint32_t cmd[] = {0, 0, 0x12, 2};
  uint32_t ans[4] = {0, 0, 0x55, 0x55};
  ASSERT_EQ(IntelSDMCommand(j, 1, cmd, ans, 2, 2, 50), 0);
  EXPECT_EQ(ans[0], (0xB1u << 2) | 1);
  EXPECT_EQ(ans[2], 0x55u);
}

TEST_F(Sdm, ProgramStartIsCollectedFromItsEndMarker) {
  // (5, 2): the response is taken from the end marker on, so the words after it count.
  respond({1, 2, (0xC1ull << 2) | 1, (0xC2ull << 2) | 3});
  const uint32_t cmd[] = {5, 2};
  uint32_t ans[4] = {};
  ASSERT_EQ(IntelSDMCommand(j, 1, cmd, ans, 1, 2, 50), 0);
  EXPECT_EQ(ans[0], (0xC1u << 2) | 1);
  EXPECT_EQ(ans[2], (0xC2u << 2) | 3);
}

TEST_F(Sdm, Bit33ArrivesThroughTheExitClock) {
  respond({1, (1ull << 33) | (0x3ull << 2) | 3});
  const uint32_t cmd[] = {0, 0, 0x12, 2};
  uint32_t ans[2] = {};
  ASSERT_EQ(IntelSDMCommand(j, 1, cmd, ans, 2, 1, 50), 0);
  EXPECT_EQ(ans[1], 2u);
  EXPECT_EQ(ans[0], 0xFu);
}

TEST_F(Sdm, SilentSdmRunsOutOfPolls) {
  const uint32_t cmd[] = {0, 0, 0x12, 2};
  uint32_t ans[2] = {};
  EXPECT_EQ(IntelSDMCommand(j, 1, cmd, ans, 2, 1, 7), 9);
  EXPECT_EQ(IntelSDMFlush(j, 1, 3), 0);
}

TEST(SdmCoE, IdleRequestsPrecedeEveryWord) {
  coecap::reset();
  VARNJtag j{};
  varn_jtag_use_coe(&j, VNCoELinkCreate("192.0.2.1", VN_COE_PORT));
  j.mpsse = mpsse_buffer_alloc();
  j.deviceCount = 1;
  j.deviceType[0] = JTAG_DEV_GX2800H;
  j.irLength[0] = 10;
  coecap::state().responder = [](const coecap::Request& r) {
    coecap::Answer a;
    // A response poll (0x1012 with capture) answers "last word" with data 1.
    if (r.command == 0x1012 && (r.payload[1] & 0x20)) a.data = {0x07, 0, 0, 0, 0};
    return a;
  };
  const uint32_t cmd[] = {0, 0, 0x12, 2};
  uint32_t ans[2] = {};
  ASSERT_EQ(IntelSDMCommand(&j, 0, cmd, ans, 2, 1, 50), 0);
  const auto& r = coecap::state().requests;
  // 20 drains, 2 command words, 1 poll: a status-3 word before any header is out of
  // range and ends the command.
  int idles = 0, shifts = 0;
  for (const auto& q : r) {
    if (q.command == 0x100F) {
      EXPECT_EQ(q.payload, (std::vector<uint8_t>{0x00, 0x19, 0x10, 0x00}));
      ++idles;
    }
    if (q.command == 0x1012) ++shifts;
  }
  EXPECT_EQ(idles, 20 + 2 + 1);
  EXPECT_EQ(shifts, 2 * idles);
  // Handed to XVC: no idle requests, no shifts.
  coecap::state().requests.clear();
  j.xvcActive = 1;
  EXPECT_EQ(IntelSDMCommand(&j, 0, cmd, ans, 2, 1, 3), 9);
  EXPECT_TRUE(coecap::state().requests.empty());
  mpsse_buffer_free(j.mpsse);
  VNCoELinkDestroy(j.coeLink);
}

}  // namespace
