#include "tools/varn_mgmt/mgmt_format.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "jtag/jtag_tables.h"

namespace varnmgmt {

namespace {

std::string fpgaLetter(size_t d) { return std::string(1, static_cast<char>('A' + d)); }

std::string format(const char* fmt, double v) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, v);
  return text;
}

// Label values escaped as the exposition format wants (backslash, quote, newline).
std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// The part of telemetry record d of board b, from the device list when it matches.
std::string partOf(const Frame* devices, size_t b, size_t d, const uint8_t dna[12]) {
  if (devices == nullptr || b >= devices->devices.size() || d >= devices->devices[b].size()) return "unknown";
  const DeviceRecord& r = devices->devices[b][d];
  if (std::memcmp(r.dna, dna, 12) != 0) return "unknown";
  return partName(r.idcode);
}

}  // namespace

std::string partName(uint32_t idcode) {
  const int32_t row = jtag_classify_idcode(idcode);
  return row >= 0 && row < JTAG_DEVICE_ROWS ? JTAG_DECODE_STR[row] : "unknown";
}

std::string deviceTable(const Frame& f) {
  std::ostringstream out;
  char line[256];
  std::snprintf(line, sizeof line, "%-5s %-4s %-8s %-24s %-16s %-22s %-5s %10s %10s %s\n", "BOARD", "FPGA", "PART",
                "DNA", "SERIAL", "STATE", "PORT", "TX", "RX", "BITSTREAM");
  out << line;
  for (size_t b = 0; b < f.devices.size(); ++b) {
    for (size_t d = 0; d < f.devices[b].size(); ++d) {
      const DeviceRecord& r = f.devices[b][d];
      std::snprintf(line, sizeof line, "%-5zu %-4s %-8s %-24s %-16s %-22s %-5u %10u %10u %s\n", b,
                    fpgaLetter(d).c_str(), partName(r.idcode).c_str(), dnaHex(r.dna).c_str(), r.serial.c_str(),
                    stateName(r.state).c_str(), r.port, r.txBytes, r.rxBytes, r.bitstream.c_str());
      out << line;
    }
  }
  return out.str();
}

std::string telemetryTable(const Frame& f, const Frame* devices) {
  std::ostringstream out;
  char line[256];
  std::snprintf(line, sizeof line, "%-5s %-4s %-8s %-24s %-16s %-3s %9s %9s\n", "BOARD", "FPGA", "PART", "DNA",
                "SERIAL", "SLR", "TEMP_C", "VCCINT_V");
  out << line;
  for (size_t b = 0; b < f.telemetry.size(); ++b) {
    for (size_t d = 0; d < f.telemetry[b].size(); ++d) {
      const TelemetryRecord& r = f.telemetry[b][d];
      const std::string part = partOf(devices, b, d, r.dna);
      if (r.slrs.empty()) {
        std::snprintf(line, sizeof line, "%-5zu %-4s %-8s %-24s %-16s %-3s %9s %9s\n", b, fpgaLetter(d).c_str(),
                      part.c_str(), dnaHex(r.dna).c_str(), r.serial.c_str(), "-", "-", "-");
        out << line;
      }
      for (size_t k = 0; k < r.slrs.size(); ++k) {
        std::snprintf(line, sizeof line, "%-5zu %-4s %-8s %-24s %-16s %-3zu %9.2f %9.3f\n", b, fpgaLetter(d).c_str(),
                      part.c_str(), dnaHex(r.dna).c_str(), r.serial.c_str(), k, r.slrs[k].celsius,
                      r.slrs[k].vccint);
        out << line;
      }
    }
  }
  return out.str();
}

nlohmann::json devicesJson(const Frame& f) {
  nlohmann::json list = nlohmann::json::array();
  for (size_t b = 0; b < f.devices.size(); ++b) {
    for (size_t d = 0; d < f.devices[b].size(); ++d) {
      const DeviceRecord& r = f.devices[b][d];
      list.push_back({{"board", b},
                      {"fpga", fpgaLetter(d)},
                      {"part", partName(r.idcode)},
                      {"idcode", r.idcode},
                      {"dna", dnaHex(r.dna)},
                      {"serial", r.serial},
                      {"state", r.state},
                      {"state_name", stateName(r.state)},
                      {"port", r.port},
                      {"tx_bytes", r.txBytes},
                      {"rx_bytes", r.rxBytes},
                      {"bitstream", r.bitstream}});
    }
  }
  return {{"schema_version", kJsonSchemaVersion}, {"boards", f.devices.size()}, {"devices", list}};
}

