// Loads over FTDI end to end: the JTAG engine's MPSSE commands go through the simulated
// D2XX library to a simulated FT232H and the UltraScale+ / Stratix 10 silicon behind it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "bitstream/tests/mixed_chain_checks.h"
#include "bitstream/tests/test_files.h"
#include "bitstream/varn_bitstream.h"
#include "ftdi/ftd2xx.h"
#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"
#include "sim/d2xx/varnsim_api.h"
#include "tools/varn_bitgen/bitgen.h"

namespace {

constexpr uint32_t kFrames = 40;

std::vector<uint8_t> makeBit(const char* part, uint32_t frames = kFrames, bool encrypted = false) {
  varnbitgen::BitOptions o;
  o.part = part;
  o.frames = frames;
  o.encrypted = encrypted;
  return varnbitgen::makeBit(o);
}
std::vector<uint8_t> makeRbf(uint64_t bytes) {
  varnbitgen::RbfOptions o;
  o.sizeBytes = bytes;
  return varnbitgen::makeRbf(o);
}

class FtdiLoad : public ::testing::Test {
 protected:
  void TearDown() override {
    if (jtag) VARNJtagDestroy(jtag);
    if (handle) FT_Close(handle);
  }
  // One board named "b" on an FT232H, its devices given as device lines.
  void board(const std::string& devices) {
    const std::string text = "board b\n" + devices + "ftdi FT232H serial=FTBIT1\nchannel A jtag=b\n";
    ASSERT_EQ(varnsim_load_text(text.c_str()), 0) << varnsim_last_error();
    DWORD n = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
    ASSERT_GE(n, 1u);
    char serialText[FT_SERIAL_SIZE] = {}, description[FT_DESCRIPTION_SIZE] = {};
    DWORD flags = 0, type = 0, id = 0, location = 0;
    ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &location, serialText, description, nullptr), FT_OK);
    serial = serialText;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(VARNJtagCreate(handle, 30000000, &jtag), 0);
    ASSERT_GT(jtag->deviceCount, 0u);
  }
  VarnsimDeviceState device(int i) {
    VarnsimDeviceState st{};
    EXPECT_EQ(varnsim_device_state("b", i, &st), 0) << varnsim_last_error();
    return st;
  }
  VarnsimChannelCounters counters() {
    VarnsimChannelCounters c{};
    EXPECT_EQ(varnsim_channel_counters(serial.c_str(), &c), 0) << varnsim_last_error();
    return c;
  }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) { return dir.write(name, bytes); }

  FT_HANDLE handle = nullptr;
  std::string serial;
  VARNJtag* jtag = nullptr;
  bittest::TempDir dir;
  VARNProgressCell progress{-1.0};
};

TEST_F(FtdiLoad, AChainOfVu35pAndVu9pTakesItsStreams) {
  ASSERT_NO_FATAL_FAILURE(board("device VU35P\ndevice VU9P\n"));
  ASSERT_EQ(jtag->deviceCount, 2u);
  const auto vu9pBytes = makeBit("VU9P");
  const std::string vu9p = write("vu9p.bit", vu9pBytes);
  const std::string vu35p = write("vu35p.bit", makeBit("VU35P"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 1, vu9p.c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, vu9p.c_str()), 7);

  bittest::LogCapture log;
  const VarnsimChannelCounters before = counters();
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 1, vu9p.c_str(), 0, &progress), 0);
  EXPECT_EQ(progress.load(), 100.0);
  EXPECT_EQ(log.count("Houseclean OK\n"), 1);
  VarnsimDeviceState st = device(1);
  EXPECT_TRUE(st.done) << st.text;
  EXPECT_EQ(st.error, 0) << st.text;
  EXPECT_EQ(st.configWords, 3u * kFrames * 93u) << st.text;
  EXPECT_FALSE(device(0).done);
  // The whole file went over the wire, plus houseclean and start-up clocks.
  const VarnsimChannelCounters after = counters();
  EXPECT_GE(after.tcks - before.tcks, 8u * vu9pBytes.size() + 30000 + 60000);

  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, vu35p.c_str(), 0, &progress), 0);
  EXPECT_TRUE(device(0).done) << device(0).text;
  EXPECT_TRUE(device(1).done);

  EXPECT_EQ(VARNJtagClearBitstream(jtag, 1), 0);
  EXPECT_FALSE(device(1).done);
  EXPECT_TRUE(device(0).done);
  EXPECT_EQ(VARNJtagBootFromFlash(jtag, 0), 0);
  EXPECT_EQ(jtag->tapState, static_cast<uint32_t>(RESET));
}

