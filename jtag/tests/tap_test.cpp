// TAP operations, byte-exact over the recording D2XX double (FTDI) and request-exact
// over the CoE link double.
#include <gtest/gtest.h>

#include <vector>

#include "coe/coe_link.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tap.h"
#include "jtag/transport.h"
#include "jtag/tests/coe_capture.h"
#include "jtag/tests/ft_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class TapFtdi : public ::testing::Test {
 protected:
  void SetUp() override {
    ftcap::reset();
    j.ftHandle = reinterpret_cast<FT_HANDLE>(1);
    varn_jtag_use_ftdi(&j);
    j.mpsse = mpsse_buffer_alloc();
    j.tapState = RESET;
  }
  void TearDown() override { mpsse_buffer_free(j.mpsse); }
  Bytes queued() const { return Bytes(j.mpsse->cmd, j.mpsse->cmd + j.mpsse->cmdLen); }
  VARNJtag j{};
};

TEST_F(TapFtdi, IdcodeReadFromReset) {
  const uint8_t tdi[4] = {0xFF, 0x00, 0x00, 0x00};
  uint8_t tdo[4] = {1, 2, 3, 4};
  ASSERT_EQ(varn_jtag_comm_reg_shift(&j, tdi, tdo, 32, DRSHIFT, DRSHIFT, false), 0);
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x03, 0x02, 0x3D, 0x03, 0x00, 0xFF, 0x00, 0x00, 0x00}));
  EXPECT_EQ(j.tapState, DRSHIFT);
  EXPECT_EQ(tdo[0], 0);  // cleared for the OR-ed delivery
  ftcap::state().replies = {0x93, 0x10, 0xB7, 0x04};
  varn_jtag_comm_flush(&j);
  EXPECT_EQ(tdo[0] | tdo[1] << 8 | tdo[2] << 16 | static_cast<uint32_t>(tdo[3]) << 24, 0x04B71093u);
}

TEST_F(TapFtdi, TwelveBitReadEndingInUpdate) {
  j.tapState = IDLE;
  j.deviceCount = 1;
  uint8_t tdo[2] = {0xFF, 0xFF};
  ASSERT_EQ(varn_jtag_comm_tap_dr_shift(&j, 0, 12, 1, nullptr, tdo, DRUPDATE, false), 0);
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x02, 0x01, 0x2C, 0x00, 0x00, 0x2E, 0x02, 0x6B, 0x01, 0x03}));
  EXPECT_EQ(j.tapState, DRUPDATE);
  // Bits 8..10 = 101 arrive in the top three bits; the exit clock's TDO in bit 7.
  ftcap::state().replies = {0x5A, 0xA0, 0x80};
  varn_jtag_comm_flush(&j);
  EXPECT_EQ(tdo[0], 0x5A);
  EXPECT_EQ(tdo[1], 0x85);
}

TEST_F(TapFtdi, InstructionForSecondOfTwoDevices) {
  j.tapState = IDLE;
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 6, 6, 12, 0x09, nullptr, IRUPDATE), 0);
  // No TDO-side padding; the instruction in IRSHIFT; then six ones, the last on the
  // exit clock with TDI held high.
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x03, 0x03, 0x1B, 0x05, 0x09, 0x1B, 0x04, 0xFF, 0x4B, 0x01, 0x83}));
  EXPECT_EQ(j.tapState, IRUPDATE);
}

TEST_F(TapFtdi, InstructionForFirstDeviceWithCapture) {
  j.tapState = IDLE;
  uint64_t capture = 0xDEADBEEF;
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 0, 6, 12, 0x37, &capture, IRUPDATE), 0);
  // Six ones for the device on the TDO side first, then the instruction with capture,
  // its last bit (1) on the exit clock.
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x03, 0x03, 0x1B, 0x05, 0xFF, 0x3F, 0x04, 0x37, 0x6B, 0x01, 0x83}));
  EXPECT_EQ(capture, 0u);
  ftcap::state().replies = {0xA8, 0x80};  // 5 bits 10101 in the top bits, then a 1
  varn_jtag_comm_flush(&j);
  EXPECT_EQ(capture, 0x95u);  // bits 0..4 = 10101, the exit bit lands in bit 7
}

