// The body of the bitstream-file fuzzer, shared with a replay test: the input is the
// content of a .bit file, checked for a VU9P (the identification near its start) and
// loaded into one over a recording TAP (the .bit header's declared length). What must
// hold, read off the input independently of the program's own readers:
// - a file whose first 1024 bytes hold no whole IDCODE packet and no whole encryption
//   marker with its "xcvu" part is refused as unidentified (4); one that is accepted
//   carries the VU9P's IDCODE or part there;
// - choosing from a list with a missing file first picks this file exactly when it
//   validates;
// - a file whose header declares more configuration data than it holds is refused
//   before the device is touched (6); any other file reaches the configuration register
//   whole, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "bitstream/bitstream_internal.h"
#include "bitstream/tests/fake_tap.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"

namespace bitfuzz {

constexpr uint32_t kVU9P = 0x04B31093;

// The file every input is written to, in a folder of this process's own.
class Scratch {
 public:
  Scratch() {
    std::random_device seed;
    std::mt19937_64 pick(seed());
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const auto d = std::filesystem::temp_directory_path() / ("varn_bit_fuzz_" + std::to_string(pick() % 1000000000));
      std::error_code ec;
      if (std::filesystem::create_directory(d, ec) && !ec) dir_ = d.string();
    }
    file_ = dir_ + "/input.bit";
    list_ = dir_ + "/missing.bit," + file_;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool write(const uint8_t* data, size_t size) const {
    if (dir_.empty()) return false;
    std::FILE* f = std::fopen(file_.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
  }
  const char* file() const { return file_.c_str(); }
  const char* list() const { return list_.c_str(); }

 private:
  std::string dir_, file_, list_;
};

inline bool at(const uint8_t* d, size_t n, size_t i, const void* what, size_t len) {
  return i + len <= n && std::memcmp(d + i, what, len) == 0;
}

// Whole identifications within the first 1024 bytes: an IDCODE packet with its word,
// or the encryption marker followed by "xcvu" and three characters. `vu9p` tells
// whether one of them names the VU9P.
inline bool identifications(const uint8_t* d, size_t size, bool* vu9p) {
  const size_t n = size < 1024 ? size : 1024;
  static const uint8_t packet[4] = {0x30, 0x01, 0x80, 0x01};
  bool any = false;
  *vu9p = false;
  for (size_t i = 0; i + 8 <= n; ++i) {
    if (!at(d, n, i, packet, 4)) continue;
    any = true;
    const uint32_t id = uint32_t(d[i + 4]) << 24 | uint32_t(d[i + 5]) << 16 | uint32_t(d[i + 6]) << 8 | d[i + 7];
    if (((id ^ kVU9P) & 0x0FFFFFFFu) == 0) *vu9p = true;
  }
  for (size_t i = 0; i < n; ++i) {
    if (!at(d, n, i, "ENCRYPT=Y", 9)) continue;
    for (size_t k = i + 9; k + 7 <= n; ++k) {
      if (!at(d, n, k, "xcvu", 4)) continue;
      any = true;
      if (d[k + 4] == '9' && d[k + 5] == 'p') *vu9p = true;
    }
  }
  return any;
}

// The .bit header: a 2-byte length 9 with its 9 bytes, a 2-byte 1, fields 'a' to 'd'
// (key, 2-byte big-endian length, text), then 'e' with the 4-byte length of the data.
// True with the data's end when the header is whole; false for a file without one.
inline bool declaredEnd(const uint8_t* d, size_t n, uint64_t* end) {
  auto be16 = [&](size_t i) { return uint32_t(d[i]) << 8 | d[i + 1]; };
  if (n < 13 || be16(0) != 9 || be16(11) != 1) return false;
  for (size_t i = 13; i < n;) {
    const uint8_t key = d[i];
    if (key == 'e') {
      if (i + 5 > n) return false;
      *end = i + 5 + (uint64_t(d[i + 1]) << 24 | uint64_t(d[i + 2]) << 16 | uint64_t(d[i + 3]) << 8 | d[i + 4]);
      return true;
    }
    if (key < 'a' || key > 'd' || i + 3 > n) return false;
    i += 3 + be16(i + 1);
  }
  return false;
}

struct Result {
  bool consistent = true;
  int validation = -1;
  int load = -1;
};

inline Result fuzzOne(const uint8_t* data, size_t size) {
  static Scratch scratch;
  Result result;
  if (!scratch.write(data, size)) return {false, -1, -1};
  faketap::reset();
  VARNJtag vu9p = faketap::makeHandle({JTAG_DEV_VU9P}, false);
  bool names9p = false;
  const bool identified = identifications(data, size, &names9p);
  result.validation = VARNJtagBitstreamIsValidForDevice(&vu9p, 0, scratch.file());
  const int v = result.validation;
  if (v != VARN_BIT_OK && v != VARN_BIT_BAD_INDEX && v != VARN_BIT_MISMATCH) result.consistent = false;
  if (!identified && v != VARN_BIT_BAD_INDEX) result.consistent = false;
  if (v == VARN_BIT_OK && !names9p) result.consistent = false;
  char chosen[4096];
  const int c = VARNBitstreamChooseFile(&vu9p, 0, scratch.list(), chosen, sizeof chosen);
  if ((c == VARN_BIT_OK) != (v == VARN_BIT_OK) || (c == VARN_BIT_OK && std::strcmp(chosen, scratch.file()) != 0))
    result.consistent = false;

  faketap::reset();
  faketap::state().cfgInstr = JTAG_I_MAP[JTAG_DEV_VU9P][JTAG_I_CFG_IN];
  result.load = VARNJtagLoadBitstream(&vu9p, 0, scratch.file(), 1, nullptr);
  uint64_t end = 0;
  if (declaredEnd(data, size, &end) && end > size) {
    if (result.load != VARN_BIT_MISREAD || !faketap::state().ops.empty()) result.consistent = false;
  } else {
    const auto& cfg = faketap::state().cfgData;
    if (cfg.size() != size || (size > 0 && std::memcmp(cfg.data(), data, size) != 0)) result.consistent = false;
  }
  return result;
}

}  // namespace bitfuzz