nlohmann::json telemetryJson(const Frame& f, const Frame* devices) {
  nlohmann::json list = nlohmann::json::array();
  for (size_t b = 0; b < f.telemetry.size(); ++b) {
    for (size_t d = 0; d < f.telemetry[b].size(); ++d) {
      const TelemetryRecord& r = f.telemetry[b][d];
      nlohmann::json slrs = nlohmann::json::array();
      for (size_t k = 0; k < r.slrs.size(); ++k)
        slrs.push_back({{"slr", k}, {"temperature_celsius", r.slrs[k].celsius}, {"vccint_volts", r.slrs[k].vccint}});
      list.push_back({{"board", b},
                      {"fpga", fpgaLetter(d)},
                      {"part", partOf(devices, b, d, r.dna)},
                      {"dna", dnaHex(r.dna)},
                      {"serial", r.serial},
                      {"slrs", slrs}});
    }
  }
  return {{"schema_version", kJsonSchemaVersion}, {"boards", f.telemetry.size()}, {"devices", list}};
}

std::string prometheusText(const ExporterView& v) {
  std::ostringstream out;
  out << "# HELP varn_management_up Whether the exporter holds a management connection to the bridge.\n"
      << "# TYPE varn_management_up gauge\n"
      << "varn_management_up " << (v.connected ? 1 : 0) << "\n";
  out << "# HELP varn_last_frame_age_seconds Age of the latest frame of each kind (absent before the first).\n"
      << "# TYPE varn_last_frame_age_seconds gauge\n";
  if (v.devicesAgeSeconds >= 0)
    out << "varn_last_frame_age_seconds{frame=\"devices\"} " << format("%.3f", v.devicesAgeSeconds) << "\n";
  if (v.telemetryAgeSeconds >= 0)
    out << "varn_last_frame_age_seconds{frame=\"telemetry\"} " << format("%.3f", v.telemetryAgeSeconds) << "\n";

  auto labels = [](size_t b, size_t d, const uint8_t dna[12], const std::string& serial, const std::string& part) {
    return "board=\"" + std::to_string(b) + "\",fpga=\"" + fpgaLetter(d) + "\",dna=\"" + dnaHex(dna) +
           "\",serial=\"" + escape(serial) + "\",part=\"" + escape(part) + "\"";
  };
  if (v.devices != nullptr) {
    std::ostringstream state, tx, rx;
    for (size_t b = 0; b < v.devices->devices.size(); ++b) {
      for (size_t d = 0; d < v.devices->devices[b].size(); ++d) {
        const DeviceRecord& r = v.devices->devices[b][d];
        const std::string l = labels(b, d, r.dna, r.serial, partName(r.idcode));
        state << "varn_fpga_state{" << l << "} " << static_cast<int>(r.state) << "\n";
        tx << "varn_fpga_tx_bytes_total{" << l << "} " << r.txBytes << "\n";
        rx << "varn_fpga_rx_bytes_total{" << l << "} " << r.rxBytes << "\n";
      }
    }
    out << "# HELP varn_fpga_state Load state bits: 1 waiting, 2 programming, 4 loaded, 8 no valid bitstream, 16 "
           "load failed.\n"
        << "# TYPE varn_fpga_state gauge\n"
        << state.str()
        << "# HELP varn_fpga_tx_bytes_total Bytes from the FPGA's serial channel to its TCP client.\n"
        << "# TYPE varn_fpga_tx_bytes_total counter\n"
        << tx.str()
        << "# HELP varn_fpga_rx_bytes_total Bytes from the TCP client to the FPGA's serial channel.\n"
        << "# TYPE varn_fpga_rx_bytes_total counter\n"
        << rx.str();
  }
  if (v.telemetry != nullptr) {
    std::ostringstream temp, volts;
    for (size_t b = 0; b < v.telemetry->telemetry.size(); ++b) {
      for (size_t d = 0; d < v.telemetry->telemetry[b].size(); ++d) {
        const TelemetryRecord& r = v.telemetry->telemetry[b][d];
        const std::string l = labels(b, d, r.dna, r.serial, partOf(v.devices, b, d, r.dna));
        for (size_t k = 0; k < r.slrs.size(); ++k) {
          temp << "varn_fpga_temperature_celsius{" << l << ",slr=\"" << k << "\"} "
               << format("%.3f", r.slrs[k].celsius) << "\n";
          volts << "varn_fpga_vccint_volts{" << l << ",slr=\"" << k << "\"} " << format("%.4f", r.slrs[k].vccint)
                << "\n";
        }
      }
    }
    out << "# HELP varn_fpga_temperature_celsius Die temperature of each SLR.\n"
        << "# TYPE varn_fpga_temperature_celsius gauge\n"
        << temp.str()
        << "# HELP varn_fpga_vccint_volts VCCINT of each SLR.\n"
        << "# TYPE varn_fpga_vccint_volts gauge\n"
        << volts.str();
  }
  return out.str();
}

}  // namespace varnmgmt
