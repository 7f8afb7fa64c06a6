#include "tools/varn_board_sim/board_sim_axi.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varnsim {

namespace {

bool parseNumber(const char* s, int64_t lo, int64_t hi, int64_t* out) {
  if (!s || !*s) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s, &end, 0);
  if (errno || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

const char* axiArgsUsage() {
  return "  --axi-port N         serve a design's AXI master on the bind address, port N (0: any free port);\n"
         "                       the options after it apply to this endpoint, options before the first\n"
         "                       --axi-port to all of them\n"
         "  --family lr|zk|none  board family: I2C devices and system monitor (default lr)\n"
         "  --app axi|echo|console  application behind the channel (default axi)\n"
         "  --opt KEY=VALUE      any design option (see sim/design/README.md)\n"
         "  --bind ADDR          IPv4 address to listen on (default 127.0.0.1)\n"
         "  --late-ms N          fault: every answer byte leaves N ms late\n"
         "  --silent-after N     fault: stop answering after N bytes on a connection\n"
         "  --corrupt-at N       fault: invert byte N (from 0) of each connection's answers\n"
         "  --close-after N      fault: close each connection after N answer bytes\n";
}

int parseAxiArg(int argc, char** argv, int i, AxiSimArgs* args, std::string* error) {
  const char* a = argv[i];
  const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
  AxiServeSpec& desc = args->endpoints.empty() ? args->defaults : args->endpoints.back();
  auto need = [&](const char* what) {
    *error = std::string(a) + " needs " + what;
    return -1;
  };
  int64_t n = 0;
  if (!std::strcmp(a, "--axi-port")) {
    if (!parseNumber(v, 0, 65535, &n)) return need("a port number 0..65535");
    AxiServeSpec s = args->defaults;
    s.port = static_cast<uint16_t>(n);
    args->endpoints.push_back(s);
    return 2;
  }
  if (!std::strcmp(a, "--family")) {
    if (!v) return need("lr, zk or none");
    desc.design["family"] = v;
    return 2;
  }
  if (!std::strcmp(a, "--app")) {
    if (!v) return need("axi, echo or console");
    desc.design["app"] = v;
    return 2;
  }
  if (!std::strcmp(a, "--opt")) {
    const char* eq = v ? std::strchr(v, '=') : nullptr;
    if (!eq || eq == v) return need("KEY=VALUE");
    desc.design[std::string(v, eq)] = eq + 1;
    return 2;
  }
  if (!std::strcmp(a, "--bind")) {
    uint32_t ip;
    if (!v || varn_parse_ipv4(v, &ip) != 1) return need("an IPv4 address");
    args->bindAddr = v;
    return 2;
  }
  struct {
    const char* name;
    int64_t* target;
  } faults[] = {{"--silent-after", &desc.faults.silentAfterBytes},
                {"--corrupt-at", &desc.faults.corruptAtByte},
                {"--close-after", &desc.faults.closeAfterBytes}};
  for (auto& f : faults) {
    if (!std::strcmp(a, f.name)) {
      if (!parseNumber(v, 0, INT64_MAX, &n)) return need("a byte count");
      *f.target = n;
      return 2;
    }
  }
  if (!std::strcmp(a, "--late-ms")) {
    if (!parseNumber(v, 0, 600000, &n)) return need("milliseconds 0..600000");
    desc.faults.answerDelayMs = static_cast<uint32_t>(n);
    return 2;
  }
  return 0;
}

bool startAxiEndpoints(const AxiSimArgs& args, bool verbose, std::vector<std::unique_ptr<AxiEndpoint>>* out,
                       std::string* error) {
  for (const AxiServeSpec& s : args.endpoints) {
    std::string why;
    auto ep = AxiEndpoint::start(s.design, s.port, &why, args.bindAddr.c_str());
    if (!ep) {
      *error = "AXI endpoint on port " + std::to_string(s.port) + ": " + why;
      out->clear();
      return false;
    }
    ep->setFaults(s.faults);
    uint16_t port = ep->port();
    if (verbose)
      ep->setLogger([port](const std::string& m) {
        std::printf("port %u: %s\n", port, m.c_str());
        std::fflush(stdout);
      });
    auto opt = [&](const char* k, const char* dflt) {
      auto it = s.design.find(k);
      return it == s.design.end() ? std::string(dflt) : it->second;
    };
    std::printf("AXI master on %s:%u (app %s, family %s)\n", args.bindAddr.c_str(), port, opt("app", "echo").c_str(),
                opt("family", "lr").c_str());
    out->push_back(std::move(ep));
  }
  std::fflush(stdout);
  return true;
}

}  // namespace varnsim
