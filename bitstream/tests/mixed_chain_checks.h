// The same checks of bittest::kMixedChain over every transport: index i must reach the
// same chip for reads and for loads.
#pragma once

#include <string>

#include "bitstream/tests/test_files.h"
#include "jtag/varn_jtag.h"

namespace bittest {

// Reads each device's DNA, loads the two Xilinx parts from generated .bit files of
// `frames` frames (written into `dir`) and the Intel part from `rbfPath`, and checks
// the user code each Xilinx part reads back. Use under ASSERT_NO_FATAL_FAILURE.
void readAndLoadMixedChain(VARNJtag* jtag, const TempDir& dir, uint32_t frames, const std::string& rbfPath,
                           VARNProgressCell* progress);

}  // namespace bittest
