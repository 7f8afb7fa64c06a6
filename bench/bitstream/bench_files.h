// Shared by the bitstream benchmarks: a scratch bitstream file of a given size, and
// process CPU time and peak resident size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace benchfiles {

// A file of mib MiB under the temporary directory, removed on destruction. Its bytes
// are what the writer gives (default: a .bit-shaped header and a pseudo-random body).
class ScratchFile {
 public:
  explicit ScratchFile(uint32_t mib);
  ScratchFile(const std::string& name, const std::vector<uint8_t>& bytes);
  ~ScratchFile();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

double processCpuSeconds();
long peakRssKiB();

}  // namespace benchfiles
