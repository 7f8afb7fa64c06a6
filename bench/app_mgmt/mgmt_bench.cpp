// How long a management request waits for its frame in the real varn_tcp_bridge (two
// simulated CoE boards, -m): a "VNTM" answered by the telemetry frame and a "VNDL" by
// the device list, with no other client and with 63 other clients connected, one of
// which never reads (its frames pile up). Counters in microseconds, side by side.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/platform/varn_platform.h"
#include "testsupport/net/loopback.h"
#include "testsupport/process/process.h"

namespace {

using testsupport::loopbackAddress;
uint16_t freePort() { return testsupport::freeLoopbackPort(); }

using Clock = std::chrono::steady_clock;

varn_socket connectTo(uint16_t port, int receiveBuffer = 0) {
  varn_socket s = varn_tcp_socket();
  if (receiveBuffer > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  if (varn_connect_ipv4(s, "127.0.0.1", port) != 0) {
    varn_close_socket(s);
    return VARN_INVALID_SOCKET;
  }
  varn_set_nodelay(s);
  return s;
}

struct Rig {
  std::unique_ptr<testsupport::Process> sim, bridge;
  uint16_t port = 0;
  std::string error;
};

Rig& rig() {
  static Rig* r = [] {
    auto* r = new Rig;
    const std::string a = loopbackAddress(1), b = loopbackAddress(2);
    r->sim = std::make_unique<testsupport::Process>(
        std::vector<std::string>{VARN_BOARD_SIM_PATH, "--coe-board", a, "--coe-fpga", "vu9p,app=echo", "--coe-board", b,
                                 "--coe-fpga", "vu35p,app=echo"},
        std::vector<std::string>{}, "/tmp");
    if (!r->sim->waitFor("CoE board controller on", 10, 2)) r->error = "varn_board_sim did not start";
    r->port = freePort();
    r->bridge = std::make_unique<testsupport::Process>(
        std::vector<std::string>{VARN_BRIDGE_PATH, "-c", a + "," + b, "-m", "-n", std::to_string(r->port), "-q", "-p",
                                 std::to_string(freePort())},
        std::vector<std::string>{}, "/tmp");
    if (!r->bridge->waitFor("Thread starting for board 1", 30)) r->error = "the bridge did not start";
    return r;
  }();
  return *r;
}

// Sends the request and reads until the frame's magic has arrived; microseconds.
double ask(varn_socket s, const char* request, const char* magic) {
  auto t0 = Clock::now();
  varn_send_all(s, request, 4);
  std::string got;
  char buf[65536];
  while (got.find(magic) == std::string::npos) {
    long n = varn_recv(s, buf, sizeof buf);
    if (n <= 0) return -1;
    got.append(buf, static_cast<size_t>(n));
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

void BM_ManagementAnswer(benchmark::State& state) {
  Rig& r = rig();
  if (!r.error.empty()) {
    state.SkipWithError(r.error.c_str());
    return;
  }
  const int others = static_cast<int>(state.range(0));
  std::vector<varn_socket> crowd;
  for (int i = 0; i < others; ++i) crowd.push_back(connectTo(r.port, i == 0 ? 2048 : 0));
  varn_socket me = connectTo(r.port);
  double tm = 0, dl = 0;
  int64_t n = 0;
  char drain[65536];
  for (auto _ : state) {
    const double a = ask(me, "VNTM", "VNTE"), b = ask(me, "VNDL", "VNDL");
    if (a < 0 || b < 0) {
      state.SkipWithError("the bridge closed the connection");
      break;
    }
    tm += a;
    dl += b;
    ++n;
    // Every other client but the first reads what it gets, as a live monitor would.
    for (size_t i = 1; i < crowd.size(); ++i)
      while (recv(crowd[i], drain, sizeof drain, MSG_DONTWAIT) > 0) {
      }
  }
  state.counters["telemetry_us"] = tm / static_cast<double>(n ? n : 1);
  state.counters["devicelist_us"] = dl / static_cast<double>(n ? n : 1);
  for (varn_socket s : crowd) varn_close_socket(s);
  varn_close_socket(me);
  varn_sleep_ms(200);  // the bridge frees the slots on its next turns
}
BENCHMARK(BM_ManagementAnswer)->Arg(0)->Arg(63)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
