// Loads over CoE end to end: the JTAG engine and the link talk to the simulated board
// controller at 127.0.0.x:21363, which drives simulated UltraScale+ and Stratix 10
// silicon with their configuration logic. Each test has its own address.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "bitstream/bitstream_internal.h"
#include "bitstream/tests/mixed_chain_checks.h"
#include "bitstream/tests/test_files.h"
#include "bitstream/varn_bitstream.h"
#include "coe/coe_link.h"
#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag_handle.h"
#include "sim/controller/controller_server.h"
#include "sim/controller/core_chain.h"
#include "sim/core/intel_device.h"
#include "sim/core/jtag_chain.h"
#include "sim/core/xilinx_device.h"
#include "tools/varn_bitgen/bitgen.h"

using namespace varnsim;

namespace {

constexpr uint32_t kFrames = 40;

std::vector<uint8_t> makeBit(const char* part, uint32_t frames = kFrames) {
  varnbitgen::BitOptions o;
  o.part = part;
  o.frames = frames;
  return varnbitgen::makeBit(o);
}
std::vector<uint8_t> makeRbf(const char* part, uint64_t bytes) {
  varnbitgen::RbfOptions o;
  o.part = part;
  o.sizeBytes = bytes;
  return varnbitgen::makeRbf(o);
}

class CoELoad : public ::testing::Test {
 protected:
  void SetUp() override { varn_bit_set_coe_status_pause_ms(20); }
  void TearDown() override {
    if (jtag) {
      _VNCoELink* link = jtag->coeLink;
      VARNJtagDestroy(jtag);
      VNCoELinkDestroy(link);
    }
    if (server) server->stop();
    varn_bit_set_coe_status_pause_ms(1000);
  }

  // Parts on the chain from the TDI side; part i on controller slot slots[i].
  void board(const char* address, std::vector<DeviceConfig> parts, std::vector<int> slots = {}) {
    for (size_t i = 0; i < parts.size(); ++i) {
      fillDefaultIdentity(parts[i], 100 + i);
      if (parts[i].part->vendor == Vendor::Xilinx)
        chain->add(std::make_unique<XilinxDevice>(parts[i], nullptr));
      else
        chain->add(std::make_unique<IntelDevice>(parts[i], nullptr));
      ControllerSlotConfig& slot = cfg.slots[slots.empty() ? i : static_cast<size_t>(slots[i])];
      slot.device = static_cast<int>(i);
      // The module's regulators answer the scan's ping, so a lone FPGA stays on slot A.
      slot.hasRegulators = true;
    }
    core = std::make_unique<CoreChain>(*chain);
    server = std::make_unique<ControllerServer>(address, VN_COE_PORT, *core, cfg);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_EQ(VARNJtagCreateCoE(address, 13500000, &jtag), 0);
    ASSERT_EQ(jtag->deviceCount, parts.size());
    if (!slots.empty())
      for (size_t i = 0; i < slots.size(); ++i) jtag->coeSlot[i] = static_cast<uint8_t>(slots[i]);
  }
  // Takes the board down so the next board() starts from nothing.
  void reset() {
    TearDown();
    jtag = nullptr;
    server.reset();
    core.reset();
    chain = std::make_unique<JtagChain>();
    cfg = ControllerConfig();
    varn_bit_set_coe_status_pause_ms(20);
  }
  static DeviceConfig part(const char* name) {
    DeviceConfig c;
    c.part = findPart(name);
    return c;
  }
  XilinxDevice& xilinx(size_t i) { return dynamic_cast<XilinxDevice&>(chain->device(i)); }
  IntelDevice& intel(size_t i) { return dynamic_cast<IntelDevice&>(chain->device(i)); }
  template <typename F>
  auto locked(F f) {
    return server->inspect([&](BoardController&) { return f(); });
  }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) { return dir.write(name, bytes); }

