// varn_mgmt exporter: one management connection kept open (and opened again, with a
// growing pause, whenever the bridge goes away), the latest frames served at /metrics
// in the Prometheus text format.
#pragma once

#include <cstdint>
#include <string>

namespace varnmgmt {

struct ExporterOptions {
  std::string bridgeHost = "127.0.0.1";
  uint16_t bridgePort = 1999;
  std::string listenHost = "127.0.0.1";
  uint16_t listenPort = 9799;
};

// Serves until the process ends; returns 1 when the HTTP port cannot be opened.
int runExporter(const ExporterOptions& options);

}  // namespace varnmgmt
