// XVC through the server against the same work without it, in one run:
// - BM_XvcShiftVsDirectRequest: one shift of N bits with TMS 0 from an XVC client
//   (which the server turns into one TDI-only request) next to that request sent
//   straight on the same link to the same simulated controller; counters in
//   microseconds per shift and their ratio.
// - BM_XvcLoadVsOwnLoad: a VU9P bitstream loaded by openFPGALoader through the real
//   binary's XVC server next to the real binary's own -b load of the same file on an
//   identical simulated board; counters in seconds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/varn_platform.h"
#include "coe/coe_commands.h"
#include "coe/coe_link.h"
#include "testsupport/net/loopback.h"
#include "testsupport/process/process.h"
#include "tools/varn_board_sim/board_sim_coe.h"
#include "xvc/varn_xvc.h"

namespace {

using testsupport::loopbackAddress;
uint16_t freePort() { return testsupport::freeLoopbackPort(); }

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

bool readExactly(varn_socket s, uint8_t* to, size_t n) {
  while (n > 0) {
    long r = varn_recv(s, to, n);
    if (r <= 0) return false;
    to += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// One simulated VU9P board, a link to it, the XVC server on that link and a client in
// Shift-DR.
struct Bench {
  std::string error;
  std::unique_ptr<varnsim::CoeBoard> board;
  _VNCoELink* link = nullptr;
  varn_socket client = VARN_INVALID_SOCKET;
};

Bench* build() {
  auto* b = new Bench;
  const std::string address = loopbackAddress(1);
  std::vector<std::string> words = {"bench", "--coe-board", address, "--coe-fpga", "vu9p,app=echo,family=none"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  varnsim::CoeSimArgs args;
  for (int i = 1; i < static_cast<int>(argv.size());) {
    int used = varnsim::parseCoeArg(static_cast<int>(argv.size()), argv.data(), i, &args, &b->error);
    if (used <= 0) return b;
    i += used;
  }
  b->board = varnsim::CoeBoard::start(args.boards[0], address, &b->error);
  if (!b->board) return b;
  b->link = VNCoELinkCreate(address.c_str(), VN_COE_PORT);
  for (int i = 0; i < 300 && !VNCoELinkIsConnected(b->link); ++i) varn_sleep_ms(10);
  const uint16_t port = freePort();
  std::thread([l = b->link, port] { VNCoEStartXVC(l, port); }).detach();
  for (int i = 0; i < 500; ++i) {
    b->client = varn_tcp_socket();
    if (varn_connect_ipv4(b->client, "127.0.0.1", port) == 0) break;
    varn_close_socket(b->client);
    b->client = VARN_INVALID_SOCKET;
    varn_sleep_ms(10);
  }
  if (!varn_socket_valid(b->client)) {
    b->error = "the XVC server did not take a client";
    return b;
  }
  varn_set_nodelay(b->client);
  // Test-Logic-Reset, then Shift-DR.
  const uint8_t walk[] = {'s', 'h', 'i', 'f', 't', ':', 9, 0, 0, 0, 0x5F, 0x00, 0x00, 0x00};
  uint8_t tdo[2];
  if (varn_send_all(b->client, walk, sizeof walk) != 0 || !readExactly(b->client, tdo, 2)) b->error = "TAP walk failed";
  return b;
}

Bench& bench() {
  static Bench* b = build();
  return *b;
}

void BM_XvcShiftVsDirectRequest(benchmark::State& state) {
  Bench& b = bench();
  if (!b.error.empty()) {
    state.SkipWithError(b.error.c_str());
    return;
  }
  const uint32_t bits = static_cast<uint32_t>(state.range(0));
  const uint32_t bytes = (bits + 7) / 8;
  Bytes request = {'s', 'h', 'i', 'f', 't', ':'};
  for (int i = 0; i < 4; ++i) request.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  request.resize(request.size() + bytes, 0);     // TMS 0
  request.resize(request.size() + bytes, 0xA5);  // TDI
  Bytes direct = {0x00, 0x20, static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8)};
  direct.resize(direct.size() + bytes, 0xA5);
  Bytes tdo(bytes);
  double xvcNs = 0, directNs = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (varn_send_all(b.client, request.data(), request.size()) != 0 || !readExactly(b.client, tdo.data(), bytes)) {
      state.SkipWithError("XVC shift failed");
      return;
    }
    auto t1 = Clock::now();
    uint32_t len = 0;
    uint16_t answerCommand = 0;
    VNCoELinkTransaction(b.link, VN_COE_CMD_IDLE_OR_SHIFT, 1, VN_COE_FLAGS, direct.data(),
                         static_cast<uint32_t>(direct.size()), &answerCommand, nullptr, tdo.data(), &len, bytes);
    auto t2 = Clock::now();
    if (len != bytes) {
      state.SkipWithError("direct request failed");
      return;
    }
    xvcNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
    directNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    ++n;
  }
  state.counters["xvc_us"] = xvcNs / 1000.0 / static_cast<double>(n);
  state.counters["direct_us"] = directNs / 1000.0 / static_cast<double>(n);
  state.counters["xvc_over_direct"] = xvcNs / directNs;
}
BENCHMARK(BM_XvcShiftVsDirectRequest)->Arg(64)->Arg(16384)->UseRealTime();

// Seconds from start to the line containing `needle`, or -1.
double lineTime(testsupport::Process& p, const std::string& needle) {
  for (const auto& l : p.lines())
    if (l.text.find(needle) != std::string::npos) return l.seconds;
  return -1;
}

void BM_XvcLoadVsOwnLoad(benchmark::State& state) {
  if (access("/usr/bin/openFPGALoader", X_OK) != 0) {
    state.SkipWithError("openFPGALoader is not installed");
    return;
  }
  char dirTemplate[] = "/tmp/varn_xvc_bench_XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  const std::string bit = dir + "/load.bit";
  const std::string frames = std::to_string(state.range(0));
  testsupport::Process gen({VARN_BITGEN_PATH, "--part", "VU9P", "--frames", frames, "-o", bit}, {}, dir);
  gen.waitExit(120);
  double xvcS = 0, ownS = 0;
  for (auto _ : state) {
    const std::string a = loopbackAddress(11), c = loopbackAddress(12);
    const std::string fpga = "vu9p,preconfigured=no,app=echo,family=none";
    testsupport::Process sim({VARN_BOARD_SIM_PATH, "--coe-board", a, "--coe-fpga", fpga, "--coe-board", c,
                              "--coe-fpga", fpga},
                             {}, dir);
    sim.waitFor("CoE board controller on", 10, 2);
    const uint16_t xvc = freePort();
    testsupport::Process viaXvc({VARN_BRIDGE_PATH, "-c", a, "-q", "-j", std::to_string(xvc), "-p",
                                 std::to_string(freePort())},
                                {}, dir);
    viaXvc.waitFor("waiting for XVC connection", 30);
    auto t0 = Clock::now();
    testsupport::Process client({"/usr/bin/openFPGALoader", "-c", "xvc-client", "--ip", "127.0.0.1", "--port",
                                 std::to_string(xvc), bit},
                                {}, dir);
    client.waitExit(600);
    xvcS = std::chrono::duration<double>(Clock::now() - t0).count();
    if (client.output().find("Done") == std::string::npos) {
      state.SkipWithError(("openFPGALoader: " + client.output()).c_str());
      return;
    }
    testsupport::Process own({VARN_BRIDGE_PATH, "-c", c, "-q", "-b", bit, "-p", std::to_string(freePort())}, {}, dir);
    own.waitFor("Bitstream Loaded", 600);
    ownS = lineTime(own, "Bitstream Loaded") - lineTime(own, "Starting Bitstream Load");
  }
  state.counters["xvc_openfpgaloader_s"] = xvcS;
  state.counters["own_load_s"] = ownS;
  std::remove(bit.c_str());
  rmdir(dir.c_str());
}
BENCHMARK(BM_XvcLoadVsOwnLoad)->Arg(2000)->Arg(20000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