TEST_F(TapFtdi, DataReadOfFirstOfThreeShiftsTwoBypassBits) {
  j.tapState = IDLE;
  uint8_t tdo[1];
  varn_jtag_comm_tap_dr_shift(&j, 0, 8, 3, nullptr, tdo, DRUPDATE, false);
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x02, 0x01, 0x1B, 0x01, 0x00, 0x2E, 0x06, 0x6B, 0x01, 0x03}));
}

TEST_F(TapFtdi, DataWriteOfLastOfThreeAppendsBypassBits) {
  j.tapState = IDLE;
  const uint8_t tdi[2] = {0x81, 0x03};
  varn_jtag_comm_tap_dr_shift(&j, 2, 10, 3, tdi, nullptr, DRUPDATE, false);
  // No TDO-side padding for a write; the data staying in DRSHIFT, then two zeros.
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x02, 0x01, 0x19, 0x00, 0x00, 0x81, 0x1B, 0x01, 0x03, 0x1B, 0x00, 0x00, 0x4B,
                             0x01, 0x03}));
}

TEST_F(TapFtdi, ReverseFlagSendsLastBitOfMsbFirstByte) {
  j.tapState = DRSHIFT;
  const uint8_t tdi[2] = {0x00, 0x10};  // reversed, byte 1 sends 0,0,0,1 for its top 4 bits
  varn_jtag_comm_reg_shift(&j, tdi, nullptr, 12, DRSHIFT, DRUPDATE, true);
  // 11 bits: one reversed byte, 3 bits of the reversed second byte; bit 4 of the
  // original second byte goes out on the exit clock.
  EXPECT_EQ(queued(), (Bytes{0x19, 0x00, 0x00, 0x00, 0x1B, 0x02, 0x08, 0x4B, 0x01, 0x83}));
}

