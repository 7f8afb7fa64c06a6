// Serial channels through the bridge against the same simulated hardware driven
// directly, in one run:
// - CoE: the controller's UART (1 Mbaud line) of a simulated board controller, through
//   a board thread and its TCP port, and directly through the JTAG engine's UART calls
//   paced at the line rate;
// - FTDI: the JTAG-UART of a simulated VU35P behind a simulated FT232H, through a board
//   thread and its TCP port, and directly through VARNJtagUartV1WriteBytes /
//   VARNJtagUartV2ReadBytes; with the simulated chip's own clock (simulated time, USB
//   exchanges) next to the wall clock.
// Throughput is an echo: every byte goes to the FPGA and back. Latency is one byte
// there and back.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/boardthread/board_pump.h"
#include "app/boardthread/uart_pacer.h"
#include "bench/common/board_thread_bench.h"
#include "app/discovery/board_registration.h"
#include "app/platform/varn_platform.h"
#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "jtag/varn_jtag.h"
#include "sim/d2xx/varnsim_api.h"
#include "tools/varn_board_sim/board_sim_coe.h"

namespace {

const char* kFtdiBoards = R"(board bridged
device VU35P preconfigured=yes app=echo family=none
board direct
device VU35P preconfigured=yes app=echo family=none
ftdi FT232H serial=BRG1
channel A jtag=bridged
ftdi FT232H serial=DIR1
channel A jtag=direct
board idle
device VU35P preconfigured=yes app=echo family=none
ftdi FT232H serial=IDL1
channel A jtag=idle
)";

constexpr uint32_t kChunk = 2048;  // what the board thread moves per device and turn

using LoadText = int (*)(const char*);
using Counters = int (*)(const char*, VarnsimChannelCounters*);

struct Rack {
  std::string error;
  std::vector<std::unique_ptr<varnsim::CoeBoard>> controllers;
  VARNJtag* coeDirect = nullptr;
  VARNJtag* ftdiDirect = nullptr;
  uint16_t coePort = 0;
  uint16_t ftdiPort = 0;
  Counters counters = nullptr;
};

std::string loopbackAddress(int n) {
  std::mt19937 r(static_cast<unsigned>(::getpid()) * 7919u + static_cast<unsigned>(n));
  return "127." + std::to_string(100 + r() % 100) + "." + std::to_string(r() % 250) + "." + std::to_string(2 + r() % 250);
}