  std::unique_ptr<JtagChain> chain = std::make_unique<JtagChain>();
  std::unique_ptr<CoreChain> core;
  ControllerConfig cfg;
  std::unique_ptr<ControllerServer> server;
  VARNJtag* jtag = nullptr;
  bittest::TempDir dir;
  VARNProgressCell progress{-1.0};
};

TEST_F(CoELoad, AChainOfVu35pAndVu9pTakesItsStreams) {
  board("127.0.0.151", {part("VU35P"), part("VU9P")});
  const std::string vu9p = write("vu9p.bit", makeBit("VU9P"));
  const std::string vu35p = write("vu35p.bit", makeBit("VU35P"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 1, vu9p.c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, vu9p.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, vu35p.c_str()), 0);

  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 1, vu9p.c_str(), 0, &progress), 0);
  EXPECT_EQ(progress.load(), 100.0);
  EXPECT_EQ(log.count("Houseclean OK\n"), 1);
  EXPECT_EQ(log.count("Status byte was 192\n"), 1);
  locked([&] {
    EXPECT_TRUE(xilinx(1).done()) << xilinx(1).describe();
    for (int s = 0; s < 3; ++s) {
      EXPECT_TRUE(xilinx(1).configLogic(s).complete()) << "SLR " << s;
      EXPECT_EQ(xilinx(1).configLogic(s).fdriWords(), kFrames * 93u) << "SLR " << s;
    }
    EXPECT_FALSE(xilinx(0).done());
    return 0;
  });
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, vu35p.c_str(), 0, &progress), 0);
  locked([&] {
    EXPECT_TRUE(xilinx(0).done()) << xilinx(0).describe();
    EXPECT_TRUE(xilinx(1).done());
    return 0;
  });
  // Clearing leaves the device unconfigured; reloading from flash is only started.
  EXPECT_EQ(VARNJtagClearBitstream(jtag, 1), 0);
  locked([&] {
    EXPECT_FALSE(xilinx(1).done());
    EXPECT_TRUE(xilinx(0).done());
    return 0;
  });
  EXPECT_EQ(VARNJtagBootFromFlash(jtag, 0), 0);
}

TEST_F(CoELoad, WrongPartCutOffAndEncryptedStreamsDoNotConfigure) {
  board("127.0.0.152", {part("VU9P")});
  bittest::LogCapture log;
  const std::string wrong = write("vu35p.bit", makeBit("VU35P"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, wrong.c_str()), 7);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, wrong.c_str(), 0, &progress), 7);
  EXPECT_LT(progress.load(), 100.0);
  EXPECT_EQ(log.count("Status byte was 128\n"), 1);
  locked([&] {
    EXPECT_FALSE(xilinx(0).done());
    EXPECT_EQ(xilinx(0).configError(), CfgError::IdcodeMismatch);
    return 0;
  });

  const auto whole = makeBit("VU9P");
  const std::string truncated =
      write("cut.bit", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 2 / 3)));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, truncated.c_str()), 0);
  // Refused before housecleaning: the failed load's state is left as it was.
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, truncated.c_str(), 0, &progress), 6);
  EXPECT_EQ(log.count("not loaded, the device is left as it was\n"), 1);
  locked([&] {
    EXPECT_FALSE(xilinx(0).done());
    EXPECT_EQ(xilinx(0).configError(), CfgError::IdcodeMismatch);
    return 0;
  });

  varnbitgen::BitOptions enc;
  enc.part = "VU9P";
  enc.frames = kFrames;
  enc.encrypted = true;
  const std::string encrypted = write("enc.bit", varnbitgen::makeBit(enc));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, encrypted.c_str()), 0);
  EXPECT_EQ(log.count("Encrypted bit for 9p-\n"), 1);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, encrypted.c_str(), 0, &progress), 7);
  locked([&] {
    EXPECT_EQ(xilinx(0).configError(), CfgError::NoKey);
    return 0;
  });

  // The device that holds the stream's key takes it.
  locked([&] {
    xilinx(0).settings().aesKey = enc.key;
    for (int k = 0; k < 3; ++k) xilinx(0).configLogic(k).setKey(enc.key);
    return 0;
  });
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, encrypted.c_str(), 0, &progress), 0);
  locked([&] {
    EXPECT_TRUE(xilinx(0).done()) << xilinx(0).describe();
    return 0;
  });

  // After all that the good stream still loads.
  const std::string good = write("good.bit", whole);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, good.c_str(), 0, &progress), 0);
  locked([&] {
    EXPECT_TRUE(xilinx(0).done());
    return 0;
  });
}

