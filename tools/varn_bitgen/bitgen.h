// Test bitstreams for the simulated FPGAs: realistic UltraScale+ .bit files (header
// fields a-e, dummy and bus-width words, sync, the usual packet sequence with the
// IDCODE write, frame data, CRC checks, START and DESYNC, one section per SLR with the
// downstream sections forwarded through register 0x1E), encrypted-style variants, and
// .rbf files in the simulator's SDM container (sim/core/rbf_format.h). Any size; the
// output is produced piece by piece, so a large file never sits in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnbitgen {

using Sink = std::function<void(const uint8_t* data, size_t n)>;

struct BitOptions {
  std::string part = "VU9P";
  uint64_t sizeBytes = 0;       // whole file, approximately (rounded to whole words); 0: smallest
  uint32_t frames = 0;          // frames per SLR; overrides sizeBytes when non-zero
  uint32_t idcode = 0;          // non-zero: write this IDCODE for SLR 0 instead of the part's
  uint64_t truncateTo = 0;      // non-zero: cut the file after this many bytes
  bool encrypted = false;       // "ENCRYPT=YES" header, key-stream encrypted body
  uint32_t key = 0x5EC0DE01;    // key of an encrypted stream (the device's aes_key)
  bool corrupt = false;         // one frame bit flipped after the CRC was computed
  bool writeCrc = true;         // CRC register checks after the frames and at the end
  bool usercodeGiven = false;   // write `usercode` to the AXSS register
  uint32_t usercode = 0;
  uint32_t seed = 1;            // frame data generator
  std::string design = "varn_test";
  std::string date = "2024/01/01";
  std::string time = "00:00:00";
};

struct RbfOptions {
  std::string part = "GX2800-H";
  uint64_t sizeBytes = 4096;  // whole file (rounded up to a multiple of 4, at least 20)
  uint32_t idcode = 0;        // non-zero: this IDCODE in the container header
  uint64_t truncateTo = 0;
  bool corrupt = false;       // a payload bit flipped after the CRC was computed
  uint32_t seed = 1;
};

bool writeBit(const BitOptions& o, const Sink& sink, std::string* error);
bool writeRbf(const RbfOptions& o, const Sink& sink, std::string* error);

std::vector<uint8_t> makeBit(const BitOptions& o, std::string* error = nullptr);
std::vector<uint8_t> makeRbf(const RbfOptions& o, std::string* error = nullptr);

bool writeBitFile(const BitOptions& o, const std::string& path, std::string* error);
bool writeRbfFile(const RbfOptions& o, const std::string& path, std::string* error);

// Offset of the configuration stream (the 'e' field data) in a .bit made with `o`.
size_t bitHeaderLength(const BitOptions& o);

}  // namespace varnbitgen
