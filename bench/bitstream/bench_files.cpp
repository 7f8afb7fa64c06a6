#include "bench/bitstream/bench_files.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace benchfiles {

namespace {
std::string tempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + name + "_" + std::to_string(getpid());
}
}  // namespace

ScratchFile::ScratchFile(uint32_t mib) : path_(tempPath("varn_bench") + ".bit") {
  std::FILE* f = std::fopen(path_.c_str(), "wb");
  if (!f) std::abort();
  std::vector<uint8_t> block(1 << 20);
  uint32_t x = 0x12345678;
  for (uint32_t m = 0; m < mib; ++m) {
    for (auto& b : block) {
      x = x * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(x >> 24);
    }
    std::fwrite(block.data(), 1, block.size(), f);
  }
  std::fclose(f);
}

ScratchFile::ScratchFile(const std::string& name, const std::vector<uint8_t>& bytes) : path_(tempPath(name)) {
  std::FILE* f = std::fopen(path_.c_str(), "wb");
  if (!f) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

ScratchFile::~ScratchFile() { std::remove(path_.c_str()); }

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long peakRssKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace benchfiles
