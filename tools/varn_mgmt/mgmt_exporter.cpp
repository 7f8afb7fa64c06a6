#include "tools/varn_mgmt/mgmt_exporter.h"

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "app/platform/varn_platform.h"
#include "tools/varn_mgmt/mgmt_client.h"
#include "tools/varn_mgmt/mgmt_format.h"

namespace varnmgmt {

namespace {

constexpr double kFrameWaitSeconds = 0.5;
constexpr uint64_t kDeviceListEveryNs = 5000000000ull;  // counters stay fresh without flooding other clients
constexpr uint64_t kFirstRetryMs = 250, kMaxRetryMs = 8000;

struct Latest {
  std::mutex lock;
  std::optional<Frame> devices, telemetry;
  uint64_t devicesNs = 0, telemetryNs = 0;
  bool connected = false;
};

// The management connection, for the life of the process.
void keepConnected(const ExporterOptions& o, Latest* latest) {
  uint64_t retryMs = kFirstRetryMs;
  for (;;) {
    Connection c;
    std::string error;
    if (!c.open(o.bridgeHost, o.bridgePort, 2.0, &error) || !c.send("VNDL", &error) || !c.send("VNTM", &error)) {
      std::fprintf(stderr, "varn_mgmt exporter: %s; trying again in %llu ms\n", error.c_str(),
                   static_cast<unsigned long long>(retryMs));
      varn_sleep_ms(retryMs);
      retryMs = retryMs * 2 > kMaxRetryMs ? kMaxRetryMs : retryMs * 2;
      continue;
    }
    std::fprintf(stderr, "varn_mgmt exporter: connected to %s:%u\n", o.bridgeHost.c_str(), o.bridgePort);
    retryMs = kFirstRetryMs;
    {
      std::lock_guard<std::mutex> hold(latest->lock);
      latest->connected = true;
    }
    uint64_t askedNs = varn_monotonic_ns();
    for (;;) {
      Frame f;
      if (!c.nextFrame(&f, kFrameWaitSeconds, &error)) {
        if (!c.timedOut()) break;  // closed or garbled, not just quiet
      } else {
        std::lock_guard<std::mutex> hold(latest->lock);
        if (f.kind == Frame::Kind::DeviceList) {
          latest->devices = std::move(f);
          latest->devicesNs = varn_monotonic_ns();
        } else {
          latest->telemetry = std::move(f);
          latest->telemetryNs = varn_monotonic_ns();
        }
      }
      if (varn_monotonic_ns() - askedNs > kDeviceListEveryNs) {
        if (!c.send("VNDL", &error)) break;
        askedNs = varn_monotonic_ns();
      }
    }
    std::fprintf(stderr, "varn_mgmt exporter: %s; reconnecting\n", error.c_str());
    std::lock_guard<std::mutex> hold(latest->lock);
    latest->connected = false;
  }
}

}  // namespace

int runExporter(const ExporterOptions& o) {
  static Latest latest;  // shared with the connection thread for the life of the process
  std::thread(keepConnected, o, &latest).detach();
  httplib::Server server;
  server.Get("/metrics", [](const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> hold(latest.lock);
    const uint64_t now = varn_monotonic_ns();
    ExporterView v;
    v.connected = latest.connected;
    if (latest.devices) {
      v.devices = &*latest.devices;
      v.devicesAgeSeconds = static_cast<double>(now - latest.devicesNs) / 1e9;
    }
    if (latest.telemetry) {
      v.telemetry = &*latest.telemetry;
      v.telemetryAgeSeconds = static_cast<double>(now - latest.telemetryNs) / 1e9;
    }
    res.set_content(prometheusText(v), "text/plain; version=0.0.4; charset=utf-8");
  });
  if (!server.bind_to_port(o.listenHost.c_str(), o.listenPort)) {
    std::fprintf(stderr, "varn_mgmt exporter: cannot listen on %s:%u\n", o.listenHost.c_str(), o.listenPort);
    return 1;
  }
  std::fprintf(stderr, "varn_mgmt exporter: serving /metrics on %s:%u\n", o.listenHost.c_str(), o.listenPort);
  server.listen_after_bind();
  return 1;
}

}  // namespace varnmgmt
