// The simulated D2XX library driven through raw FT_* calls, as a host program would:
// MPSSE set-up, a bad-command probe, an IDCODE scan of a VU9P + VU35P chain, and a
// VU9P configured from a generated .bit (and not from a stream for another part).
#include <gtest/gtest.h>

#include "sim/d2xx/tests/mpsse_writer.h"
#include "sim/d2xx/varnsim_api.h"
#include "tools/varn_bitgen/bitgen.h"

namespace varnsim::test {
namespace {

const char* kBoard = R"(
board b
device VU9P
device VU35P
ftdi FT2232H serial=FT1234AB
channel A jtag=b
channel B none
)";

class Acceptance : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(varnsim_load_text(kBoard), 0) << varnsim_last_error(); }
};

// IR vector for the chain: the VU35P (nearest TDO) gets its 12 bits first.
Bits irChain(uint64_t vu9p, uint64_t vu35p = 0xFFF) {
  Bits v = bitsOf(vu35p, 12);
  Bits a = bitsOf(vu9p, 18);
  v.insert(v.end(), a.begin(), a.end());
  return v;
}

TEST_F(Acceptance, RawCallsScanTheChain) {
  DWORD n = 0;
  ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
  ASSERT_EQ(n, 2u);
  DWORD flags = 0, type = 0, id = 0, loc = 1;
  char serial[16], desc[64];
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
  ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, serial, desc, &h), FT_OK);
  EXPECT_STREQ(serial, "FT1234ABA");
  EXPECT_STREQ(desc, "Dual RS232-HS A");
  EXPECT_EQ(id, 0x04036010u);
  EXPECT_EQ(type, static_cast<DWORD>(FT_DEVICE_2232H));
  EXPECT_EQ(flags, FT_FLAGS_HISPEED);
  EXPECT_EQ(h, nullptr);

  FtJtag j(0);
  // Bad command probe.
  j.send({0xAA});
  EXPECT_EQ(j.receive(2), (std::vector<uint8_t>{0xFA, 0xAA}));

  // TAP reset, then 96 bits of DR with the pattern FF 00 00 00 behind the devices.
  MpsseWriter w;
  w.tms("111110");
  Bits in;
  for (int k = 0; k < 3; ++k) {
    Bits p = bitsOf(0x000000FF, 32);
    in.insert(in.end(), p.begin(), p.end());
  }
  w.scan(false, in, true);
  Bits out = j.run(w);
  ASSERT_EQ(out.size(), 96u);
  EXPECT_EQ(valueOf(out, 0, 32), 0x04B71093u) << "VU35P, nearest TDO, first";
  EXPECT_EQ(valueOf(out, 32, 32), 0x04B31093u) << "VU9P";
  EXPECT_EQ(valueOf(out, 64, 32), 0x000000FFu) << "then the pattern: two devices";

  ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, serial, desc, &h), FT_OK);
  EXPECT_EQ(flags, FT_FLAGS_HISPEED | FT_FLAGS_OPENED);
  EXPECT_EQ(h, j.h);
}

// JPROGRAM, wait for INIT_COMPLETE, CFG_IN with the whole file (most significant bit
// of each byte first), JSTART, idle, reset; returns the VU9P's IR capture.
uint64_t configure(FtJtag& j, const std::vector<uint8_t>& file) {
  MpsseWriter w;
  w.tms("111110");
  w.scan(true, irChain(0x0B2CB), false);  // JPROGRAM
  w.idle(30000);
  w.scan(true, irChain(0x14514), true);   // ISC_NOOP, capture
  Bits cap = j.run(w);
  EXPECT_TRUE(cap.size() == 30 && cap[12 + 16]) << "INIT_COMPLETE after housecleaning";

  w.scan(true, irChain(0x05924), false);  // CFG_IN
  w.tms("100");
  // MSB-first byte writes (0x11) carry the file as it is; the last bit leaves on TMS.
  for (size_t off = 0; off + 1 < file.size();) {
    size_t n = std::min<size_t>(65536, file.size() - 1 - off);
    w.cmd.insert(w.cmd.end(), {0x11, static_cast<uint8_t>((n - 1) & 0xFF), static_cast<uint8_t>((n - 1) >> 8)});
    w.cmd.insert(w.cmd.end(), file.begin() + static_cast<long>(off), file.begin() + static_cast<long>(off + n));
    off += n;
    j.send(w.cmd);
    w.clear();
  }
  const uint8_t last = file.back();
  w.cmd.insert(w.cmd.end(), {0x13, 0x06, last});                                // bits 7..1
  w.cmd.insert(w.cmd.end(), {0x4B, 0x00, static_cast<uint8_t>(last & 1 ? 0x81 : 0x01)});  // bit 0
  w.tms("10");
  w.scan(true, irChain(0x0C30C), false);  // JSTART
  w.idle(2000);
  w.tms("111110");
  w.scan(true, irChain(0x14514), true);
  cap = j.run(w);
  return valueOf(cap, 12, 18);
}

TEST_F(Acceptance, Vu9pConfiguresFromAGeneratedBitstream) {
  varnbitgen::BitOptions o;
  o.part = "VU9P";
  o.sizeBytes = 300 * 1024;
  auto file = varnbitgen::makeBit(o);
  ASSERT_GT(file.size(), 300000u);
  FtJtag j(0);
  EXPECT_EQ(configure(j, file), 0x35D75u);
  VarnsimDeviceState st;
  ASSERT_EQ(varnsim_device_state("b", 0, &st), 0);
  EXPECT_EQ(st.done, 1) << st.text;
  EXPECT_EQ(st.error, 0);
  EXPECT_GT(st.configWords, 70000u);
  ASSERT_EQ(varnsim_device_state("b", 1, &st), 0);
  EXPECT_EQ(st.done, 0) << "the VU35P was in bypass";

  // A stream for the VU13P leaves the VU9P cleared and not done.
  o.part = "VU13P";
  o.sizeBytes = 100 * 1024;
  EXPECT_EQ(configure(j, varnbitgen::makeBit(o)), 0x11451u);
  ASSERT_EQ(varnsim_device_state("b", 0, &st), 0);
  EXPECT_EQ(st.done, 0);
  EXPECT_NE(st.error, 0) << st.text;
  EXPECT_EQ(st.programs, 2u);
}

}  // namespace
}  // namespace varnsim::test
