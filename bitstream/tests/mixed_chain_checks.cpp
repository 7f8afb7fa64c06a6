#include "bitstream/tests/mixed_chain_checks.h"

#include <gtest/gtest.h>

#include <vector>

#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag_handle.h"
#include "tools/varn_bitgen/bitgen.h"

namespace bittest {

void readAndLoadMixedChain(VARNJtag* jtag, const TempDir& dir, uint32_t frames, const std::string& rbfPath,
                           VARNProgressCell* progress) {
  ASSERT_EQ(jtag->deviceType[0], JTAG_DEV_VU35P);
  ASSERT_EQ(jtag->deviceType[1], JTAG_DEV_GX2800H);
  ASSERT_EQ(jtag->deviceType[2], JTAG_DEV_VU9P);
  for (uint32_t d = 0; d < 3; ++d) {
    uint8_t dna[12] = {};
    ASSERT_EQ(VARNJtagGetDNA(jtag, d, dna), 0) << "device " << d;
    EXPECT_EQ(std::vector<uint8_t>(dna, dna + 12), expectedDna(kMixedChain[d])) << "device " << d;
  }
  for (uint32_t d : {2u, 0u}) {
    varnbitgen::BitOptions o;
    o.part = kMixedChain[d].part;
    o.frames = frames;
    o.usercodeGiven = true;
    o.usercode = kMixedChain[d].usercode;
    const std::string path = dir.write("u" + std::to_string(d) + ".bit", varnbitgen::makeBit(o));
    ASSERT_EQ(VARNJtagLoadBitstream(jtag, d, path.c_str(), 0, progress), 0) << "device " << d;
  }
  ASSERT_EQ(VARNJtagLoadBitstream(jtag, 1, rbfPath.c_str(), 0, progress), 0);
  for (uint32_t d : {0u, 2u}) {
    uint32_t code = 0;
    ASSERT_EQ(VARNJtagGetUserCode(jtag, d, &code), 0);
    EXPECT_EQ(code, kMixedChain[d].usercode) << "device " << d;
  }
}

}  // namespace bittest
