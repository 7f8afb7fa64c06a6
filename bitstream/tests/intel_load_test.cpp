// The Intel path of the load: preamble, SDM handshake, the adaptive stream whose
// position the device decides, the final status check and its log lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "bitstream/intel_stream.h"
#include "bitstream/tests/fake_tap.h"
#include "bitstream/tests/test_files.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"

using faketap::Kind;
using faketap::Op;

namespace {

constexpr uint64_t kCfgStatus = 0x208, kCfgIn = 0x002;

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131) ^ (i >> 11));
  return v;
}

// The SDM and configuration logic of one Stratix 10 behind the fake TAP.
struct IntelModel {
  uint64_t startAnswer = 3;
  int failStep = 0;         // 1-4: that SDM command times out
  uint32_t status[7] = {0, 0, (1u << 31) | (1u << 30) | 1u, 0x3, 0, 0, 0};  // data of each answer word
  // Stream status policy.
  bool alwaysBusy = false;
  int busyAfterChunk = 0;   // reads that report busy after each chunk
  int failAtRead = -1;      // this status read reports failure
  uint32_t takeAtMost = 0;  // >0: the device takes at most this many bytes of a chunk
  bool neverAdvance = false;

  std::vector<uint8_t> received;
  std::vector<uint32_t> chunks;
  std::vector<uint8_t> controls;
  uint32_t offset = 0;
  int reads = 0;
  int busyLeft = 0;
  bool framingOk = true;

  void install() {
    auto& st = faketap::state();
    st.keepCfgData = false;
    st.sdm = [this](uint32_t, const uint32_t* e, uint32_t count, uint32_t* answers, uint32_t capacity,
                    uint32_t limit) -> int {
      EXPECT_EQ(limit, 50u);
      int step = 0;
      if (count == 2 && e[1] == 3) step = 1;
      if (count == 3 && e[4] == 0xE45578D9) step = 2;
      if (count == 1 && e[0] == 5 && e[1] == 2) step = 3;
      if (count == 2 && e[0] == 0 && e[2] == 4) step = 4;
      EXPECT_NE(step, 0);
      if (step == failStep) return 9;
      if (step == 3 && capacity >= 1) {
        answers[0] = static_cast<uint32_t>(startAnswer);
        answers[1] = static_cast<uint32_t>(startAnswer >> 32);
      }
      if (step == 4) {
        EXPECT_EQ(capacity, 7u);
        for (int k = 0; k < 7; ++k) {
          const uint64_t raw = (static_cast<uint64_t>(status[k]) << 2) | (k == 6 ? 3 : 1);
          answers[2 * k] = static_cast<uint32_t>(raw);
          answers[2 * k + 1] = static_cast<uint32_t>(raw >> 32);
        }
      }
      return 0;
    };
    st.dr = [this](uint32_t, uint64_t instr, const uint8_t* tdi, uint8_t* tdo, uint64_t bits) {
      if (instr == kCfgStatus && bits == 37 && tdo) {
        controls.push_back(tdi ? tdi[0] : 0xEE);
        const int n = reads++;
        uint32_t word = offset;
        if (n == failAtRead) word |= 0x2;
        if (alwaysBusy || busyLeft > 0) {
          word |= 0x1;
          if (busyLeft > 0) --busyLeft;
        }
        std::memcpy(tdo, &word, 4);
        tdo[4] = 0x10;  // upper status bits the load does not use
      } else if (instr == kCfgIn && tdi) {
        const uint64_t len = (bits - 1) / 8 - 8;
        if (bits != (len + 8) * 8 + 1 || std::memcmp(tdi, "\xFF\xFF\xFF\xFF\x00\x2A\x7E\xA1", 8) != 0 ||
            (tdi[8 + len] & 1) != 1)
          framingOk = false;
        chunks.push_back(static_cast<uint32_t>(len));
        uint32_t take = static_cast<uint32_t>(len);
        if (takeAtMost && take > takeAtMost) take = takeAtMost;
        if (neverAdvance) take = 0;
        if (received.size() < offset + take) received.resize(offset + take);
        if (take) std::memcpy(received.data() + offset, tdi + 8, take);
        offset += take;
        busyLeft = busyAfterChunk;
      }
    };
  }
};