TEST_F(CoELoad, DevicesOnSlotsTwoAndThreeAreAnswered) {
  // Four parts, the VU9P on slot 3: its status record lies beyond the first 32 bytes.
  board("127.0.0.153", {part("VU33P"), part("VU33P"), part("VU35P"), part("VU9P")}, {0, 1, 2, 3});
  const std::string vu9p = write("vu9p.bit", makeBit("VU9P"));
  const std::string vu35p = write("vu35p.bit", makeBit("VU35P"));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 3, vu9p.c_str(), 0, &progress), 0);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 2, vu35p.c_str(), 0, &progress), 0);
  EXPECT_EQ(log.count("Status byte was 192\n"), 2);
  locked([&] {
    EXPECT_TRUE(xilinx(3).done());
    EXPECT_TRUE(xilinx(2).done());
    EXPECT_FALSE(xilinx(0).done());
    return 0;
  });
}

TEST_F(CoELoad, BadInputIsReportedWithTheDeviceLeftAsItWas) {
  board("127.0.0.154", {part("VU9P")});
  const std::string good = write("good.bit", makeBit("VU9P"));
  ASSERT_EQ(VARNJtagLoadBitstream(jtag, 0, good.c_str(), 0, &progress), 0);
  const uint64_t programs = locked([&] { return xilinx(0).programs(); });

  // A missing file: 8, and the configured device is not touched (no houseclean).
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, dir.path("absent.bit").c_str(), 0, &progress), 8);
  locked([&] {
    EXPECT_TRUE(xilinx(0).done());
    EXPECT_EQ(xilinx(0).programs(), programs);
    return 0;
  });
  // Names that do not suit.
  const std::string rbf = write("x.rbf", makeRbf("GX2800-H", 4096));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, rbf.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, dir.path("design.txt").c_str()), 7);
  // An empty .bit identifies nothing, and loading it leaves the device cleared.
  const std::string empty = write("empty.bit", {});
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, empty.c_str()), 4);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, empty.c_str(), 0, &progress), 7);
  locked([&] {
    EXPECT_FALSE(xilinx(0).done());
    return 0;
  });
  // A header longer than 1024 bytes hides the identification.
  auto longHeader = bittest::bitHeader(std::string(1500, 'x'), "xcvu9p-flgb2104-2-i", 0);
  const auto body = makeBit("VU9P");
  longHeader.insert(longHeader.end(), body.begin(), body.end());
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, write("long.bit", longHeader).c_str()), 4);
}