TEST_F(FtdiLoad, WrongPartCutOffAndEncryptedStreamsAreReportedNotDone) {
  ASSERT_NO_FATAL_FAILURE(board("device VU9P\n"));
  bittest::LogCapture log;
  const std::string wrong = write("vu35p.bit", makeBit("VU35P"));
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, wrong.c_str(), 0, &progress), 7);
  EXPECT_LT(progress.load(), 100.0);
  EXPECT_EQ(log.count("has DONE (bit 17) clear"), 1);
  VarnsimDeviceState st = device(0);
  EXPECT_FALSE(st.done);
  EXPECT_NE(st.error, 0) << st.text;

  // A file cut short is refused before anything reaches the device: the design that
  // runs goes on running.
  const auto whole = makeBit("VU9P");
  const std::string good = write("good.bit", whole);
  const std::string cut =
      write("cut.bit", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, cut.c_str()), 0);
  ASSERT_EQ(VARNJtagLoadBitstream(jtag, 0, good.c_str(), 0, &progress), 0);
  const uint64_t writes = counters().writes;
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, cut.c_str(), 0, &progress), 6);
  EXPECT_EQ(counters().writes, writes) << "nothing sent to the chain";
  EXPECT_EQ(log.count("not loaded, the device is left as it was\n"), 1);
  EXPECT_TRUE(device(0).done);

  const std::string enc = write("enc.bit", makeBit("VU9P", kFrames, true));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, enc.c_str()), 0);
  EXPECT_EQ(log.count("Encrypted bit for 9p-\n"), 1);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, enc.c_str(), 0, &progress), 7);
  EXPECT_FALSE(device(0).done);

  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, good.c_str(), 0, &progress), 0);
  EXPECT_TRUE(device(0).done) << device(0).text;
}

TEST_F(FtdiLoad, AnEncryptedStreamLoadsIntoTheDeviceWithItsKey) {
  ASSERT_NO_FATAL_FAILURE(board("device VU9P aes_key=0x5EC0DE01\n"));
  const std::string enc = write("enc.bit", makeBit("VU9P", kFrames, true));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, enc.c_str()), 0);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, enc.c_str(), 0, &progress), 0);
  EXPECT_TRUE(device(0).done) << device(0).text;
}

TEST_F(FtdiLoad, BadInputLeavesTheDeviceAsReported) {
  ASSERT_NO_FATAL_FAILURE(board("device VU9P\n"));
  const std::string good = write("good.bit", makeBit("VU9P"));
  ASSERT_EQ(VARNJtagLoadBitstream(jtag, 0, good.c_str(), 0, &progress), 0);
  const uint64_t programs = device(0).programs;
  // Missing: 8, no houseclean, the device keeps its configuration.
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, dir.path("absent.bit").c_str(), 0, &progress), 8);
  EXPECT_TRUE(device(0).done);
  EXPECT_EQ(device(0).programs, programs);
  // Names that do not suit a Xilinx part.
  const std::string rbf = write("x.rbf", makeRbf(4096));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, rbf.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, "design.BIT"), 7);
  // Empty: nothing identified; loading it anyway clears the device and says so.
  const std::string empty = write("empty.bit", {});
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, empty.c_str()), 4);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, empty.c_str(), 0, &progress), 7);
  EXPECT_FALSE(device(0).done);
  EXPECT_LT(progress.load(), 100.0);
  // A header beyond the first 1024 bytes.
  auto longHeader = bittest::bitHeader(std::string(1200, 'h'), "xcvu9p-flgb2104-2-i", 0);
  const auto body = makeBit("VU9P");
  longHeader.insert(longHeader.end(), body.begin(), body.end());
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, write("long.bit", longHeader).c_str()), 4);
}