class IntelLoad : public ::testing::Test {
 protected:
  void SetUp() override { faketap::reset(); }
  VARNJtag j = faketap::makeHandle({JTAG_DEV_VU9P, JTAG_DEV_GX2800H}, false);
  bittest::TempDir dir;
  VARNProgressCell progress{-1.0};
};

TEST_F(IntelLoad, AGoodLoadGrowsTheChunksAndLogsTheHandshake) {
  IntelModel m;
  m.install();
  const size_t size = 3 * 1024 * 1024 + 776;  // whole words
  const auto bytes = pattern(size);
  const std::string path = dir.write("good.rbf", bytes);
  bittest::LogCapture log;
  std::vector<double> seen;
  auto inner = faketap::state().dr;
  faketap::state().dr = [&](uint32_t d, uint64_t i, const uint8_t* tdi, uint8_t* tdo, uint64_t b) {
    seen.push_back(progress.load());
    inner(d, i, tdi, tdo, b);
  };
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 0);
  EXPECT_EQ(m.received, bytes);
  EXPECT_TRUE(m.framingOk);
  std::vector<uint32_t> expect;
  for (uint32_t c = 2048, left = static_cast<uint32_t>(size); left > 0; c = c < 524288 ? c * 2 : c) {
    expect.push_back(left < c ? left : c);
    left -= expect.back();
  }
  EXPECT_EQ(m.chunks, expect);
  // 0x07 before the first chunk, 0x00 after every chunk.
  ASSERT_EQ(m.controls.size(), expect.size() + 1);
  EXPECT_EQ(m.controls[0], 0x07);
  for (size_t k = 1; k < m.controls.size(); ++k) EXPECT_EQ(m.controls[k], 0x00);
  for (double p : seen) EXPECT_LT(p, 100.0);
  EXPECT_EQ(progress.load(), 100.0);

  const std::string t = log.text();
  const char* lines[] = {"Loading Intel Bitstream\n", "Forcing Intel SDM Sync\n", "Sending Program Start\n",
                         "Got Start Response: 0000000000000003 0000000000000000\n", "Start was good!\n",
                         "Program Done!\n", "Status Check:\n",
                         "nStatus 1 nConfig 1 MSEL 1 initDone 1 confDone 1\n"};
  size_t at = 0;
  for (const char* line : lines) {
    const size_t p = t.find(line, at);
    ASSERT_NE(p, std::string::npos) << line;
    at = p;
  }
  EXPECT_EQ(t.find("SDM State"), std::string::npos);
  EXPECT_EQ(t.find("SDM Error"), std::string::npos);
}

TEST_F(IntelLoad, PreambleBeforeTheHandshake) {
  IntelModel m;
  m.install();
  const std::string path = dir.write("empty.rbf", {});
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 0);
  const auto& ops = faketap::state().ops;
  std::vector<Op> head;
  for (const Op& op : ops)
    if (op.kind == Kind::Ir || op.kind == Kind::Dr) head.push_back(op);
  ASSERT_GE(head.size(), 6u);
  EXPECT_EQ(head[0].instruction, 0x006u);
  EXPECT_EQ(head[0].tdiSide, 18);  // the VU9P on the TDI side
  EXPECT_EQ(head[0].irLength, 10);
  EXPECT_EQ(head[1].bits, 64u);
  EXPECT_TRUE(head[1].hasTdi && head[1].hasTdo);
  EXPECT_EQ(head[1].device, 1u);
  EXPECT_EQ(head[1].endState, static_cast<uint32_t>(DRUPDATE));
  for (int k : {2, 4}) {
    EXPECT_EQ(head[k].instruction, 0x017u);
    EXPECT_EQ(head[k + 1].bits, 32u);
    EXPECT_TRUE(head[k + 1].hasTdo);
  }
  // A file of 0 bytes: the first ready status ends the stream, no data is sent.
  EXPECT_TRUE(m.chunks.empty());
  EXPECT_EQ(m.controls.size(), 1u);
  ASSERT_EQ(faketap::state().sdmCommands.size(), 4u);
  EXPECT_EQ(faketap::state().sdmCommands[0], (std::vector<uint32_t>{0, 3, 0, 2}));
  EXPECT_EQ(faketap::state().sdmCommands[1], (std::vector<uint32_t>{0, 0, 0xF0001001, 1, 0xE45578D9, 2}));
  EXPECT_EQ(faketap::state().sdmCommands[2], (std::vector<uint32_t>{5, 2}));
  EXPECT_EQ(faketap::state().sdmCommands[3], (std::vector<uint32_t>{0, 0, 4, 2}));
}