TEST_F(CoELoad, AFileThatShrinksWhileLoadingIsReportedNotStarted) {
  board("127.0.0.155", {part("VU9P")});
  // About 450 KB: long enough to cut while it loads.
  const std::string path = write("shrink.bit", makeBit("VU9P", 400));
  std::atomic<bool> stop{false}, cut{false};
  std::thread cutter([&] {
    while (!stop) {
      if (progress.load() > 20.0 && progress.load() < 90.0) {
        cut = truncate(path.c_str(), 100000) == 0;
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
  EXPECT_LT(progress.load(), 100.0);
  locked([&] {
    EXPECT_FALSE(xilinx(0).done());
    return 0;
  });
}

// The Intel cases run with the Stratix 10 sharing its chain, so every CONFIG_IN chunk
// passes bypass registers on one side or both.
TEST_F(CoELoad, IntelGoodLoadThroughTheSdm) {
  // In the middle of the chain: a bypass bit on either side.
  board("127.0.0.156", {part("VU35P"), part("GX2800-H"), part("VU9P")});
  const std::string rbf = write("gx.rbf", makeRbf("GX2800-H", 300020));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 1, rbf.c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, 0, rbf.c_str()), 7);
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 1, rbf.c_str(), 0, &progress), 0);
  EXPECT_EQ(progress.load(), 100.0);
  EXPECT_EQ(log.count("Got Start Response: 0000000000000003 0000000000000000\n"), 1);
  EXPECT_EQ(log.count("Start was good!\n"), 1);
  EXPECT_EQ(log.count("Program Done!\n"), 1);
  EXPECT_EQ(log.count("Status Check:\n"), 1);
  EXPECT_EQ(log.count("initDone 1 confDone 1\n"), 1);
  locked([&] {
    EXPECT_TRUE(intel(1).configured());
    EXPECT_EQ(intel(1).sdm().stream().taken, 300000u + 20u);
    EXPECT_EQ(intel(1).rejectedChunks(), 0u);
    EXPECT_FALSE(xilinx(0).done());
    EXPECT_FALSE(xilinx(2).done());
    return 0;
  });
  // Not for Intel parts.
  EXPECT_EQ(VARNJtagClearBitstream(jtag, 1), 3);
  EXPECT_EQ(VARNJtagBootFromFlash(jtag, 1), 3);
  EXPECT_EQ(_VARNJtagPreload(jtag, 1), 3);
  // A Xilinx stream named .rbf is the Intel device's to judge: the SDM refuses it.
  const std::string bit = write("vu9p.rbf", makeBit("VU9P"));
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 1, bit.c_str(), 0, &progress), 7);
  EXPECT_EQ(log.count("Programming Failed!\n"), 1);
  EXPECT_LT(progress.load(), 100.0);
}

// A Stratix 10 that shares its chain takes its stream wherever it sits: behind a
// Xilinx part's bypass bit on either side, and as any one of two to four identical
// parts, each loaded in turn.
TEST_F(CoELoad, IntelDeviceOnEitherSideOfAXilinxPart) {
  const std::string rbf = write("gx.rbf", makeRbf("GX2800-H", 40020));
  const std::string bit = write("vu9p.bit", makeBit("VU9P"));
  const char* addresses[2] = {"127.0.0.160", "127.0.0.161"};
  for (int intelAt : {0, 1}) {
    SCOPED_TRACE("Intel at " + std::to_string(intelAt));
    const int xilinxAt = 1 - intelAt;
    if (intelAt == 0)
      board(addresses[intelAt], {part("GX2800-H"), part("VU9P")});
    else
      board(addresses[intelAt], {part("VU9P"), part("GX2800-H")});
    if (HasFatalFailure()) return;
    EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, intelAt, rbf.c_str()), 0);
    EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(jtag, xilinxAt, bit.c_str()), 0);
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, intelAt, rbf.c_str(), 0, &progress), 0);
    EXPECT_EQ(VARNJtagLoadBitstream(jtag, xilinxAt, bit.c_str(), 0, &progress), 0);
    locked([&] {
      EXPECT_TRUE(intel(static_cast<size_t>(intelAt)).configured());
      EXPECT_EQ(intel(static_cast<size_t>(intelAt)).sdm().stream().taken, 40020u);
      EXPECT_EQ(intel(static_cast<size_t>(intelAt)).rejectedChunks(), 0u);
      EXPECT_TRUE(xilinx(static_cast<size_t>(xilinxAt)).done()) << xilinx(static_cast<size_t>(xilinxAt)).describe();
      return 0;
    });
    reset();
  }
}