TEST_F(FtdiLoad, AFileThatShrinksWhileLoadingIsReported) {
  ASSERT_NO_FATAL_FAILURE(board("device VU9P\n"));
  // Large enough that the load lasts well beyond a scheduling delay of the cutter.
  const std::string path = write("shrink.bit", makeBit("VU9P", 4000));
  std::atomic<bool> stop{false}, cut{false};
  std::thread cutter([&] {
    while (!stop) {
      const double p = progress.load();
      if (p > 20.0 && p < 90.0) {
        cut = truncate(path.c_str(), 120000) == 0;
        return;
      }
      std::this_thread::yield();
    }
  });
  bittest::LogCapture log;
  const int rc = VARNJtagLoadBitstream(jtag, 0, path.c_str(), 0, &progress);
  stop = true;
  cutter.join();
  ASSERT_TRUE(cut.load());
  EXPECT_EQ(rc, 6);
  EXPECT_EQ(log.count("the device was not started"), 1);
  EXPECT_FALSE(device(0).done);
  EXPECT_LT(progress.load(), 100.0);
  EXPECT_EQ(jtag->tapState, static_cast<uint32_t>(RESET));
  // The chain still works after the cut-off shift: the next load goes through.
  const std::string good = write("good.bit", makeBit("VU9P"));
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, good.c_str(), 0, &progress), 0);
}

// The driver fails in the middle of a load: the load stops and says so, nothing of the
// failed exchange is sent again, and the next load of the same device goes through.
TEST_F(FtdiLoad, ADriverFailureInTheMiddleOfALoadEndsItAndTheNextLoadWorks) {
  ASSERT_NO_FATAL_FAILURE(board("device VU9P\n"));
  const std::string path = write("good.bit", makeBit("VU9P", 400));
  const uint64_t writesBefore = counters().writes;
  ASSERT_EQ(VARNJtagLoadBitstream(jtag, 0, path.c_str(), 0, &progress), 0);
  const uint64_t writesPerLoad = counters().writes - writesBefore;
  ASSERT_GT(writesPerLoad, 8u);
  struct Case {
    const char* fault;
    int count;
    int rc;
  };
  // A write well into the stream ends the load. A housecleaning poll whose reply did
  // not come (or came short) is polled again, and the load completes.
  for (const Case& c : {Case{"write_failure_in", int(writesPerLoad / 2), 5}, Case{"read_timeout", 16, 0},
                        Case{"short_read", 1, 0}}) {
    SCOPED_TRACE(c.fault);
    bittest::LogCapture log;
    testing::internal::CaptureStderr();
    ASSERT_EQ(varnsim_inject_fault(serial.c_str(), c.fault, c.count), 0);
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, path.c_str(), 0, &progress), c.rc) << log.text();
    testing::internal::GetCapturedStderr();
    if (c.rc == 5) {
      EXPECT_LT(progress.load(), 100.0);
      EXPECT_EQ(log.count("JTAG data shift failed at byte"), 1);
      EXPECT_FALSE(device(0).done);
    } else {
      EXPECT_TRUE(device(0).done);
    }
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, path.c_str(), 0, &progress), 0);
    EXPECT_TRUE(device(0).done);
  }
}

