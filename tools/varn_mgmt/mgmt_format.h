// What varn_mgmt prints: the frames as tables, as JSON, and as Prometheus metrics.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tools/varn_mgmt/mgmt_frame.h"

namespace varnmgmt {

// Raised when the JSON output changes in a way a consumer would notice.
constexpr int kJsonSchemaVersion = 1;

// The part's name from its IDCODE ("VU9P"), or "unknown".
std::string partName(uint32_t idcode);

std::string deviceTable(const Frame& devices);
// The device list, when given, names the part of each telemetry record.
std::string telemetryTable(const Frame& telemetry, const Frame* devices);
nlohmann::json devicesJson(const Frame& devices);
nlohmann::json telemetryJson(const Frame& telemetry, const Frame* devices);

// The Prometheus text exposition of the latest frames (either may be null).
struct ExporterView {
  const Frame* devices = nullptr;
  const Frame* telemetry = nullptr;
  bool connected = false;
  double devicesAgeSeconds = -1;  // -1: none received yet
  double telemetryAgeSeconds = -1;
};
std::string prometheusText(const ExporterView& view);

}  // namespace varnmgmt
