// Reading the values of the simulator's key=value options (board descriptions, device
// and design options, tool flags): strict, range-checked, no partial numbers.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace varnsim {

// Decimal, 0x hex or 0 octal; refuses signs, trailing text and values outside [lo, hi].
inline bool parseUnsignedOption(const std::string& s, uint64_t lo, uint64_t hi, uint64_t* out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

inline bool parseDoubleOption(const std::string& s, double lo, double hi, double* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (errno || *end || !std::isfinite(v) || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace varnsim
