// varn_bitgen: writes test bitstreams for the simulated boards.
//
//   varn_bitgen [options] -o FILE
//     --part P          VU33P, VU35P, VU9P (default), VU13P; or GX2800-H, GX2800-L, MX2100 with --rbf
//     --size N          file size in bytes (suffix K or M for KiB, MiB)
//     --frames N        frames per SLR (.bit; overrides --size)
//     --idcode X        write this IDCODE instead of the part's (a stream for the wrong part)
//     --truncate N      cut the file after N bytes
//     --encrypt         encrypted-style .bit (ENCRYPT=YES header, no readable IDCODE packet)
//     --key X           key of an encrypted stream (the device's aes_key)
//     --corrupt         flip one data bit after the checksum was computed
//     --no-crc          leave out the CRC checks (.bit)
//     --usercode X      USR_ACCESS word the configured device reports (.bit)
//     --seed N          data generator seed
//     --rbf             write a Stratix 10 .rbf instead of a .bit
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/varn_bitgen/bitgen.h"

namespace {

bool number(const char* text, uint64_t max, uint64_t* out) {
  if (!text || !*text || *text == '-') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  uint64_t scale = 1;
  if (*end == 'K' || *end == 'k') scale = 1024, ++end;
  else if (*end == 'M' || *end == 'm') scale = 1024 * 1024, ++end;
  if (errno || *end || v > max / scale) return false;
  *out = v * scale;
  return true;
}

int usage(const char* why) {
  if (why) std::fprintf(stderr, "varn_bitgen: %s\n", why);
  std::fprintf(stderr,
               "usage: varn_bitgen [--part P] [--size N[K|M]] [--frames N] [--idcode X] [--truncate N]\n"
               "                   [--encrypt] [--key X] [--corrupt] [--no-crc] [--usercode X] [--seed N]\n"
               "                   [--rbf] -o FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  varnbitgen::BitOptions bit;
  varnbitgen::RbfOptions rbf;
  bool isRbf = false, partGiven = false;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    uint64_t n = 0;
    auto need = [&](uint64_t max) {
      if (!number(v, max, &n)) {
        std::fprintf(stderr, "varn_bitgen: bad value '%s' for %s\n", v ? v : "", a.c_str());
        std::exit(2);
      }
      ++i;
    };
    if (a == "--part" && v) {
      bit.part = rbf.part = v;
      partGiven = true;
      ++i;
    } else if (a == "--size") {
      need(~0ull);
      bit.sizeBytes = rbf.sizeBytes = n;
    } else if (a == "--frames") {
      need(0x7FFFFFFF);
      bit.frames = static_cast<uint32_t>(n);
    } else if (a == "--idcode") {
      need(0xFFFFFFFF);
      bit.idcode = rbf.idcode = static_cast<uint32_t>(n);
    } else if (a == "--truncate") {
      need(~0ull);
      if (!n) return usage("--truncate needs a non-zero length");
      bit.truncateTo = rbf.truncateTo = n;
    } else if (a == "--encrypt") {
      bit.encrypted = true;
    } else if (a == "--key") {
      need(0xFFFFFFFF);
      if (!n) return usage("--key must not be 0");
      bit.key = static_cast<uint32_t>(n);
    } else if (a == "--corrupt") {
      bit.corrupt = rbf.corrupt = true;
    } else if (a == "--no-crc") {
      bit.writeCrc = false;
    } else if (a == "--usercode") {
      need(0xFFFFFFFF);
      bit.usercodeGiven = true;
      bit.usercode = static_cast<uint32_t>(n);
    } else if (a == "--seed") {
      need(0xFFFFFFFF);
      bit.seed = rbf.seed = static_cast<uint32_t>(n);
    } else if (a == "--rbf") {
      isRbf = true;
    } else if ((a == "-o" || a == "--output") && v) {
      out = v;
      ++i;
    } else if (a == "-h" || a == "--help") {
      usage(nullptr);
      return 0;
    } else {
      return usage(("unknown or incomplete option '" + a + "'").c_str());
    }
  }
  if (out.empty()) return usage("no output file (-o FILE)");
  if (isRbf && !partGiven) rbf.part = "GX2800-H";
  std::string error;
  bool ok = isRbf ? varnbitgen::writeRbfFile(rbf, out, &error) : varnbitgen::writeBitFile(bit, out, &error);
  if (!ok) {
    std::fprintf(stderr, "varn_bitgen: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