bool startController(Rack* rack, const std::string& address) {
  std::vector<std::string> words = {"bench", "--coe-board", address, "--coe-fpga", "vu35p,app=echo,family=none"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  varnsim::CoeSimArgs args;
  for (int i = 1; i < static_cast<int>(argv.size());) {
    int used = varnsim::parseCoeArg(static_cast<int>(argv.size()), argv.data(), i, &args, &rack->error);
    if (used <= 0) return false;
    i += used;
  }
  auto board = varnsim::CoeBoard::start(args.boards[0], address, &rack->error);
  if (!board) return false;
  rack->controllers.push_back(std::move(board));
  return true;
}

int ftdiIndexOf(const char* serial) {
  DWORD n = 0;
  if (FT_CreateDeviceInfoList(&n) != FT_OK) return -1;
  for (DWORD i = 0; i < n; ++i) {
    DWORD flags, type, id, location;
    char s[64] = {}, d[128] = {};
    FT_HANDLE h;
    if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &location, s, d, &h) == FT_OK && std::strcmp(s, serial) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

Rack* buildRack() {
  auto* rack = new Rack;
  auto load = reinterpret_cast<LoadText>(::dlsym(RTLD_DEFAULT, "varnsim_load_text"));
  rack->counters = reinterpret_cast<Counters>(::dlsym(RTLD_DEFAULT, "varnsim_channel_counters"));
  if (load == nullptr || rack->counters == nullptr || load(kFtdiBoards) != 0) {
    rack->error = "the simulated D2XX library is not loaded";
    return rack;
  }
  // The boards' log lines go to the log ring, not between the results.
  gUseGUI = true;
  gQuiet = true;
  VARNRegistryReset();
  gStartPort = static_cast<uint16_t>(30000 + ::getpid() % 20000);

  const std::string bridged = loopbackAddress(1), direct = loopbackAddress(2);
  if (!startController(rack, bridged) || !startController(rack, direct)) return rack;
  registerCoEBoard(bridged.c_str(), nullptr);
  int index = ftdiIndexOf("BRG1");
  if (index >= 0) registerFtdiBoard(static_cast<DWORD>(index), "BRG1", nullptr);
  if (regLoad(boardCnt) != 2) {
    rack->error = "the bridge did not register both boards";
    return rack;
  }
  rack->coePort = regLoad(ports[0][0]);
  rack->ftdiPort = regLoad(ports[1][0]);

  if (VARNJtagCreateCoE(direct.c_str(), 13500000, &rack->coeDirect) != 0) rack->error = "direct CoE handle";
  FT_HANDLE h = nullptr;
  index = ftdiIndexOf("DIR1");
  if (index < 0 || FT_Open(index, &h) != FT_OK || VARNJtagCreate(h, 30000000, &rack->ftdiDirect) != 0)
    rack->error = "direct FTDI handle";
  // The board threads start a second after registration.
  varn_sleep_ms(1500);
  return rack;
}

Rack& rack() {
  static Rack* r = buildRack();
  return *r;
}

std::string pattern(size_t n) {
  std::string s(n, '\0');
  std::mt19937 g(static_cast<unsigned>(n));
  for (char& c : s) c = static_cast<char>(g());
  return s;
}

// --- through the bridge: a TCP client of the device's port ----------------------------

class PortClient {
 public:
  explicit PortClient(uint16_t port) : fd_(varn_tcp_socket()) {
    if (varn_connect_ipv4(fd_, "127.0.0.1", port) != 0) {
      varn_close_socket(fd_);
      fd_ = VARN_INVALID_SOCKET;
    } else {
      varn_set_nodelay(fd_);
    }
  }
  ~PortClient() {
    if (varn_socket_valid(fd_)) varn_close_socket(fd_);
  }
  bool ok() const { return varn_socket_valid(fd_); }
  // Sends everything (from a second thread) and reads the echo back.
  bool echo(const std::string& data, std::string* back) {
    std::thread writer([&] { varn_send_all(fd_, data.data(), data.size()); });
    back->assign(data.size(), '\0');
    size_t got = 0;
    while (got < data.size()) {
      fd_set rs;
      FD_ZERO(&rs);
      FD_SET(fd_, &rs);
      if (varn_select(fd_ + 1, &rs, nullptr, 10000000) <= 0) break;
      long n = varn_recv(fd_, back->data() + got, data.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    writer.join();
    return got == data.size();
  }

 private:
  varn_socket fd_;
};

// Runs one echo of `bytes` per iteration; with a simulated FTDI channel's serial, also
// the simulated time and USB exchanges it took, which is what a real chip would see.
template <typename Echo>
void measureEchoes(benchmark::State& state, Rack& r, size_t bytes, const char* serial, const char* failure,
                   Echo echoOnce) {
  uint64_t simNs = 0, exchanges = 0;
  for (auto _ : state) {
    VarnsimChannelCounters before{}, after{};
    if (serial) r.counters(serial, &before);
    if (!echoOnce()) return state.SkipWithError(failure);
    if (serial) {
      r.counters(serial, &after);
      simNs += after.simTimeNs - before.simTimeNs;
      exchanges += after.usbExchanges - before.usbExchanges;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  if (serial) {
    const double total = double(state.iterations()) * double(bytes);
    state.counters["sim_bytes_per_s"] = simNs ? 1e9 * total / double(simNs) : 0;
    state.counters["usb_exchanges_per_KiB"] = total ? double(exchanges) * 1024.0 / total : 0;
    state.counters["sim_us_per_iteration"] = double(simNs) / 1000.0 / double(state.iterations());
  }
}

void throughBridge(benchmark::State& state, uint16_t port, size_t bytes, const char* serial) {
  Rack& r = rack();
  if (!r.error.empty()) return state.SkipWithError(r.error.c_str());
  static std::unique_ptr<PortClient> clients[2];
  std::unique_ptr<PortClient>& client = clients[serial ? 1 : 0];
  if (!client) client = std::make_unique<PortClient>(port);
  if (!client->ok()) return state.SkipWithError("cannot connect to the bridge port");
  const std::string data = pattern(bytes);
  std::string back;
  measureEchoes(state, r, bytes, serial, "echo lost or changed bytes",
                [&] { return client->echo(data, &back) && back == data; });
}

// --- directly through the JTAG engine ---------------------------------------------------

// Writes in the board thread's chunks and reads back what is there after each, as
// the board thread does, until everything came back. `pacer` (CoE) holds writes to
// the line's rate.
bool echoDirect(VARNJtag* j, const std::string& data, std::string* back, VARNUartPacer* pacer) {
  back->clear();
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  size_t sent = 0;
  uint8_t buf[kChunk];
  auto t0 = std::chrono::steady_clock::now();
  while (back->size() < data.size()) {
    if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(60)) return false;
    if (sent < data.size()) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(kChunk, data.size() - sent));
      if (pacer) n = std::min(n, pacer->allowance(varn_monotonic_ns()));
      uint32_t written = 0;
      if (n > 0 && VARNJtagUartV1WriteBytes(j, 0, p + sent, n, &written) != 0) return false;
      if (pacer) pacer->spend(varn_monotonic_ns(), written);
      sent += written;
    }
    uint32_t held = 0;
    for (;;) {
      uint32_t got = 0;
      if (VARNJtagUartV2ReadBytes(j, 0, buf + held, kChunk - held, &got, 2) != 0 || got == 0) break;
      held += got;
      if (held == kChunk) break;
    }
    back->append(reinterpret_cast<char*>(buf), held);
    if (held == 0 && pacer) varn_sleep_us(75);
  }
  return *back == data;
}

void directly(benchmark::State& state, VARNJtag* j, size_t bytes, const char* serial, bool paced) {
  Rack& r = rack();
  if (!r.error.empty() || j == nullptr) return state.SkipWithError(r.error.empty() ? "no handle" : r.error.c_str());
  const std::string data = pattern(bytes);
  std::string back;
  // The controller's line: 1 Mbaud, ten bit times per byte.
  VARNUartPacer pacer(100000.0, 4096);
  measureEchoes(state, r, bytes, serial, "direct echo failed",
                [&] { return echoDirect(j, data, &back, paced ? &pacer : nullptr); });
}

constexpr size_t kCoeBytes = 16 * 1024;
constexpr size_t kFtdiBytes = 256 * 1024;

// The bridged FTDI board (board 1) as its thread was, for the rows beside today's.
class DocumentedMode {
 public:
  DocumentedMode() { varnBenchDocumentedBoardThread(1, true); }
  ~DocumentedMode() { varnBenchDocumentedBoardThread(1, false); }
};

void BM_FtdiJtagUart_Echo_Bridge_Documented(benchmark::State& s) {
  DocumentedMode m;
  throughBridge(s, rack().ftdiPort, kFtdiBytes / 8, "BRG1");
}
void BM_FtdiJtagUart_RoundTrip_Bridge_Documented(benchmark::State& s) {
  DocumentedMode m;
  throughBridge(s, rack().ftdiPort, 1, "BRG1");
}

// --- idle cost: process CPU over a fixed wall interval -----------------------------------

// Seven more CoE boards and a second FTDI board, registered once beside the two above
// (8 CoE and 2 FTDI boards in all, no client anywhere). Their controllers run in this
// process too and are counted in both rows alike.
bool addIdleBoards() {
  static bool added = [] {
    Rack& r = rack();
    if (!r.error.empty()) return false;
    for (int i = 0; i < 7; ++i) {
      const std::string address = loopbackAddress(10 + i);
      if (!startController(&r, address)) return false;
      registerCoEBoard(address.c_str(), nullptr);
    }
    const int index = ftdiIndexOf("IDL1");
    if (index < 0) return false;
    registerFtdiBoard(static_cast<DWORD>(index), "IDL1", nullptr);
    varn_sleep_ms(2500);  // the new board threads start a second after registration
    return regLoad(boardCnt) == 10;
  }();
  return added;
}

double processCpuSeconds() {
  struct rusage u {};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void idleCpu(benchmark::State& state, bool documented) {
  if (!addIdleBoards()) return state.SkipWithError("the idle boards did not register");
  VARNBoardPumpUseFixedWait(documented ? 75 : 0);
  VarnsimChannelCounters before{}, after{};
  double cpu = 0, wall = 0;
  uint64_t exchanges = 0, simNs = 0;
  for (auto _ : state) {
    rack().counters("IDL1", &before);
    const double c0 = processCpuSeconds();
    const uint64_t w0 = varn_monotonic_ns();
    varn_sleep_ms(2000);
    cpu += processCpuSeconds() - c0;
    wall += double(varn_monotonic_ns() - w0) / 1e9;
    rack().counters("IDL1", &after);
    exchanges += after.usbExchanges - before.usbExchanges;
    simNs += after.simTimeNs - before.simTimeNs;
  }
  VARNBoardPumpUseFixedWait(0);
  state.counters["cpu_percent_of_one_core"] = wall > 0 ? 100.0 * cpu / wall : 0;
  state.counters["idle_ftdi_exchanges_per_s"] = wall > 0 ? double(exchanges) / wall : 0;
}

void BM_Idle_8CoE_2Ftdi(benchmark::State& s) { idleCpu(s, false); }
void BM_Idle_8CoE_2Ftdi_Documented(benchmark::State& s) { idleCpu(s, true); }

void BM_CoE_Echo_Bridge(benchmark::State& s) { throughBridge(s, rack().coePort, kCoeBytes, nullptr); }
void BM_CoE_Echo_Direct(benchmark::State& s) { directly(s, rack().coeDirect, kCoeBytes, nullptr, true); }
void BM_CoE_RoundTrip_Bridge(benchmark::State& s) { throughBridge(s, rack().coePort, 1, nullptr); }
void BM_CoE_RoundTrip_Direct(benchmark::State& s) { directly(s, rack().coeDirect, 1, nullptr, true); }
void BM_FtdiJtagUart_Echo_Bridge(benchmark::State& s) { throughBridge(s, rack().ftdiPort, kFtdiBytes, "BRG1"); }
void BM_FtdiJtagUart_Echo_Direct(benchmark::State& s) { directly(s, rack().ftdiDirect, kFtdiBytes, "DIR1", false); }
void BM_FtdiJtagUart_RoundTrip_Bridge(benchmark::State& s) { throughBridge(s, rack().ftdiPort, 1, "BRG1"); }
void BM_FtdiJtagUart_RoundTrip_Direct(benchmark::State& s) { directly(s, rack().ftdiDirect, 1, "DIR1", false); }

BENCHMARK(BM_Idle_8CoE_2Ftdi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Idle_8CoE_2Ftdi_Documented)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_CoE_Echo_Bridge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CoE_Echo_Direct)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CoE_RoundTrip_Bridge)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CoE_RoundTrip_Direct)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FtdiJtagUart_Echo_Bridge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FtdiJtagUart_Echo_Bridge_Documented)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FtdiJtagUart_Echo_Direct)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FtdiJtagUart_RoundTrip_Bridge)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FtdiJtagUart_RoundTrip_Bridge_Documented)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FtdiJtagUart_RoundTrip_Direct)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return varnBenchMainWithSimD2xx(argc, argv, VARN_FTDISIM_PATH, "varn_app_serial_bench");
}
