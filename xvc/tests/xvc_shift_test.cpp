// How XVC shifts become board-controller requests: raw TMS/TDI pairs, TDI-only shifts
// for long runs of TMS 0, requests no larger than one answer can carry, and the TDO
// bytes returned in order. Over a recording link.
#include <gtest/gtest.h>

#include <vector>

#include "coe/coe_link.h"
#include "jtag/tests/coe_capture.h"
#include "xvc/xvc_coe.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Req {
  uint16_t command;
  uint32_t bits;
  size_t dataBytes;
};

// The controller's answer: the TDI bytes of the request, so that the TDO of a whole
// shift must equal its TDI when the pieces come back in order.
coecap::Answer echoTdi(const coecap::Request& r) {
  coecap::Answer a;
  const size_t bytes = (r.payload[2] | r.payload[3] << 8) / 8 + ((r.payload[2] & 7) ? 1 : 0);
  for (size_t i = 0; i < bytes; ++i)
    a.data.push_back(r.command == 0x100E ? r.payload[4 + 2 * i] : r.payload[4 + i]);
  return a;
}

std::vector<Req> shift(const Bytes& tms, const Bytes& tdi, uint32_t bits, Bytes* tdo = nullptr) {
  coecap::reset();
  coecap::state().responder = echoTdi;
  static _VNCoELink* link = VNCoELinkCreate("192.0.2.7", 21363);
  Bytes out = varn_xvc_shift(link, tms.data(), tdi.data(), bits);
  if (tdo) *tdo = out;
  std::vector<Req> reqs;
  for (const auto& r : coecap::state().requests) {
    EXPECT_EQ(r.flags, 0x8000);
    EXPECT_GE(r.tag, 16);
    EXPECT_EQ(r.payload[0], 0x00);  // JTAG bus 0
    reqs.push_back({r.command, static_cast<uint32_t>(r.payload[2] | r.payload[3] << 8), r.payload.size() - 4});
  }
  return reqs;
}

TEST(XvcShift, RequestFormsAndRunSplitting) {
  // 8 bits with TMS 0x01: one raw shift, TDI then TMS.
  coecap::reset();
  _VNCoELink* link = VNCoELinkCreate("192.0.2.7", 21363);
  varn_xvc_shift(link, Bytes{0x01}.data(), Bytes{0xA5}.data(), 8);
  ASSERT_EQ(coecap::state().requests.size(), 1u);
  EXPECT_EQ(coecap::state().requests[0].command, 0x100E);
  EXPECT_EQ(coecap::state().requests[0].payload, (Bytes{0x00, 0x00, 0x08, 0x00, 0xA5, 0x01}));
  VNCoELinkDestroy(link);

  // 160 bits: TMS 1, 18 zero bytes, 1 -> raw 8, TDI-only 144 (flag 0x20), raw 8.
  Bytes tms(20, 0);
  tms[0] = tms[19] = 1;
  Bytes tdi(20);
  for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = static_cast<uint8_t>(0x30 + i);
  Bytes tdo;
  auto reqs = shift(tms, tdi, 160, &tdo);
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(reqs[0].command, 0x100E);
  EXPECT_EQ(reqs[0].bits, 8u);
  EXPECT_EQ(reqs[1].command, 0x100F);
  EXPECT_EQ(reqs[1].bits, 144u);
  EXPECT_EQ(coecap::state().requests[1].payload[1], 0x20);
  EXPECT_EQ(reqs[2].command, 0x100E);
  EXPECT_EQ(reqs[2].bits, 8u);
  EXPECT_EQ(tdo, tdi);
  // Tags follow one another.
  EXPECT_EQ(coecap::state().requests[1].tag, coecap::state().requests[0].tag + 1);

  // A zero run that reaches the end stays in the raw shift; a run of exactly 8 zero
  // bytes is not long enough; all-zero TMS is one TDI-only shift; 0 bits is one
  // TDI-only request of 0 bits.
  Bytes tailZero(13, 0);
  tailZero[0] = 0x1F;
  reqs = shift(tailZero, Bytes(13, 0x55), 100);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].command, 0x100E);
  EXPECT_EQ(reqs[0].bits, 100u);
  Bytes eightZero(10, 0);
  eightZero[0] = eightZero[9] = 3;
  reqs = shift(eightZero, Bytes(10, 0), 80);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].command, 0x100E);
  reqs = shift(Bytes(4, 0), Bytes{1, 2, 3, 4}, 27, &tdo);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].command, 0x100F);
  EXPECT_EQ(reqs[0].bits, 27u);
  EXPECT_EQ(tdo, (Bytes{1, 2, 3, 4}));
  reqs = shift(Bytes{}, Bytes{}, 0, &tdo);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].command, 0x100F);
  EXPECT_EQ(reqs[0].bits, 0u);
  EXPECT_TRUE(tdo.empty());
}

