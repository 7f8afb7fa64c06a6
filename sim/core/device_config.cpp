#include "sim/core/device_config.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "sim/common/option_values.h"

namespace varnsim {

namespace {

std::vector<std::string> splitList(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t c = s.find(',', start);
    out.push_back(s.substr(start, c == std::string::npos ? std::string::npos : c - start));
    if (c == std::string::npos) break;
    start = c + 1;
  }
  return out;
}



bool parseBool(const std::string& s, bool* out) {
  if (s == "1" || s == "yes" || s == "true" || s == "on") return *out = true, true;
  if (s == "0" || s == "no" || s == "false" || s == "off") return *out = false, true;
  return false;
}

// One value for every SLR, or a comma list with one per SLR.
bool perSlr(const std::string& v, double lo, double hi, double* dst) {
  auto parts = splitList(v);
  if (parts.size() > 4) return false;
  double vals[4];
  for (size_t i = 0; i < parts.size(); ++i)
    if (!parseDoubleOption(parts[i], lo, hi, &vals[i])) return false;
  // A short list repeats its last value for the remaining SLRs.
  for (size_t i = 0; i < 4; ++i) dst[i] = vals[i < parts.size() ? i : parts.size() - 1];
  return true;
}

uint64_t splitmix(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

bool parseHexWords(const std::string& text, uint32_t* words, int nWords) {
  std::string t = text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > static_cast<size_t>(nWords) * 8) return false;
  for (int i = 0; i < nWords; ++i) words[i] = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[t.size() - 1 - i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    words[i / 8] |= static_cast<uint32_t>(d) << (4 * (i % 8));
  }
  return true;
}

int setDeviceOption(DeviceConfig& c, const std::string& key, const std::string& v, std::string* error) {
  auto bad = [&](const char* what) {
    if (error) *error = "bad value '" + v + "' for device option '" + key + "' (" + what + ")";
    return -1;
  };
  uint64_t u;
  if (key == "version") {
    if (!parseUnsignedOption(v, 0, 15, &u)) return bad("0..15");
    c.version = static_cast<uint32_t>(u);
  } else if (key == "dna") {
    auto parts = splitList(v);
    if (parts.size() > 4) return bad("at most one per SLR");
    for (size_t i = 0; i < parts.size(); ++i) {
      if (!parseHexWords(parts[i], c.dna[i].w, 3)) return bad("up to 24 hex digits per SLR");
      c.dnaGiven[i] = true;
    }
  } else if (key == "fuse") {
    if (!parseUnsignedOption(v, 0, 0xFFFFFFFFull, &u)) return bad("32-bit number");
    c.fuseUser = static_cast<uint32_t>(u);
  } else if (key == "fuse128") {
    uint32_t w[4];
    if (!parseHexWords(v, w, 4)) return bad("up to 32 hex digits");
    c.fuse128[0] = w[0] | (uint64_t{w[1]} << 32);
    c.fuse128[1] = w[2] | (uint64_t{w[3]} << 32);
  } else if (key == "usercode") {
    if (!parseUnsignedOption(v, 0, 0xFFFFFFFFull, &u)) return bad("32-bit number");
    c.usercode = static_cast<uint32_t>(u);
  } else if (key == "slr_temp") {
    if (!perSlr(v, -60, 150, c.temp)) return bad("degrees C, one or one per SLR");
  } else if (key == "slr_vccint") {
    if (!perSlr(v, 0, 2.9, c.vccint)) return bad("volts, one or one per SLR");
  } else if (key == "slr_vccaux") {
    if (!perSlr(v, 0, 2.9, c.vccaux)) return bad("volts, one or one per SLR");
  } else if (key == "slr_vccbram") {
    if (!perSlr(v, 0, 2.9, c.vccbram)) return bad("volts, one or one per SLR");
  } else if (key == "slr_vccpt") {
    if (!parseDoubleOption(v, 0, 2.9, &c.vccpt)) return bad("volts");
  } else if (key == "preconfigured") {
    if (!parseBool(v, &c.preconfigured)) return bad("yes or no");
  } else if (key == "houseclean") {
    if (!parseUnsignedOption(v, 0, 1ull << 40, &c.housecleanTcks)) return bad("TCK count");
  } else if (key == "startup") {
    if (!parseUnsignedOption(v, 0, 1ull << 40, &c.startupTcks)) return bad("TCK count");
  } else if (key == "aes_key") {
    if (!parseUnsignedOption(v, 1, 0xFFFFFFFFull, &u)) return bad("non-zero 32-bit number");
    c.aesKey = static_cast<uint32_t>(u);
  } else if (key == "carrier") {
    if (!parseUnsignedOption(v, 0, 3, &u)) return bad("0..3");
    c.carrier = static_cast<int>(u);
  } else if (key == "slot") {
    if (!parseUnsignedOption(v, 0, 3, &u)) return bad("0..3");
    c.slot = static_cast<int>(u);
  } else if (key == "leds") {
    // Seven characters R G B A B C D in that order; '-' (or '0') is an LED that is off.
    if (v.size() != 7) return bad("7 characters like RGBABCD, '-' for off");
    uint8_t bits = 0;
    for (int i = 0; i < 7; ++i)
      if (v[i] != '-' && v[i] != '0') bits |= static_cast<uint8_t>(0x40 >> i);
    c.leds = bits;
  } else if (key == "sdm_busy") {
    if (v == "always") {
      c.sdmBusyPolls = -1;
    } else {
      if (!parseUnsignedOption(v, 0, 1000000, &u)) return bad("poll count or 'always'");
      c.sdmBusyPolls = static_cast<int>(u);
    }
  } else if (key == "sdm_fail") {
    if (v == "none") c.sdmFail = SdmFail::None;
    else if (v == "program") c.sdmFail = SdmFail::Program;
    else if (v == "start") c.sdmFail = SdmFail::Start;
    else return bad("none, program or start");
  } else if (key == "sdm_delay") {
    if (!parseUnsignedOption(v, 0, 1000, &u)) return bad("poll count");
    c.sdmDelayPolls = static_cast<int>(u);
  } else if (key == "msel") {
    if (!parseUnsignedOption(v, 0, 7, &u)) return bad("0..7");
    c.msel = static_cast<int>(u);
  } else if (key.find('.') != std::string::npos) {
    c.extra[key] = v;
  } else {
    return 0;
  }
  return 1;
}

void fillDefaultIdentity(DeviceConfig& c, uint64_t seed) {
  uint64_t x = seed;
  for (int s = 0; s < 4; ++s) {
    if (c.dnaGiven[s]) continue;
    uint64_t a = splitmix(x), b = splitmix(x);
    c.dna[s].w[0] = (static_cast<uint32_t>(a) & ~3u) | 1u;             // DNA[1:0] = 01
    c.dna[s].w[1] = static_cast<uint32_t>(a >> 32);
    c.dna[s].w[2] = (static_cast<uint32_t>(b) & 0x3FFFFFFFu) | 0x40000000u;  // DNA[95:94] = 01
  }
}

}  // namespace varnsim
