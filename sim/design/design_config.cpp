#include "sim/design/design_config.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

#include "sim/common/option_values.h"

namespace varnsim {

namespace {



}  // namespace

const char* familyName(BoardFamily f) {
  switch (f) {
    case BoardFamily::LR: return "lr";
    case BoardFamily::ZK: return "zk";
    default: return "none";
  }
}

bool parseDesignOptions(const DesignOptions& options, DesignConfig* out, std::string* error) {
  DesignConfig c;
  using Setter = std::function<bool(const std::string&)>;
  auto u32 = [](uint32_t* dst, uint64_t lo, uint64_t hi) {
    return Setter([=](const std::string& v) {
      uint64_t x;
      if (!parseUnsignedOption(v, lo, hi, &x)) return false;
      *dst = static_cast<uint32_t>(x);
      return true;
    });
  };
  auto dbl = [](double* dst, double lo, double hi) {
    return Setter([=](const std::string& v) { return parseDoubleOption(v, lo, hi, dst); });
  };
  const std::map<std::string, Setter> setters = {
      {"uart", [&](const std::string& v) {
         if (v == "v1") c.uart = UartVersion::V1;
         else if (v == "v2") c.uart = UartVersion::V2;
         else return false;
         return true;
       }},
      {"app", [&](const std::string& v) {
         if (v == "echo") c.app = AppKind::Echo;
         else if (v == "console") c.app = AppKind::Console;
         else if (v == "axi") c.app = AppKind::Axi;
         else return false;
         return true;
       }},
      {"family", [&](const std::string& v) {
         if (v == "lr") c.family = BoardFamily::LR;
         else if (v == "zk") c.family = BoardFamily::ZK;
         else if (v == "none") c.family = BoardFamily::None;
         else return false;
         return true;
       }},
      {"fifo_in", u32(&c.fifoIn, 16, 1u << 20)},
      {"fifo_out", u32(&c.fifoOut, 16, 1u << 20)},
      {"name", [&](const std::string& v) {
         if (v.empty() || v.size() > 32) return false;
         for (char ch : v)
           if (ch < 0x21 || ch > 0x7E) return false;
         c.consoleName = v;
         return true;
       }},
      {"console_period_ms", u32(&c.consolePeriodMs, 0, 3600000)},
      {"irq_mask", [&](const std::string& v) {
         uint64_t x;
         if (!parseUnsignedOption(v, 0, 0xFF, &x)) return false;
         c.irqMask = static_cast<uint8_t>(x);
         return true;
       }},
      {"mem_limit_mib", u32(&c.memLimitMiB, 1, 65536)},
      {"i2c_khz", u32(&c.i2cKhz, 0, 5000)},
      {"cdma_mbps", u32(&c.cdmaMBps, 1, 100000)},
      {"cdma_latency_ns", u32(&c.cdmaLatencyNs, 0, 1000000000)},
      {"vccint", dbl(&c.railVolts[0], 0.3, 2.0)},
      {"vccbram", dbl(&c.railVolts[1], 0.3, 2.0)},
      {"vcchbm", dbl(&c.railVolts[2], 0.3, 2.0)},
      {"load_vccint", dbl(&c.railAmps[0], 0.0, 300.0)},
      {"load_vccbram", dbl(&c.railAmps[1], 0.0, 300.0)},
      {"load_vcchbm", dbl(&c.railAmps[2], 0.0, 300.0)},
      {"temp_vccint", dbl(&c.railTempC[0], -40.0, 125.0)},
      {"temp_vccbram", dbl(&c.railTempC[1], -40.0, 125.0)},
      {"temp_vcchbm", dbl(&c.railTempC[2], -40.0, 125.0)},
      {"input_v", dbl(&c.inputVolts, 0.0, 15.0)},
      {"vrm_id", [&](const std::string& v) {
         uint64_t x;
         if (!parseUnsignedOption(v, 0, 0xFFFF, &x)) return false;
         c.vrmModuleId = static_cast<uint16_t>(x);
         return true;
       }},
  };
  for (const auto& [key, value] : options) {
    auto it = setters.find(key);
    if (it == setters.end()) {
      if (error) *error = "unknown design option '" + key + "' (value '" + value + "')";
      return false;
    }
    if (!it->second(value)) {
      if (error) *error = "bad value '" + value + "' for design option '" + key + "'";
      return false;
    }
  }
  *out = c;
  return true;
}

}  // namespace varnsim
