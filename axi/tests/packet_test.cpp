#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "testsupport/axi/fake_axi_target.h"
#include "testsupport/log_capture.h"
#include "axi/varn_axi_packet.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes packet(uint8_t cmd, uint8_t seq, uint64_t address, uint32_t data) {
  Bytes p(16);
  EXPECT_EQ(_VARNAXIMakePacket(p.data(), cmd, seq, address, data), 16);
  return p;
}

// Feeds `stream` in the given pieces and returns every packet found, in order.
std::vector<Bytes> assemble(VARNAXIAssembler& a, const Bytes& stream, const std::vector<size_t>& cuts,
                            const char* message = nullptr) {
  std::vector<Bytes> found;
  size_t start = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(stream.size());
  for (size_t end : ends) {
    const uint8_t* p = stream.data() + start;
    size_t len = end - start;
    uint8_t out[16];
    while (VARNAXIAssemblerNext(&a, &p, &len, out, message)) found.emplace_back(out, out + 16);
    EXPECT_EQ(len, 0u);
    start = end;
  }
  return found;
}

TEST(AxiPacket, TestRequestLayoutAndCheckField) {
  Bytes p = packet(0x00, 0, 0x12345678, 0xAAAAAAAA);
  EXPECT_EQ(p, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0xAA, 0xAA, 0xAA, 0xAA, 0x0C, 0x0D}));
  EXPECT_TRUE(VARNAXIPacketCheckOK(p.data()));
  std::swap(p[14], p[15]);
  EXPECT_FALSE(VARNAXIPacketCheckOK(p.data())) << "the check field is stored high byte first";
}

TEST(AxiPacket, FullWidthAddressAndDataAreBigEndian) {
  Bytes p = packet(0x01, 0x7F, 0x0102030405060708ull, 0xA1B2C3D4);
  EXPECT_EQ(p[0], 0x01);
  EXPECT_EQ(p[1], 0x7F);
  EXPECT_EQ(Bytes(p.begin() + 2, p.begin() + 14),
            (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xA1, 0xB2, 0xC3, 0xD4}));
  EXPECT_EQ(VARNAXIPacketAddress(p.data()), 0x0102030405060708ull);
  EXPECT_EQ(VARNAXIPacketData(p.data()), 0xA1B2C3D4u);
  EXPECT_EQ(VARNAXIPacketCheck(p.data()), varnaxitest::targetCrc16(p.data(), 14));
}

