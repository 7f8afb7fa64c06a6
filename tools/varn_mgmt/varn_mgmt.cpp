// varn_mgmt: the management API of a varn_tcp_bridge (-m) from the command line.
//   varn_mgmt [--host H] [--port P] [--json] [--timeout S] devices
//   varn_mgmt [--host H] [--port P] [--json] [--timeout S] telemetry
//   varn_mgmt [--host H] [--port P] load NAME
//   varn_mgmt [--host H] [--port P] exporter [--listen ADDR:PORT]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/platform/varn_platform.h"
#include "tools/varn_mgmt/mgmt_client.h"
#include "tools/varn_mgmt/mgmt_exporter.h"
#include "tools/varn_mgmt/mgmt_format.h"

namespace {

const char* kUsage =
    "usage: varn_mgmt [--host IPV4] [--port PORT] [--json] [--timeout SECONDS] COMMAND\n"
    "  devices               the device list: part, DNA, serial, load state, port, TX/RX bytes\n"
    "  telemetry             each SLR's temperature and VCCINT\n"
    "  load NAME             ask the bridge to load NAME on all devices (it reports the name)\n"
    "  exporter [--listen ADDR:PORT]  serve Prometheus metrics at /metrics (default 127.0.0.1:9799)\n"
    "The bridge listens on 127.0.0.1:1999 unless its -n says otherwise.\n";

int fail(const std::string& what) {
  std::fprintf(stderr, "varn_mgmt: %s\n", what.c_str());
  return 1;
}

bool parsePort(const char* text, uint16_t* port) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 1 || v > 65535) return false;
  *port = static_cast<uint16_t>(v);
  return true;
}

bool parseHostPort(const std::string& text, std::string* host, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  *host = text.substr(0, colon);
  if (host->empty()) *host = "0.0.0.0";
  return parsePort(text.c_str() + colon + 1, port);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  uint16_t port = 1999;
  bool json = false;
  double timeout = 5.0;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string opt = argv[i];
    if (opt == "--json") {
      json = true;
    } else if ((opt == "--host" || opt == "--port" || opt == "--timeout") && i + 1 < argc) {
      const char* v = argv[++i];
      if (opt == "--host") {
        host = std::strcmp(v, "localhost") == 0 ? "127.0.0.1" : v;
        uint32_t ignored = 0;
        if (varn_parse_ipv4(host.c_str(), &ignored) != 0) return fail("--host wants an IPv4 address, not '" + host + "'");
      } else if (opt == "--port") {
        if (!parsePort(v, &port)) return fail(std::string("--port wants 1..65535, not '") + v + "'");
      } else {
        timeout = std::atof(v);
        if (timeout <= 0) return fail(std::string("--timeout wants seconds above 0, not '") + v + "'");
      }
    } else {
      std::fputs(kUsage, stderr);
      return opt == "--help" || opt == "-h" ? 0 : 2;
    }
  }
  if (i >= argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  varn_net_init();
  const std::string command = argv[i];

  if (command == "exporter") {
    varnmgmt::ExporterOptions o;
    o.bridgeHost = host;
    o.bridgePort = port;
    for (int k = i + 1; k < argc; ++k) {
      if (std::strcmp(argv[k], "--listen") == 0 && k + 1 < argc) {
        if (!parseHostPort(argv[++k], &o.listenHost, &o.listenPort))
          return fail(std::string("--listen wants ADDR:PORT, not '") + argv[k] + "'");
      } else {
        return fail(std::string("exporter: unknown argument '") + argv[k] + "'");
      }
    }
    return varnmgmt::runExporter(o);
  }

  varnmgmt::Connection c;
  std::string error;
  if (!c.open(host, port, timeout, &error)) return fail(error);

  if (command == "load") {
    if (i + 1 >= argc) return fail("load wants a bitstream name");
    const std::string name = argv[i + 1];
    std::string request;
    if (!varnmgmt::loadRequest(name, &request, &error) || !c.send(request + "VNDL", &error)) return fail(error);
    // Closing at once could lose the request: a frame pushed to us meanwhile, unread,
    // makes the close a reset, which discards what the bridge has not read yet. The
    // device list that reports the name says the bridge took it.
    varnmgmt::Frame devices;
    const uint64_t until = varn_monotonic_ns() + static_cast<uint64_t>(timeout * 1e9);
    for (;;) {
      const uint64_t now = varn_monotonic_ns();
      const double left = now >= until ? 0 : static_cast<double>(until - now) / 1e9;
      if (!c.waitFor(varnmgmt::Frame::Kind::DeviceList, &devices, left, &error)) return fail(error);
      bool reported = false;
      size_t count = 0;
      for (const auto& board : devices.devices)
        for (const auto& d : board) {
          reported = reported || d.bitstream == name.substr(0, 210);
          ++count;
        }
      if (reported || count == 0) break;  // without devices no frame can report it
      if (!c.send("VNDL", &error)) return fail(error);
    }
    std::printf("asked the bridge to load %s; it reports it now\n", name.c_str());
    return 0;
  }
  if (command != "devices" && command != "telemetry") {
    std::fputs(kUsage, stderr);
    return 2;
  }
  varnmgmt::Frame devices, telemetry;
  if (!c.send("VNDL", &error) || !c.waitFor(varnmgmt::Frame::Kind::DeviceList, &devices, timeout, &error))
    return fail(error);
  if (command == "devices") {
    if (json)
      std::printf("%s\n", varnmgmt::devicesJson(devices).dump(2).c_str());
    else
      std::fputs(varnmgmt::deviceTable(devices).c_str(), stdout);
    return 0;
  }
  if (!c.send("VNTM", &error) || !c.waitFor(varnmgmt::Frame::Kind::Telemetry, &telemetry, timeout, &error))
    return fail(error);
  if (json)
    std::printf("%s\n", varnmgmt::telemetryJson(telemetry, &devices).dump(2).c_str());
  else
    std::fputs(varnmgmt::telemetryTable(telemetry, &devices).c_str(), stdout);
  return 0;
}