TEST_F(TapFtdi, MovesAndTheirLimits) {
  j.tapState = DRSHIFT;
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_move_to_state(&j, IREXIT2, 0, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Clocking TMS with length > 7\n");
  EXPECT_EQ(j.tapState, IREXIT2);  // tracked as moved whatever the outcome
  EXPECT_EQ(j.mpsse->cmdLen, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_move_to_state(&j, 16, 0, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid JTAG State!\n");
  EXPECT_EQ(j.tapState, IREXIT2);
  EXPECT_EQ(varn_jtag_comm_reset_tap(&j), 0);
  EXPECT_EQ(varn_jtag_comm_reset_tap(&j), 0);
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x03, 0x0F, 0x4B, 0x06, 0x7F}));
  // An exit with a read destination reads on the positive edge into bit 7.
  uint8_t dst = 0;
  varn_jtag_comm_move_to_state(&j, IDLE, 1, &dst);
  EXPECT_EQ(Bytes(j.mpsse->cmd + 6, j.mpsse->cmd + 9), (Bytes{0x6B, 0x00, 0x80}));
  varn_jtag_comm_move_to_state(&j, IDLE, 0, nullptr);
  EXPECT_EQ(j.mpsse->cmdLen, 9);
  varn_jtag_comm_tap_wait(&j, 12);
  EXPECT_EQ(Bytes(j.mpsse->cmd + 9, j.mpsse->cmd + j.mpsse->cmdLen), (Bytes{0x8F, 0x00, 0x00, 0x8E, 0x03}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_reg_shift(&j, nullptr, nullptr, 8, 20, DRUPDATE, false), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid JTAG State!\nFailed transitioning to JTAG state\n");
}

TEST_F(TapFtdi, ZeroBitShiftEntersAndLeaves) {
  j.tapState = IDLE;
  uint8_t tdo[1] = {0x77};
  EXPECT_EQ(varn_jtag_comm_reg_shift(&j, nullptr, tdo, 0, DRSHIFT, DRUPDATE, false), 0);
  EXPECT_EQ(queued(), (Bytes{0x4B, 0x02, 0x01, 0x4B, 0x01, 0x03}));
  EXPECT_EQ(tdo[0], 0x77);
  EXPECT_EQ(j.mpsse->rxExpected, 0);
}

TEST_F(TapFtdi, OversizedIrLengthRefused) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_tap_ir_shift(&j, 0, 65, 65, 0, nullptr, IRUPDATE), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(j.mpsse->cmdLen, 0);
}

class TapCoE : public ::testing::Test {
 protected:
  void SetUp() override {
    coecap::reset();
    link = VNCoELinkCreate("10.0.0.1", VN_COE_PORT);
    varn_jtag_use_coe(&j, link);
    j.mpsse = mpsse_buffer_alloc();
    j.tapState = RESET;
  }
  void TearDown() override {
    mpsse_buffer_free(j.mpsse);
    VNCoELinkDestroy(link);
  }
  _VNCoELink* link = nullptr;
  VARNJtag j{};
};

TEST_F(TapCoE, DataShiftIsChunkedAt16384Bits) {
  std::vector<uint8_t> tdi(2500);
  for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(varn_jtag_comm_tap_dr_shift(&j, 2, 20000, 3, tdi.data(), nullptr, DRUPDATE, false), 0);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].command, 0x1012);
  EXPECT_EQ(r[0].tag, 1);
  EXPECT_EQ(r[0].flags, 0x8000);
  ASSERT_EQ(r[0].payload.size(), 4u + 2048u);
  EXPECT_EQ(Bytes(r[0].payload.begin(), r[0].payload.begin() + 5), (Bytes{2, 0x13, 0x00, 0x40, 0}));
  ASSERT_EQ(r[1].payload.size(), 4u + 452u);
  EXPECT_EQ(Bytes(r[1].payload.begin(), r[1].payload.begin() + 5), (Bytes{2, 0x11, 0x20, 0x0E, 0x00}));
  EXPECT_EQ(r[1].payload[5], 0x01);  // TDI byte 2049
}

TEST_F(TapCoE, DataShiftFlagsAndCapture) {
  uint8_t tdo[3] = {0xEE, 0xEE, 0xEE};
  coecap::state().answers.push_back({0, 0x000A, {0x11, 0x22}});  // one byte short
  ASSERT_EQ(varn_jtag_comm_tap_dr_shift(&j, 1, 20, 2, nullptr, tdo, DRSHIFT, true), 0);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].payload, (Bytes{1, 0x13 | 0x20 | 0x40, 20, 0, 0, 0, 0}));
  EXPECT_EQ(tdo[0], 0x11);
  EXPECT_EQ(tdo[1], 0x22);
  EXPECT_EQ(tdo[2], 0x00);
  EXPECT_EQ(varn_jtag_comm_tap_dr_shift(&j, 0, 0, 1, nullptr, tdo, DRUPDATE, false), 0);
  EXPECT_EQ(r.size(), 1u);
}

TEST_F(TapCoE, InstructionLoadPayloadAndCapture) {
  uint64_t capture = 0xFFFF;
  coecap::state().answers.push_back({0, 0x000A, {0x51, 0x04}});
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 24, 12, 36, 0xCA4, &capture, IRUPDATE), 0);
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 0, 6, 6, 0x32, nullptr, IRUPDATE), 0);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].payload, (Bytes{2, 0x29, 0, 0, 0xA4, 0x0C}));
  EXPECT_EQ(r[1].payload, (Bytes{0, 0x09, 0, 0, 0x32}));
  EXPECT_EQ(capture, 0x451u);
}