TEST_F(IntelLoad, TheStartMustBeAcceptedBeforeTheFileIsOpened) {
  IntelModel m;
  m.startAnswer = 7;
  m.install();
  bittest::LogCapture log;
  // A missing file is not noticed: the device refused first.
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, dir.path("absent.rbf").c_str(), 0, &progress), 7);
  EXPECT_EQ(log.count("Got Start Response: 0000000000000007 0000000000000000\n"), 1);
  EXPECT_EQ(log.count("Bad Start, not programming\n"), 1);
  EXPECT_EQ(log.count("cannot be opened"), 0);
  EXPECT_EQ(m.controls.size(), 0u);

  // With a good start the missing file is 8, the device left waiting for data.
  faketap::reset();
  IntelModel good;
  good.install();
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, dir.path("absent.rbf").c_str(), 0, &progress), 8);
  EXPECT_EQ(good.controls.size(), 0u);
  EXPECT_LT(progress.load(), 100.0);

  // A wide start answer counts as refused too (status 3 with data).
  faketap::reset();
  IntelModel wide;
  wide.startAnswer = 0x200000003ull;
  wide.install();
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, dir.path("absent.rbf").c_str(), 0, &progress), 7);
  EXPECT_EQ(log.count("Got Start Response: 0000000200000003 0000000000000000\n"), 1);

  // A mailbox that never answers stops the load where it is.
  for (int step = 1; step <= 3; ++step) {
    faketap::reset();
    IntelModel dead;
    dead.failStep = step;
    dead.install();
    EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, dir.path("absent.rbf").c_str(), 0, &progress), 9);
    EXPECT_EQ(faketap::state().sdmCommands.size(), static_cast<size_t>(step));
  }
}

TEST_F(IntelLoad, BusyFailureAndTimeOut) {
  const std::string path = dir.write("f.rbf", pattern(100000));
  bittest::LogCapture log;
  {
    IntelModel m;
    m.alwaysBusy = true;
    m.install();
    EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 9);
    EXPECT_EQ(m.reads, 6000);
    EXPECT_EQ(log.count("Timed out\n"), 1);
    // Nothing sent yet: every read asks with 0x07.
    for (uint8_t c : m.controls) ASSERT_EQ(c, 0x07);
    EXPECT_TRUE(m.chunks.empty());
  }
  {
    faketap::reset();
    IntelModel m;
    m.failAtRead = 3;
    m.install();
    EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 7);
    EXPECT_EQ(m.reads, 4);
    EXPECT_EQ(log.count("Programming Failed!\n"), 1);
    EXPECT_LT(progress.load(), 100.0);
  }
  {
    // Busy after every chunk: asked again with 0x01, and the chunk halves (down to 4096).
    faketap::reset();
    IntelModel m;
    m.busyAfterChunk = 2;
    m.install();
    const std::string big = dir.write("big.rbf", pattern(2 * 1024 * 1024));
    EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, big.c_str(), 0, &progress), 0);
    EXPECT_EQ(m.chunks[0], 2048u);
    for (size_t k = 1; k < m.chunks.size() - 1; ++k) ASSERT_EQ(m.chunks[k], 2048u) << k;  // never above 4096
    ASSERT_GE(m.controls.size(), 4u);
    EXPECT_EQ(m.controls[1], 0x00);
    EXPECT_EQ(m.controls[2], 0x01);
    EXPECT_EQ(m.controls[3], 0x01);
  }
}