TEST(AxiPacket, Crc16CheckValueAndEmptyInput) {
  const char* s = "123456789";
  EXPECT_EQ(ModRTU_CRC(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
  EXPECT_EQ(_ModRTU_CRC(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
  EXPECT_EQ(ModRTU_CRC(nullptr, 0), 0xFFFF);
  EXPECT_EQ(ModRTU_CRC(nullptr, -3), 0xFFFF);
}

TEST(AxiPacket, Crc32CheckValueAndWordSwappedTwin) {
  const uint8_t* s = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(crc32(s, 9), 0xCBF43926u);
  EXPECT_EQ(crc32(s, 0), 0u);
  EXPECT_EQ(crc32_endian(s, 0), 0u);

  std::mt19937 rng(7);
  for (int len : {4, 8, 16, 3968, 4096}) {
    Bytes data(static_cast<size_t>(len));
    for (auto& b : data) b = uint8_t(rng());
    Bytes swapped(data);
    for (size_t i = 0; i < swapped.size(); i += 4) std::swap(swapped[i], swapped[i + 3]), std::swap(swapped[i + 1], swapped[i + 2]);
    EXPECT_EQ(crc32_endian(data.data(), len), crc32(swapped.data(), len)) << len;
    EXPECT_EQ(crc32(data.data(), len), ~varnaxitest::targetCrc32Update(0xFFFFFFFFu, data.data(), data.size()));
  }

  // A count that is not a multiple of 4 must not read past the data: the last, short
  // group is fed in reverse like the whole ones. Each buffer is exactly `len` long,
  // with a guard pattern behind it in a larger allocation, so a read past the end
  // changes the result.
  for (int len : {1, 2, 3, 5, 6, 7, 9, 18}) {
    Bytes data(static_cast<size_t>(len));
    for (auto& b : data) b = uint8_t(rng());
    Bytes swapped(data);
    for (size_t i = 0; i < swapped.size(); i += 4) {
      size_t end = std::min(swapped.size(), i + 4);
      std::reverse(swapped.begin() + long(i), swapped.begin() + long(end));
    }
    for (uint8_t guard : {0x00, 0xFF}) {
      Bytes padded(data);
      padded.resize(data.size() + 4, guard);
      EXPECT_EQ(crc32_endian(padded.data(), len), crc32(swapped.data(), len)) << len << " guard " << int(guard);
    }
    EXPECT_EQ(crc32_endian(data.data(), len), crc32(swapped.data(), len)) << len;
  }
}

TEST(AxiAssembler, StrayByteBeforePacketGivesOneBadWindowThenThePacket) {
  varnaxitest::LogCapture log;
  Bytes p = packet(0x01, 3, 0x9104, 0xAAAAAAAA);
  Bytes stream{0x55};
  stream.insert(stream.end(), p.begin(), p.end());
  VARNAXIAssembler a;
  VARNAXIAssemblerReset(&a);
  auto found = assemble(a, stream, {}, "Bad CRC\n");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], p);
  EXPECT_EQ(a.badWindows, 1u);
  EXPECT_EQ(log.text(), "Bad CRC\n");
}

// Rejected windows of one stream: the caller's line for the first of a second, then a
// count of the rest once that second is over (given when the next window comes).
TEST(AxiAssembler, GarbageIsLoggedOnceASecondWithACountOfTheRest) {
  varnaxitest::LogCapture log;
  VARNAXIAssembler a;
  VARNAXIAssemblerReset(&a);
  const Bytes junk(64, 0x5A);
  uint32_t before = 0;
  const uint64_t deadline = varn_monotonic_ns() + 5000000000ull;
  while (log.count("more windows failed their check and were skipped\n") == 0 && varn_monotonic_ns() < deadline) {
    before = a.badWindows;
    assemble(a, junk, {}, "Bad CRC\n");
  }
  const std::string text = log.text();
  ASSERT_EQ(text.rfind("Bad CRC\n", 0), 0u) << text.substr(0, 200);
  EXPECT_EQ(log.count("Bad CRC\n"), 1);
  // Every rejected window after the first, up to one in the last feed, was counted.
  const unsigned long counted = std::strtoul(text.c_str() + 8, nullptr, 10);
  EXPECT_GE(counted, before - 1u);
  EXPECT_LT(counted, before - 1u + junk.size());
}

TEST(AxiAssembler, PacketsSplitAtEveryOffsetAcrossTwoFeeds) {
  Bytes a1 = packet(0x02, 1, 0x100, 1), a2 = packet(0x01, 2, 0x104, 2), a3 = packet(0x17, 9, 0xDEAD, 0);
  Bytes stream;
  for (auto* p : {&a1, &a2, &a3}) stream.insert(stream.end(), p->begin(), p->end());
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    VARNAXIAssembler a;
    VARNAXIAssemblerReset(&a);
    auto found = assemble(a, stream, {cut});
    ASSERT_EQ(found.size(), 3u) << "cut at " << cut;
    EXPECT_EQ(found[0], a1);
    EXPECT_EQ(found[1], a2);
    EXPECT_EQ(found[2], a3);
    EXPECT_EQ(a.badWindows, 0u);
    EXPECT_EQ(a.fill, 0);
  }
}

TEST(AxiAssembler, ResynchronisesAfterGarbageFedByteByByte) {
  Bytes good = packet(0x01, 0x42, 0xA104, 0xAAAAAAAA);
  Bytes stream{1, 2, 3, 4, 5};
  stream.insert(stream.end(), good.begin(), good.end());
  Bytes corrupt = good;
  corrupt[7] ^= 0x01;  // a single flipped bit inside a packet
  stream.insert(stream.end(), corrupt.begin(), corrupt.end());
  stream.insert(stream.end(), good.begin(), good.end());
  std::vector<size_t> cuts;
  for (size_t i = 1; i < stream.size(); ++i) cuts.push_back(i);
  VARNAXIAssembler a;
  VARNAXIAssemblerReset(&a);
  auto found = assemble(a, stream, cuts);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], good);
  EXPECT_EQ(found[1], good);
  // 5 garbage bytes, then the 16 start positions inside the corrupted packet.
  EXPECT_EQ(a.badWindows, 5u + 16u);
}

TEST(AxiAssembler, LeavesBytesAfterAPacketForTheCaller) {
  Bytes header = packet(0x42, 0, 0x200000, 32);
  Bytes stream = header;
  for (int i = 0; i < 32; ++i) stream.push_back(uint8_t(i));
  VARNAXIAssembler a;
  VARNAXIAssemblerReset(&a);
  const uint8_t* p = stream.data();
  size_t len = stream.size();
  uint8_t out[16];
  ASSERT_TRUE(VARNAXIAssemblerNext(&a, &p, &len, out, nullptr));
  EXPECT_EQ(len, 32u);
  EXPECT_EQ(p, stream.data() + 16);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[31], 31);
}

}  // namespace