TEST(XvcShift, LongShiftsAreSplitSoEveryAnswerFitsAndComeBackInOrder) {
  // 10000 bytes per vector: a raw head, a long zero run, and a raw tail that is itself
  // longer than one request. Every request stays within the 16-bit count and a TDO
  // answer of 4088 bytes; all bits are clocked; the TDO equals the echoed TDI.
  const uint32_t bytes = 10000;
  Bytes tms(bytes, 0), tdi(bytes);
  for (uint32_t i = 0; i < bytes; ++i) tdi[i] = static_cast<uint8_t>(i * 7 + i / 251);
  for (uint32_t i = 0; i < 5000; ++i) tms[i] = 0x80;  // raw head of 5000 bytes
  tms[bytes - 1] = 0x01;                              // ends the zero run
  const uint32_t bits = 8 * bytes - 3;
  Bytes tdo;
  auto reqs = shift(tms, tdi, bits, &tdo);
  uint64_t clocked = 0;
  for (const Req& r : reqs) {
    EXPECT_LE(r.bits, VARN_XVC_CHUNK_BITS);
    EXPECT_LE((r.bits + 7) / 8, 4088u);
    EXPECT_EQ(r.dataBytes, (r.command == 0x100E ? 2u : 1u) * ((r.bits + 7) / 8));
    clocked += r.bits;
  }
  EXPECT_EQ(clocked, bits);
  EXPECT_GE(reqs.size(), 4u);
  EXPECT_EQ(reqs.front().command, 0x100E);
  EXPECT_EQ(reqs.back().command, 0x100E);
  EXPECT_EQ(tdo, tdi);

  // A failed request brings no bytes: the reply is short by its part.
  coecap::reset();
  coecap::state().responder = echoTdi;
  coecap::state().answers.push_back(coecap::Answer{0, 0x000A, Bytes(4088, 0x5A)});
  coecap::state().answers.push_back(coecap::Answer{1, 0x000A, {}});
  _VNCoELink* link = VNCoELinkCreate("192.0.2.7", 21363);
  const Bytes zeros(8000, 0), data(8000, 0x5A);
  tdo = varn_xvc_shift(link, zeros.data(), data.data(), 64000);
  EXPECT_EQ(coecap::state().requests.size(), 2u);
  EXPECT_EQ(tdo.size(), 4088u);
  VNCoELinkDestroy(link);
}

TEST(XvcShift, TagsRunFrom17To32767ThenStartAgainAt16) {
  uint16_t first = varn_xvc_next_tag();
  EXPECT_GE(first, 16);
  uint16_t prev = first, wrapped = 0;
  for (int i = 0; i < 40000; ++i) {
    uint16_t t = varn_xvc_next_tag();
    ASSERT_LT(t, 0x8000);
    if (t != prev + 1) {
      EXPECT_EQ(prev, 32767);
      EXPECT_EQ(t, 16);
      ++wrapped;
    }
    prev = t;
  }
  EXPECT_EQ(wrapped, 1);
}

}  // namespace
