// Device services over the chain model (Xilinx) and through the SDM (Intel).
#include <gtest/gtest.h>

#include <cmath>

#include "jtag/device_services.h"
#include "jtag/jtag_tables.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tests/chain_model.h"
#include "jtag/tests/ft_capture.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"

namespace {

FT_HANDLE const kJtag = reinterpret_cast<FT_HANDLE>(1);

class Services : public ::testing::Test {
 protected:
  void open(std::vector<chainmodel::Device> devices) {
    chainmodel::install(std::move(devices));
    testing::internal::CaptureStdout();
    ASSERT_EQ(VARNJtagCreate(kJtag, 30000000, &j), 0);
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override { VARNJtagDestroy(j); }
  chainmodel::Device& dev(int i) { return chainmodel::chain().devices[i]; }
  VARNJtag* j = nullptr;
};

TEST_F(Services, IdentityOfEveryDeviceInAMixedChain) {
  open({chainmodel::vu33p(1), chainmodel::vu13p(2), chainmodel::vu35p(3)});
  dev(1).userCode = 0x12345678;
  for (uint32_t d = 0; d < 3; ++d) {
    SCOPED_TRACE(d);
    uint8_t dna[12];
    ASSERT_EQ(VARNJtagGetDNA(j, d, dna), 0);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(dna[k], dev(d).dna[11 - k]);
    uint32_t fuse = 0, code = 0;
    ASSERT_EQ(VARNJtagGetUserFuse(j, d, &fuse), 0);
    EXPECT_EQ(fuse, dev(d).userFuse);
    uint8_t f128[16];
    ASSERT_EQ(VARNJtagGetUser128Fuse(j, d, f128), 0);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(f128[k], dev(d).fuse128[15 - k]);
    ASSERT_EQ(VARNJtagGetUserCode(j, d, &code), 0);
    EXPECT_EQ(code, dev(d).userCode);
  }
  uint8_t dna[12];
  EXPECT_EQ(VARNJtagGetDNA(j, 3, dna), 4);
  j->deviceType[2] = JTAG_DEV_UNKNOWN;
  EXPECT_EQ(VARNJtagGetDNA(j, 2, dna), 2);
}

TEST_F(Services, SysmonPerSlr) {
  open({chainmodel::vu9p(), chainmodel::vu35p()});
  for (int s = 0; s < 3; ++s) {
    dev(0).sysmon[s][0] = static_cast<uint16_t>(0xA000 + 0x400 * s);
    dev(0).sysmon[s][1] = static_cast<uint16_t>(0x4000 + 0x400 * s);
  }
  for (uint32_t s = 0; s < 3; ++s) {
    double t = 0, v = 0;
    ASSERT_EQ(VARNJtagGetSLRTemp(j, 0, s, &t), 0);
    ASSERT_EQ(VARNJtagGetSLRVoltage(j, 0, s, 0, &v), 0);
    // The model answers with the address in bits 16..25, as the silicon may.
    const uint32_t wt = 0xA000u + 0x400u * s, wv = 0x10000u | (0x4000u + 0x400u * s);
    EXPECT_DOUBLE_EQ(t, (wt >> 6) * 509.314 / 1024 - 280.23) << s;
    EXPECT_DOUBLE_EQ(v, (wv >> 6) * 3.0 / 1024) << s;
  }
  double x = -1;
  // An SLR the device lacks is refused after the TAP reset that starts every reading.
  ASSERT_EQ(j->tapState, DRUPDATE);
  EXPECT_EQ(VARNJtagGetSLRTemp(j, 0, 3, &x), 4);
  EXPECT_EQ(j->tapState, RESET);
  EXPECT_EQ(VARNJtagGetSLRTemp(j, 1, 2, &x), 4);
  EXPECT_EQ(x, -1);
  // Rail numbers pick DRP registers 1, 2, 6; rail 3 is refused without any traffic.
  dev(1).sysmonCommands.clear();
  for (uint32_t rail : {0u, 1u, 2u, 7u}) ASSERT_EQ(VARNJtagGetSLRVoltage(j, 1, 1, rail, &x), 0);
  EXPECT_EQ(dev(1).sysmonCommands,
            (std::vector<uint32_t>{0x04010000, 0, 0x04020000, 0, 0x04060000, 0, 0x04010000, 0}));
  const size_t before = ftcap::state().written.size();
  EXPECT_EQ(VARNJtagGetSLRVoltage(j, 1, 0, 3, &x), 4);
  EXPECT_EQ(ftcap::state().written.size(), before);
}

TEST(SysmonConversion, DocumentedExample) {
  EXPECT_DOUBLE_EQ(varn_jtag_sysmon_celsius(0x0000A000), 640 * 509.314 / 1024 - 280.23);
  EXPECT_NEAR(varn_jtag_sysmon_celsius(0x0000A000), 38.09125, 1e-9);
  EXPECT_DOUBLE_EQ(varn_jtag_sysmon_volts(0x0000A000), 1.875);
}

TEST_F(Services, CarrierGpioOfVu35p) {
  open({chainmodel::vu9p(), chainmodel::vu35p()});
  auto clear = [this](uint32_t k) { dev(1).boundary[k / 8] &= static_cast<uint8_t>(~(1u << (k % 8))); };
  // Carrier ID 2 (bit 1700), slot 1 (bit 1649), red and LED C on.
  clear(1691);
  dev(1).boundary[1700 / 8] |= 1u << (1700 % 8);
  clear(1658);
  clear(1556);
  clear(1568);
  uint8_t carrier = 0, slot = 0;
  uint32_t leds = 0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(VARNJtagGetZarvikInfo(j, 1, &carrier, &slot, &leds), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Reading boundary scan of 1858 bits\n");
  EXPECT_EQ(carrier, 2);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(leds, VARN_LED_RED | VARN_LED_C);
  EXPECT_EQ(VARNJtagGetZarvikInfo(j, 0, &carrier, &slot, &leds), 3);
  EXPECT_EQ(VARNJtagGetZarvikInfo(j, 2, &carrier, &slot, &leds), 4);
}

// Intel answers: the model's SDM takes the command words and returns response words
// (status in bits 0-1, data above).
std::vector<uint64_t> response(std::vector<uint64_t> data) {
  std::vector<uint64_t> out{1};  // header
  for (size_t i = 0; i < data.size(); ++i) out.push_back((data[i] << 2) | (i + 1 == data.size() ? 3 : 1));
  return out;
}

TEST_F(Services, IntelThroughTheSdm) {
  open({chainmodel::vu35p(), chainmodel::gx2800h()});
  std::vector<std::vector<uint64_t>> seen;
  dev(1).sdm = [&seen](const std::vector<uint64_t>& words) {
    seen.push_back(words);
    const uint32_t op = static_cast<uint32_t>(words.size() > 1 ? words[1] & 0xFFFFFFFF : 0);
    if (op == 0x12) return response({0x89ABCDEFull, 0x201234567ull});  // bit 33 set in the second
    if (op == 0x1019) return response({(45u << 8) | 0x80u});           // 45.5 degrees
    if (op == 0x1018)
      return response({(0u << 16) | 0xD99A, (1u << 16) | 0x8000, (1u << 16) | 0x4000, (0u << 16) | 0xCCCD});
    return std::vector<uint64_t>{};
  };
  uint8_t dna[12];
  ASSERT_EQ(VARNJtagGetDNA(j, 1, dna), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::vector<uint64_t>{0x0, 0x200000012ull}));
  const uint8_t want[12] = {0, 0, 0, 0, 0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(dna[k], want[k]) << k;
  double t = 0;
  ASSERT_EQ(VARNJtagGetSLRTemp(j, 1, 0, &t), 0);
  EXPECT_EQ(seen[1], (std::vector<uint64_t>{0x0, 0x100001019ull, 0x200000001ull}));
  EXPECT_DOUBLE_EQ(t, 45.5);
  double v = 0;
  ASSERT_EQ(VARNJtagGetSLRVoltage(j, 1, 0, 0, &v), 0);
  EXPECT_NEAR(v, 0.85, 1e-4);
  ASSERT_EQ(VARNJtagGetSLRVoltage(j, 1, 0, 2, &v), 0);  // answer entry 3
  EXPECT_NEAR(v, 0.8, 1e-4);
  ASSERT_EQ(VARNJtagGetSLRVoltage(j, 1, 0, 3, &v), 0);  // answer entry 2
  EXPECT_DOUBLE_EQ(v, 1.25);
  EXPECT_EQ(VARNJtagGetSLRVoltage(j, 1, 0, 4, &v), 4);
  uint32_t x;
  uint8_t f[16];
  EXPECT_EQ(VARNJtagGetUserFuse(j, 1, &x), 3);
  EXPECT_EQ(VARNJtagGetUser128Fuse(j, 1, f), 3);
  EXPECT_EQ(VARNJtagGetUserCode(j, 1, &x), 3);
  // An SDM that never answers runs out of polls: 9.
  dev(1).sdm = nullptr;
  EXPECT_EQ(VARNJtagGetSLRTemp(j, 1, 0, &t), 9);
}

}  // namespace