TEST_F(FtdiLoad, IntelGoodLoad) {
  ASSERT_NO_FATAL_FAILURE(board("device GX2800-H\n"));
  const std::string rbf = write("gx.rbf", makeRbf(600000));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, rbf.c_str()), 0);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, rbf.c_str(), 0, &progress), 0);
  EXPECT_EQ(progress.load(), 100.0);
  EXPECT_EQ(log.count("Got Start Response: 0000000000000003 0000000000000000\n"), 1);
  EXPECT_EQ(log.count("Start was good!\n"), 1);
  EXPECT_EQ(log.count("initDone 1 confDone 1\n"), 1);
  const VarnsimDeviceState st = device(0);
  EXPECT_TRUE(st.done) << st.text;
  EXPECT_EQ(st.configWords, 600000u) << st.text;
}

TEST_F(FtdiLoad, IntelDeviceOnEitherSideOfAXilinxPart) {
  const std::string rbf = write("gx.rbf", makeRbf(40000));
  const std::string bit = write("vu9p.bit", makeBit("VU9P"));
  for (int intelAt : {0, 1}) {
    ASSERT_NO_FATAL_FAILURE(board(intelAt == 0 ? "device GX2800-H\ndevice VU9P\n" : "device VU9P\ndevice GX2800-H\n"));
    const int xilinxAt = 1 - intelAt;
    EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, intelAt, rbf.c_str()), 0);
    EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, xilinxAt, bit.c_str()), 0);
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, intelAt, rbf.c_str(), 0, &progress), 0) << "Intel at " << intelAt;
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, xilinxAt, bit.c_str(), 0, &progress), 0) << "Intel at " << intelAt;
    EXPECT_TRUE(device(intelAt).done) << device(intelAt).text;
    EXPECT_TRUE(device(xilinxAt).done) << device(xilinxAt).text;
    TearDown();
    jtag = nullptr;
    handle = nullptr;
  }
}

// Index i is the same chip for the chain scan, for reads and for loads: each part of a
// mixed chain answers with its own DNA and, once loaded, its own user code
// (sim_coe_test.cpp reads the same chain over CoE).
TEST_F(FtdiLoad, IdentityAndLoadsOfAMixedChainGoToTheChipOfEachIndex) {
  std::string devices;
  for (const bittest::ChainPart& p : bittest::kMixedChain)
    devices += std::string("device ") + p.part + " dna=" + p.dna + "\n";
  ASSERT_NO_FATAL_FAILURE(board(devices));
  ASSERT_EQ(jtag->deviceCount, 3u);
  const std::string rbf = write("gx.rbf", makeRbf(20020));
  ASSERT_NO_FATAL_FAILURE(bittest::readAndLoadMixedChain(jtag, dir, kFrames, rbf, &progress));
  for (uint32_t d : {0u, 2u})
    EXPECT_EQ(device(static_cast<int>(d)).usercode, bittest::kMixedChain[d].usercode) << "device " << d;
  for (int d = 0; d < 3; ++d) EXPECT_TRUE(device(d).done) << device(d).text;
}

TEST_F(FtdiLoad, IntelAlwaysBusyFailingAndRefusing) {
  const std::string rbf = write("gx.rbf", makeRbf(20000));
  bittest::LogCapture log;
  {
    ASSERT_NO_FATAL_FAILURE(board("device GX2800-H sdm_busy=always\n"));
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, rbf.c_str(), 0, &progress), 9);
    EXPECT_EQ(log.count("Timed out\n"), 1);
    EXPECT_FALSE(device(0).done);
    TearDown();
    jtag = nullptr;
    handle = nullptr;
  }
  {
    ASSERT_NO_FATAL_FAILURE(board("device GX2800-H sdm_fail=program\n"));
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, rbf.c_str(), 0, &progress), 7);
    EXPECT_EQ(log.count("Programming Failed!\n"), 1);
    EXPECT_FALSE(device(0).done);
    TearDown();
    jtag = nullptr;
    handle = nullptr;
  }
  {
    ASSERT_NO_FATAL_FAILURE(board("device GX2800-H sdm_fail=start\n"));
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, dir.path("absent.rbf").c_str(), 0, &progress), 7);
    EXPECT_EQ(log.count("Bad Start, not programming\n"), 1);
    EXPECT_EQ(log.count("cannot be opened"), 0);
  }
}

}  // namespace
