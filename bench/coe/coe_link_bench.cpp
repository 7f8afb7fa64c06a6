// What the link costs per request on one machine. Three loops over loopback TCP:
//   Raw       8-byte request, 8-byte answer, one thread each side, no link;
//   LinkEcho  the link's transaction against a peer that answers every 8-byte packet
//             at once (the link's own cost over Raw);
//   DrShift   32-bit JTAG data shifts with capture through the link to the simulated
//             board controller (link, controller and TAP walk).
// At the end the rates are set against Raw.
//
//   build/<dir>/bench/coe/coe_link_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "app/settings/varn_settings.h"
#include "coe/coe_link.h"
#include "sim/controller/controller_server.h"
#include "sim/controller/core_chain.h"
#include "sim/controller/tests/fake_chain.h"
#include "sim/core/xilinx_device.h"
#include "sim/design/design.h"

namespace {

varn_socket listenLoopback(uint16_t* port) {
  varn_socket l = varn_tcp_socket();
  varn_set_reuseaddr(l);
  varn_bind_ipv4(l, "127.0.0.1", 0);
  varn_listen(l, 4);
  *port = varn_local_port(l);
  return l;
}

bool readExactly(varn_socket s, uint8_t* p, size_t n) {
  while (n > 0) {
    long got = varn_recv(s, p, n);
    if (got <= 0) return false;
    p += got;
    n -= size_t(got);
  }
  return true;
}

// Answers every 8-byte packet with itself turned into an answer (command 0x000A).
struct Answerer {
  explicit Answerer(varn_socket s) : sock(s) {
    varn_set_nodelay(sock);
    thread = std::thread([this] {
      uint8_t p[8];
      while (readExactly(sock, p, 8)) {
        p[4] = 0x0A;
        p[5] = 0x00;
        if (varn_send_all(sock, p, 8) != 0) return;
      }
    });
  }
  ~Answerer() {
    varn_shutdown_socket(sock);
    thread.join();
    varn_close_socket(sock);
  }
  varn_socket sock;
  std::thread thread;
};

void Raw(benchmark::State& state) {
  uint16_t port;
  varn_socket l = listenLoopback(&port);
  varn_socket c = varn_tcp_socket();
  varn_connect_ipv4(c, "127.0.0.1", port);
  varn_set_nodelay(c);
  auto peer = std::make_unique<Answerer>(varn_accept(l, nullptr, nullptr));
  varn_close_socket(l);
  uint8_t req[8] = {8, 0, 1, 0, 0x0A, 0, 0, 0x80}, ans[8];
  for (auto _ : state) {
    if (varn_send_all(c, req, 8) != 0 || !readExactly(c, ans, 8)) state.SkipWithError("raw loop broke");
  }
  state.SetItemsProcessed(state.iterations());
  varn_shutdown_socket(c);
  peer.reset();
  varn_close_socket(c);
}
BENCHMARK(Raw)->UseRealTime();

_VNCoELink* connectedLink(uint16_t port) {
  _VNCoELink* link = VNCoELinkCreate("127.0.0.1", port);
  for (int i = 0; i < 2000 && !VNCoELinkIsConnected(link); i++) varn_sleep_ms(1);
  return link;
}

void LinkEcho(benchmark::State& state) {
  uint16_t port;
  varn_socket l = listenLoopback(&port);
  _VNCoELink* link = VNCoELinkCreate("127.0.0.1", port);
  auto peer = std::make_unique<Answerer>(varn_accept(l, nullptr, nullptr));
  varn_close_socket(l);
  for (int i = 0; i < 2000 && !VNCoELinkIsConnected(link); i++) varn_sleep_ms(1);
  uint16_t command = 0;
  for (auto _ : state) {
    int rc = VNCoELinkTransaction(link, 0x000A, 1, 0x8000, nullptr, 0, &command, nullptr, nullptr, nullptr, 0);
    if (rc != 0) state.SkipWithError("link transaction failed");
  }
  state.SetItemsProcessed(state.iterations());
  VNCoELinkDestroy(link);
  peer.reset();
}
BENCHMARK(LinkEcho)->UseRealTime();

// A VU35P of sim/core running the echo design, or the controller tests' chain double.
struct BenchChain {
  explicit BenchChain(bool silicon) {
    if (!silicon) {
      fake.dev.resize(1);
      fake.dev[0].idcode = 0x04B71093;
      fake.dev[0].irLen = 12;
      return;
    }
    varnsim::DeviceConfig c;
    c.part = varnsim::findPart("VU35P");
    c.preconfigured = true;
    c.design = {{"app", "echo"}, {"family", "none"}};
    varnsim::fillDefaultIdentity(c, 7);
    chain.add(std::make_unique<varnsim::XilinxDevice>(
        c, [](const varnsim::DesignOptions& o, std::string* e) -> std::unique_ptr<varnsim::FpgaDesign> {
          return varnsim::makeDesignChecked(o, e);
        }));
    core = std::make_unique<varnsim::CoreChain>(chain);
  }
  varnsim::ControllerChain& get() { return core ? static_cast<varnsim::ControllerChain&>(*core) : fake; }
  ctltest::FakeChain fake;
  varnsim::JtagChain chain;
  std::unique_ptr<varnsim::CoreChain> core;
};

void DrShift(benchmark::State& state) {
  BenchChain bc(state.range(0) != 0);
  varnsim::ControllerConfig cfg;
  cfg.slots[0].device = 0;
  varnsim::ControllerServer server("127.0.0.1", 0, bc.get(), cfg);
  std::string error;
  if (!server.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  _VNCoELink* link = connectedLink(server.port());
  const uint8_t mode[2] = {0x00, 0x02};
  const uint8_t ir[6] = {0, 0x09, 0, 0, 0xA4, 0x00};  // USER1 in SLR 0, feed-through in SLR 1
  VNCoELinkTransaction(link, 0x1001, 1, 0x8000, mode, 2, nullptr, nullptr, nullptr, nullptr, 0);
  VNCoELinkTransaction(link, 0x1012, 1, 0x8000, ir, 6, nullptr, nullptr, nullptr, nullptr, 0);
  const uint8_t shift[8] = {0, 0x31, 32, 0, 0x78, 0x56, 0x34, 0x12};
  uint8_t tdo[4096];
  uint32_t len = 0;
  uint16_t command = 0;
  for (auto _ : state) {
    int rc = VNCoELinkTransaction(link, 0x1012, 1, 0x8000, shift, 8, &command, nullptr, tdo, &len, sizeof tdo);
    if (rc != 0 || command != 0x000A || len != 4) state.SkipWithError("data shift failed");
  }
  state.SetItemsProcessed(state.iterations());
  VNCoELinkDestroy(link);
  server.stop();
}
// Argument 0: the chain double; 1: sim/core's VU35P (USER1 of its design).
BENCHMARK(DrShift)->Arg(0)->Arg(1)->UseRealTime();

// Keeps the rates of the runs for the summary line.
class Summary : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end() && !r.error_occurred) rates[r.benchmark_name()] = it->second;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  // The link's log lines (Connecting..., Connected) stay out of the table.
  gUseGUI = true;
  benchmark::Initialize(&argc, argv);
  Summary summary;
  benchmark::RunSpecifiedBenchmarks(&summary);
  double raw = summary.rates["Raw/real_time"];
  if (raw > 0) {
    for (auto& [name, rate] : summary.rates)
      if (name != "Raw/real_time")
        std::printf("%-20s %9.0f requests/s = %5.1f %% of Raw (%.0f/s)\n", name.c_str(), rate, 100.0 * rate / raw, raw);
  }
  benchmark::Shutdown();
  return 0;
}
