// Bitstream files in the formats the simulated parts take: a .bit with one section per
// SLR (the master forwarding the others), and the simulator's .rbf container. Built
// from the published packet facts so the tests can make wrong-part, cut-off and
// encrypted-style variants of exactly the size they want.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/parts.h"

namespace simfiles {

struct BitOptions {
  uint32_t framesPerSlr = 40;
  bool encryptedHeader = false;  // "ENCRYPT=YES" in the header, stream scrambled after the sync
  size_t truncateTo = 0;         // >0: the file is cut to this many bytes
};

std::vector<uint8_t> xilinxBit(const varnsim::PartInfo& part, const BitOptions& opt = {});
// The .rbf for an Intel part (length a multiple of 4; the CRC closes it).
std::vector<uint8_t> intelRbf(const varnsim::PartInfo& part, uint32_t dataBytes);

}  // namespace simfiles
