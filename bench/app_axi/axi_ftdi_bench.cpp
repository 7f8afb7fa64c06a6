// AXI reads through the multi-client AXI bridge (-x) of an FTDI board: a port client's
// 16-byte read packets go through the bridge, the board thread and the FPGA's JTAG-UART
// of a simulated FT232H and VU9P running the AXI master design (registration and board
// thread of varn_tcp_bridge, run in this process). Reads per second of simulated time
// (what a real chip would give), one read at a time and 32 in flight, with the board
// thread as it is and as it was (fixed 75 us turns, replies on the latency timer,
// 32-scan JTAG-UART batches), side by side in one run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "app/discovery/board_registration.h"
#include "app/platform/varn_platform.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "axi/varn_axi_packet.h"
#include "bench/common/board_thread_bench.h"
#include "sim/d2xx/varnsim_api.h"

namespace {

const char* kBoard = R"(board axi
device VU9P preconfigured=yes app=axi family=none
ftdi FT232H serial=AXB1
channel A jtag=axi
)";

using LoadText = int (*)(const char*);
using Counters = int (*)(const char*, VarnsimChannelCounters*);

struct Rig {
  std::string error;
  uint16_t port = 0;
  Counters counters = nullptr;
  varn_socket client = VARN_INVALID_SOCKET;
};

Rig* build() {
  auto* rig = new Rig;
  auto load = reinterpret_cast<LoadText>(::dlsym(RTLD_DEFAULT, "varnsim_load_text"));
  rig->counters = reinterpret_cast<Counters>(::dlsym(RTLD_DEFAULT, "varnsim_channel_counters"));
  if (load == nullptr || rig->counters == nullptr || load(kBoard) != 0) {
    rig->error = "the simulated D2XX library is not loaded";
    return rig;
  }
  gUseGUI = true;  // the boards' log lines go to the ring, not between the results
  gQuiet = true;
  gUseAXIBridge = true;
  VARNRegistryReset();
  gStartPort = static_cast<uint16_t>(30000 + ::getpid() % 20000);
  DWORD n = 0;
  FT_CreateDeviceInfoList(&n);
  if (n < 1) {
    rig->error = "no simulated FTDI device";
    return rig;
  }
  registerFtdiBoard(0, "AXB1", nullptr);
  if (regLoad(boardCnt) != 1) {
    rig->error = "the board did not register";
    return rig;
  }
  rig->port = regLoad(ports[0][0]);
  varn_sleep_ms(1500);  // the board thread starts a second after registration
  rig->client = varn_tcp_socket();
  if (varn_connect_ipv4(rig->client, "127.0.0.1", rig->port) != 0) rig->error = "cannot connect to the AXI port";
  varn_set_nodelay(rig->client);
  return rig;
}

Rig& rig() {
  static Rig* r = build();
  return *r;
}

// Sends `count` reads of the design's scratch space, at most `window` unanswered, and
// waits for every answer. False when an answer does not come within 10 s.
bool reads(varn_socket s, int count, int window) {
  uint8_t packet[VARN_AXI_PACKET_SIZE];
  uint8_t in[4096];
  size_t held = 0;
  int sent = 0, answered = 0;
  while (answered < count) {
    while (sent < count && sent - answered < window) {
      _VARNAXIMakePacket(packet, VARN_AXI_CMD_READ, static_cast<uint8_t>(sent % 255), 0x1000u + 4u * (sent % 64), 0);
      if (varn_send_all(s, packet, sizeof packet) != 0) return false;
      ++sent;
    }
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(s, &rs);
    if (varn_select(static_cast<int>(s) + 1, &rs, nullptr, 10000000) <= 0) return false;
    long n = varn_recv(s, in + held, sizeof in - held);
    if (n <= 0) return false;
    held += static_cast<size_t>(n);
    answered += static_cast<int>(held / VARN_AXI_PACKET_SIZE);
    held %= VARN_AXI_PACKET_SIZE;
  }
  return true;
}

void measure(benchmark::State& state, int window, bool documented) {
  Rig& r = rig();
  if (!r.error.empty()) return state.SkipWithError(r.error.c_str());
  varnBenchDocumentedBoardThread(0, documented);
  constexpr int kReads = 256;
  uint64_t simNs = 0, exchanges = 0;
  for (auto _ : state) {
    VarnsimChannelCounters before{}, after{};
    r.counters("AXB1", &before);
    if (!reads(r.client, kReads, window)) {
      varnBenchDocumentedBoardThread(0, false);
      return state.SkipWithError("answers did not come");
    }
    r.counters("AXB1", &after);
    simNs += after.simTimeNs - before.simTimeNs;
    exchanges += after.usbExchanges - before.usbExchanges;
  }
  varnBenchDocumentedBoardThread(0, false);
  const double total = double(state.iterations()) * kReads;
  state.SetItemsProcessed(static_cast<int64_t>(total));
  state.counters["sim_reads_per_s"] = simNs ? 1e9 * total / double(simNs) : 0;
  state.counters["usb_exchanges_per_read"] = total ? double(exchanges) / total : 0;
}

void BM_AxiReads_OneAtATime(benchmark::State& s) { measure(s, 1, false); }
void BM_AxiReads_OneAtATime_Documented(benchmark::State& s) { measure(s, 1, true); }
void BM_AxiReads_32InFlight(benchmark::State& s) { measure(s, 32, false); }
void BM_AxiReads_32InFlight_Documented(benchmark::State& s) { measure(s, 32, true); }

BENCHMARK(BM_AxiReads_OneAtATime)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AxiReads_OneAtATime_Documented)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AxiReads_32InFlight)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AxiReads_32InFlight_Documented)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return varnBenchMainWithSimD2xx(argc, argv, VARN_FTDISIM_PATH, "varn_app_axi_bench");
}