TEST_F(CoELoad, EveryOneOfSeveralStratix10TakesItsStream) {
  const std::string rbf = write("gx.rbf", makeRbf("GX2800-H", 20020));
  const char* addresses[3] = {"127.0.0.162", "127.0.0.163", "127.0.0.164"};
  for (size_t count = 2; count <= 4; ++count) {
    SCOPED_TRACE(std::to_string(count) + " devices");
    board(addresses[count - 2], std::vector<DeviceConfig>(count, part("GX2800-H")));
    if (HasFatalFailure()) return;
    for (size_t d = 0; d < count; ++d) {
      EXPECT_EQ(VARNJtagLoadBitstream(jtag, static_cast<uint8_t>(d), rbf.c_str(), 0, &progress), 0) << "device " << d;
      locked([&] {
        for (size_t k = 0; k < count; ++k) {
          // Only the devices loaded so far are configured, each with the whole stream.
          EXPECT_EQ(intel(k).configured(), k <= d) << "device " << k << " after loading " << d;
          EXPECT_EQ(intel(k).sdm().stream().taken, k <= d ? 20020u : 0u) << "device " << k;
          EXPECT_EQ(intel(k).rejectedChunks(), 0u) << "device " << k;
        }
        return 0;
      });
    }
    reset();
  }
}

// Index i is the same chip for the controller's IDCODE list, for reads and for loads:
// each part of a mixed chain answers with its own DNA and, once loaded, its own user
// code (sim_ftdi_test.cpp reads the same chain over FTDI).
TEST_F(CoELoad, IdentityAndLoadsOfAMixedChainGoToTheChipOfEachIndex) {
  std::vector<DeviceConfig> parts;
  for (const bittest::ChainPart& p : bittest::kMixedChain) {
    parts.push_back(part(p.part));
    std::string error;
    ASSERT_EQ(setDeviceOption(parts.back(), "dna", p.dna, &error), 1) << error;
  }
  board("127.0.0.165", parts);
  const std::string rbf = write("gx.rbf", makeRbf("GX2800-H", 20020));
  ASSERT_NO_FATAL_FAILURE(bittest::readAndLoadMixedChain(jtag, dir, kFrames, rbf, &progress));
  locked([&] {
    EXPECT_TRUE(xilinx(0).done());
    EXPECT_TRUE(intel(1).configured());
    EXPECT_TRUE(xilinx(2).done());
    return 0;
  });
}

TEST_F(CoELoad, IntelDeviceAlwaysBusyTimesOut) {
  DeviceConfig busy = part("GX2800-H");
  busy.sdmBusyPolls = -1;
  board("127.0.0.157", {busy, part("VU9P")});
  const std::string rbf = write("gx.rbf", makeRbf("GX2800-H", 8192));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 0, rbf.c_str(), 0, &progress), 9);
  EXPECT_EQ(log.count("Timed out\n"), 1);
  EXPECT_LT(progress.load(), 100.0);
  locked([&] {
    EXPECT_FALSE(intel(0).configured());
    EXPECT_EQ(intel(0).sdm().statusReads(), 6000u);
    return 0;
  });
}

TEST_F(CoELoad, IntelDeviceReportingFailure) {
  DeviceConfig failing = part("GX2800-H");
  failing.sdmFail = SdmFail::Program;
  board("127.0.0.158", {part("VU9P"), failing});
  const std::string rbf = write("gx.rbf", makeRbf("GX2800-H", 100000));
  bittest::LogCapture log;
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 1, rbf.c_str(), 0, &progress), 7);
  EXPECT_EQ(log.count("Programming Failed!\n"), 1);
  EXPECT_LT(progress.load(), 100.0);
  locked([&] {
    EXPECT_FALSE(intel(1).configured());
    // The first chunk went in before the failure showed.
    EXPECT_EQ(intel(1).sdm().chunks(), 1u);
    return 0;
  });
}

TEST_F(CoELoad, IntelDeviceRefusingTheStart) {
  DeviceConfig refusing = part("GX2800-H");
  refusing.sdmFail = SdmFail::Start;
  board("127.0.0.159", {part("GX2800-H"), refusing});
  bittest::LogCapture log;
  // The file (missing here) is never opened.
  EXPECT_EQ(VARNJtagLoadBitstream(jtag, 1, dir.path("absent.rbf").c_str(), 0, &progress), 7);
  EXPECT_EQ(log.count("Bad Start, not programming\n"), 1);
  EXPECT_EQ(log.count("cannot be opened"), 0);
}

}  // namespace