TEST_F(TapCoE, MixedChainInstructionAddressesByScannedLengths) {
  j.deviceCount = 3;
  j.irLength[0] = 18;
  j.irLength[1] = 12;
  j.irLength[2] = 10;
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 30, 10, 40, 0x202, nullptr, IRUPDATE), 0);  // offset form
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 20, 10, 40, 0x202, nullptr, IRUPDATE), 0);  // index x length form
  ASSERT_EQ(varn_jtag_comm_tap_ir_shift(&j, 18, 12, 40, 0xCA4, nullptr, IRUPDATE), 0);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].payload[0], 2);
  EXPECT_EQ(r[1].payload[0], 2);
  EXPECT_EQ(r[2].payload[0], 1);
}

TEST_F(TapCoE, FailuresAreLoggedAndNegativeAnswersCount) {
  coecap::state().answers.push_back({5, 0x000A, {}});
  coecap::state().answers.push_back({0, 0x000E, {1, 0, 0, 0}});
  testing::internal::CaptureStdout();
  EXPECT_EQ(varn_jtag_comm_tap_ir_shift(&j, 0, 6, 6, 0x32, nullptr, IRUPDATE), -1);
  uint8_t tdo[1];
  EXPECT_EQ(varn_jtag_comm_tap_dr_shift(&j, 0, 8, 1, nullptr, tdo, DRUPDATE, false), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "CoE IR SHIFT failed\nCoE DR SHIFT failed\n");
}

TEST_F(TapCoE, IdleClocksAndMoves) {
  EXPECT_EQ(varn_jtag_comm_tap_wait(&j, 40000), 0);
  EXPECT_EQ(j.tapState, IDLE);
  const auto& r = coecap::state().requests;
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].command, 0x100F);
  EXPECT_EQ(r[0].payload, (Bytes{0x00, 0x19, 0xFF, 0x7F}));
  EXPECT_EQ(r[1].payload, (Bytes{0x00, 0x19, 0x41, 0x1C}));
  EXPECT_EQ(varn_jtag_comm_move_to_state(&j, DRSHIFT, 0, nullptr), -1);
  EXPECT_EQ(j.tapState, DRSHIFT);
  EXPECT_EQ(varn_jtag_comm_reset_tap(&j), -1);
  EXPECT_EQ(varn_jtag_comm_flush(&j), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_reg_shift(&j, nullptr, nullptr, 8, DRSHIFT, DRUPDATE, false), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed transitioning to JTAG state\n");
  // A shift state that is no state is reported as such first, as over FTDI.
  testing::internal::CaptureStderr();
  EXPECT_EQ(varn_jtag_comm_reg_shift(&j, nullptr, nullptr, 8, 16, DRUPDATE, false), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid JTAG State!\nFailed transitioning to JTAG state\n");
  EXPECT_EQ(j.tapState, DRSHIFT);
  EXPECT_EQ(r.size(), 2u);
  EXPECT_EQ(coe_clock_cycles(link, 5), 0);
  EXPECT_EQ(r.back().payload, (Bytes{0x00, 0x19, 0x05, 0x00}));
  EXPECT_EQ(coe_clock_tms(link, 1, nullptr, 1, false), -1);
  EXPECT_EQ(coe_clock_data(link, nullptr, nullptr, 8, false), -1);
}

TEST_F(TapCoE, XvcHandOverStopsAllShifts) {
  j.xvcActive = 1;
  uint8_t buf[4] = {};
  uint64_t cap = 0;
  EXPECT_EQ(varn_jtag_comm_tap_ir_shift(&j, 0, 6, 6, 0x32, &cap, IRUPDATE), -1);
  EXPECT_EQ(varn_jtag_comm_tap_dr_shift(&j, 0, 32, 1, buf, buf, DRUPDATE, false), -1);
  EXPECT_EQ(varn_jtag_comm_tap_wait(&j, 16), -1);
  EXPECT_TRUE(coecap::state().requests.empty());
}

}  // namespace