TEST_F(IntelLoad, TheDeviceDecidesWhereTheNextChunkStarts) {
  IntelModel m;
  m.takeAtMost = 1000;
  m.install();
  const auto bytes = pattern(20000);
  const std::string path = dir.write("part.rbf", bytes);
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 0);
  EXPECT_EQ(m.received, bytes);
  EXPECT_EQ(m.chunks.size(), 20u);
  for (uint32_t c : m.chunks) EXPECT_GE(c, 1000u);

  // A device that reports ready but takes nothing: bounded, not for ever.
  faketap::reset();
  IntelModel stuck;
  stuck.neverAdvance = true;
  stuck.install();
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 9);
  EXPECT_EQ(stuck.chunks.size(), static_cast<size_t>(VARN_INTEL_MAX_RESENDS));
  EXPECT_EQ(log.count("Timed out\n"), 1);
}

TEST_F(IntelLoad, AFileThatShrinksIsAMisread) {
  IntelModel m;
  m.install();
  const std::string path = dir.write("shrink.rbf", pattern(50000));
  auto inner = faketap::state().dr;
  int chunks = 0;
  faketap::state().dr = [&](uint32_t d, uint64_t i, const uint8_t* tdi, uint8_t* tdo, uint64_t b) {
    inner(d, i, tdi, tdo, b);
    if (i == kCfgIn && ++chunks == 2) {
      ASSERT_EQ(truncate(path.c_str(), 7000), 0);
    }
  };
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 6);
  // 2048 + 4096 taken; the third chunk (8192 from 6144) finds 856 bytes.
  EXPECT_EQ(log.count("Misread file 856!\n"), 1);
  EXPECT_LT(progress.load(), 100.0);
}

TEST_F(IntelLoad, ABadEndStateLogsTheSdmError) {
  IntelModel m;
  m.status[0] = 0xF0010003;
  m.status[3] = 0x1;  // confDone without initDone
  m.status[4] = 0xABCDEF01;
  m.status[5] = 0x12345678;
  m.install();
  const std::string path = dir.write("s.rbf", pattern(5000));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 7);
  EXPECT_EQ(log.count("SDM State: f001,0003\n"), 1);
  EXPECT_EQ(log.count("nStatus 1 nConfig 1 MSEL 1 initDone 0 confDone 1\n"), 1);
  EXPECT_EQ(log.count("SDM Error Location: 00000000abcdef01\n"), 1);
  EXPECT_EQ(log.count("SDM Error Details: 0000000012345678\n"), 1);
  EXPECT_LT(progress.load(), 100.0);

  // The status command itself timing out.
  faketap::reset();
  IntelModel dead;
  dead.failStep = 4;
  dead.install();
  EXPECT_EQ(VARNJtagLoadBitstream(&j, 1, path.c_str(), 0, &progress), 9);
  EXPECT_LT(progress.load(), 100.0);
}

TEST(IntelStream, ChunkSizeAndStatusWords) {
  EXPECT_EQ(varn_intel_next_chunk(2048, false, true), 2048u);
  EXPECT_EQ(varn_intel_next_chunk(2048, false, false), 4096u);
  EXPECT_EQ(varn_intel_next_chunk(262144, false, false), 524288u);
  EXPECT_EQ(varn_intel_next_chunk(524288, false, false), 524288u);
  EXPECT_EQ(varn_intel_next_chunk(524288, true, false), 262144u);
  EXPECT_EQ(varn_intel_next_chunk(8192, true, false), 4096u);
  EXPECT_EQ(varn_intel_next_chunk(4096, true, false), 4096u);
  EXPECT_EQ(varn_intel_next_chunk(2048, true, true), 2048u);

  const uint8_t w[5] = {0x07, 0x10, 0x00, 0x80, 0xFF};
  const IntelStreamStatus s = varn_intel_stream_status(w);
  EXPECT_TRUE(s.busy);
  EXPECT_TRUE(s.failed);
  EXPECT_EQ(s.offset, 0x80001004u);
}

}  // namespace
