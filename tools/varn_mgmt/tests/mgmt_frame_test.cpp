// varn_mgmt's frame parser on frames written here byte by byte (the layout the bridge
// documents), on every way of cutting them, and on damaged and random streams.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fuzz/mgmt/frame_fuzz_body.h"
#include "tools/varn_mgmt/mgmt_frame.h"
#include "testsupport/corpus.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace varnmgmt;

template <typename T>
void put(Bytes& b, T v) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
  b.insert(b.end(), p, p + sizeof v);
}

void deviceRecord(Bytes& b, uint8_t dnaSeed, const char* serial, uint32_t idcode, uint8_t state,
                  const std::string& name, uint16_t port, uint32_t tx, uint32_t rx) {
  b.push_back(static_cast<uint8_t>(45 + name.size()));
  for (int i = 0; i < 12; ++i) b.push_back(static_cast<uint8_t>(dnaSeed + i));
  char s[16] = {};
  std::memcpy(s, serial, strnlen(serial, sizeof s));
  b.insert(b.end(), s, s + 16);
  put(b, idcode);
  b.push_back(state);
  b.push_back(static_cast<uint8_t>(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  put(b, port);
  put(b, tx);
  put(b, rx);
}

Bytes deviceList() {
  Bytes b = {'V', 'N', 'D', 'L', 3};
  b.push_back(2);
  deviceRecord(b, 0x10, "127.0.0.2", 0x04B31093, 4, "a.bit", 5000, 1234, 99);
  deviceRecord(b, 0x20, "127.0.0.2", 0x04B71093, 16, "a.bit", 5001, 0, 0);
  b.push_back(0);  // a board without devices
  b.push_back(1);
  deviceRecord(b, 0x30, "FT4232HSERIAL123", 0x04B51093, 1, "", 5002, 7, 8);
  return b;
}

Bytes telemetry() {
  Bytes b = {'V', 'N', 'T', 'E', 1, 2};
  for (uint8_t slrs : {3, 0}) {
    b.push_back(static_cast<uint8_t>(30 + 16 * slrs));
    for (int i = 0; i < 12; ++i) b.push_back(static_cast<uint8_t>(i));
    char s[16] = "SER";
    b.insert(b.end(), s, s + 16);
    b.push_back(slrs);
    for (int k = 0; k < slrs; ++k) {
      put(b, 40.0 + k);
      put(b, 0.85);
    }
  }
  return b;
}

TEST(MgmtFrame, ParsesBothFramesWholeAndInEveryCut) {
  Bytes stream = deviceList();
  const Bytes t = telemetry();
  stream.insert(stream.end(), t.begin(), t.end());
  Frame f;
  size_t used = 0;
  std::string error;
  ASSERT_EQ(parseFrame(stream.data(), stream.size(), &f, &used, &error), ParseResult::Frame) << error;
  EXPECT_EQ(used, deviceList().size());
  ASSERT_EQ(f.kind, Frame::Kind::DeviceList);
  ASSERT_EQ(f.devices.size(), 3u);
  ASSERT_EQ(f.devices[0].size(), 2u);
  EXPECT_TRUE(f.devices[1].empty());
  const DeviceRecord& d = f.devices[0][0];
  EXPECT_EQ(dnaHex(d.dna), "101112131415161718191a1b");
  EXPECT_EQ(d.serial, "127.0.0.2");
  EXPECT_EQ(d.idcode, 0x04B31093u);
  EXPECT_EQ(stateName(d.state), "loaded");
  EXPECT_EQ(d.bitstream, "a.bit");
  EXPECT_EQ(d.port, 5000);
  EXPECT_EQ(d.txBytes, 1234u);
  EXPECT_EQ(d.rxBytes, 99u);
  EXPECT_EQ(f.devices[2][0].serial, "FT4232HSERIAL123");  // all 16 bytes, no terminator
  EXPECT_EQ(f.devices[2][0].bitstream, "");

  ASSERT_EQ(parseFrame(stream.data() + used, stream.size() - used, &f, &used, &error), ParseResult::Frame);
  ASSERT_EQ(f.kind, Frame::Kind::Telemetry);
  ASSERT_EQ(f.telemetry[0].size(), 2u);
  ASSERT_EQ(f.telemetry[0][0].slrs.size(), 3u);
  EXPECT_DOUBLE_EQ(f.telemetry[0][0].slrs[2].celsius, 42.0);
  EXPECT_DOUBLE_EQ(f.telemetry[0][0].slrs[2].vccint, 0.85);
  EXPECT_TRUE(f.telemetry[0][1].slrs.empty());

  // Every prefix needs more, and names a length beyond itself and within the frame.
  // Every cut of the stream gives the same two frames.
  for (size_t n = 0; n < deviceList().size(); ++n) {
    ASSERT_EQ(parseFrame(stream.data(), n, &f, &used, &error), ParseResult::NeedMore) << n;
    EXPECT_GT(used, n);
    EXPECT_LE(used, deviceList().size());
  }
  const VarnFrameFuzzResult r = varnFrameFuzzOne(stream.data(), stream.size());
  EXPECT_TRUE(r.consistent);
  EXPECT_EQ(r.frames, 2u);
}

TEST(MgmtFrame, DamagedFramesAreNamedAndRandomStreamsStayConsistent) {
  Frame f;
  size_t used = 0;
  std::string error;
  Bytes bad = deviceList();
  bad[6] = 44;  // a device record too short for its fields
  EXPECT_EQ(parseFrame(bad.data(), bad.size(), &f, &used, &error), ParseResult::Error);
  EXPECT_NE(error.find("board 0 device 0"), std::string::npos) << error;
  bad = deviceList();
  bad[6 + 34] = 9;  // name length that disagrees with the record length
  EXPECT_EQ(parseFrame(bad.data(), bad.size(), &f, &used, &error), ParseResult::Error);
  bad = telemetry();
  bad[6 + 29] = 2;  // SLR count that disagrees with the record length
  EXPECT_EQ(parseFrame(bad.data(), bad.size(), &f, &used, &error), ParseResult::Error);
  const Bytes junk = {'H', 'T', 'T', 'P', '/'};
  EXPECT_EQ(parseFrame(junk.data(), junk.size(), &f, &used, &error), ParseResult::Error);
  EXPECT_NE(error.find("magic"), std::string::npos) << error;

  // A stream that promises more than any bridge sends ends in an error, not in memory
  // growing without bound.
  FrameReader reader;
  Bytes huge = {'V', 'N', 'D', 'L', 255};
  reader.feed(huge.data(), huge.size());
  Bytes record(255, 0);
  record[0] = 255;
  record[34] = 210;
  for (int i = 0; i < 5000; ++i) {
    if (i % 255 == 0) reader.feed(Bytes{255}.data(), 1);
    reader.feed(record.data(), record.size());
  }
  EXPECT_EQ(reader.next(&f, &error), ParseResult::Error);

  // Random mutations of valid streams: every cut agrees with the whole parse.
  std::mt19937 rng(20261208);
  Bytes base = deviceList();
  const Bytes t = telemetry();
  base.insert(base.end(), t.begin(), t.end());
  for (int round = 0; round < 300; ++round) {
    Bytes m = base;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) m[rng() % m.size()] = static_cast<uint8_t>(rng());
    m.resize(rng() % (m.size() + 1));
    ASSERT_TRUE(varnFrameFuzzOne(m.data(), m.size()).consistent) << round;
  }
}

// The seed corpus the fuzzer starts from.
TEST(MgmtFrame, EverySeedParsesTheSameInEveryCut) {
  size_t seeds = 0;
  for (const VarnSeed& seed : varnReadCorpus(VARN_MGMT_FRAME_CORPUS)) {
    const std::vector<uint8_t>& in = seed.bytes;
    EXPECT_TRUE(varnFrameFuzzOne(in.data(), in.size()).consistent) << seed.name;
    ++seeds;
  }
  EXPECT_GE(seeds, 10u);
}

}  // namespace
