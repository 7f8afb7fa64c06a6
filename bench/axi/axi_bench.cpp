// What the bridge costs on one machine: 16-byte messages through a raw loopback echo
// against AXI writes and reads through the multi-client bridge to the simulator's
// AXI master design (the socket pair's far end pumped straight into the design).
//
//   build/<dir>/bench/axi/axi_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "testsupport/axi/fake_axi_target.h"
#include "testsupport/axi/flood_client.h"
#include "testsupport/log_capture.h"
#include "testsupport/axi/sim_axi_pump.h"
#include "axi/varn_axi.h"
#include "axi/varn_axi_bridge.h"
#include "axi/varn_axi_packet.h"

namespace {

constexpr int kPipelined = 20000;

// An echo server thread: whatever arrives goes straight back.
struct RawEcho {
  RawEcho() {
    uint16_t port = 0;
    varn_socket l = varnaxitest::listenLoopback(&port);
    client = varnaxitest::connectLoopback(port);
    server = varn_accept(l, nullptr, nullptr);
    varn_close_socket(l);
    varn_set_nodelay(server);
    thread = std::thread([this] {
      std::vector<uint8_t> buf(8192);
      for (;;) {
        long n = varn_recv(server, buf.data(), buf.size());
        if (n <= 0 || varn_send_all(server, buf.data(), size_t(n)) != 0) return;
      }
    });
  }
  ~RawEcho() {
    varn_shutdown_socket(client);
    thread.join();
    varn_close_socket(client);
    varn_close_socket(server);
  }
  varn_socket client, server;
  std::thread thread;
};

// A link through the bridge to the simulated design.
struct BridgePath {
  explicit BridgePath(bool viaBridge) {
    uint16_t port = 0;
    listener = varnaxitest::listenLoopback(&port);
    if (viaBridge) {
      varn_socketpair(pair);
      bridge = VARNAXIBridgeCreate(pair[0], listener);
      pump = std::make_unique<varnaxitest::SimAxiPump>(pair[1], varnsim::DesignOptions{{"family", "lr"}});
      link = VARNAXICreate(0, "127.0.0.1", port);
    } else {
      link = VARNAXICreate(0, "127.0.0.1", port);
      pump = std::make_unique<varnaxitest::SimAxiPump>(varn_accept(listener, nullptr, nullptr),
                                                       varnsim::DesignOptions{{"family", "lr"}});
    }
    VARNAXISetTimeout(link, 2500);
  }
  ~BridgePath() {
    VARNAXIDestroy(&link);
    VARNAXIBridgeDestroy(&bridge);
    pump.reset();
    if (varn_socket_valid(pair[0])) varn_close_socket(pair[0]);
    varn_close_socket(listener);
  }
  varnaxitest::LogCapture quiet;  // keeps "New client connected" off the results
  varn_socket listener = VARN_INVALID_SOCKET;
  varn_socket pair[2] = {VARN_INVALID_SOCKET, VARN_INVALID_SOCKET};
  VARNAXIBridge* bridge = nullptr;
  std::unique_ptr<varnaxitest::SimAxiPump> pump;
  _VARNAXI* link = nullptr;
};

void BM_RawEchoPipelined16B(benchmark::State& state) {
  RawEcho echo;
  uint8_t msg[16] = {1, 2, 3};
  for (auto _ : state) {
    std::atomic<long> back{0};
    std::thread reader([&] {
      std::vector<uint8_t> buf(65536);
      long want = long(kPipelined) * 16;
      while (back < want) {
        long n = varn_recv(echo.client, buf.data(), buf.size());
        if (n <= 0) return;
        back += n;
      }
    });
    for (int i = 0; i < kPipelined; ++i) varn_send_all(echo.client, msg, sizeof(msg));
    reader.join();
  }
  state.SetItemsProcessed(state.iterations() * kPipelined);
}

void BM_RawEchoRoundTrip16B(benchmark::State& state) {
  RawEcho echo;
  uint8_t msg[16] = {1, 2, 3}, in[16];
  for (auto _ : state) {
    varn_send_all(echo.client, msg, sizeof(msg));
    size_t got = 0;
    while (got < 16) {
      long n = varn_recv(echo.client, in + got, 16 - got);
      if (n <= 0) break;
      got += size_t(n);
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void pipelinedWrites(benchmark::State& state, bool viaBridge) {
  BridgePath path(viaBridge);
  uint32_t v = 0;
  for (auto _ : state) {
    for (int i = 0; i < kPipelined; ++i) VARNAXIWrite(path.link, uint32_t(i), 0x40000000 + 4 * uint64_t(i % 1024), false);
    // Answered in order: once this read is back, every write before it was carried out.
    if (VARNAXIRead(path.link, &v, 0x40000000) != 0) state.SkipWithError("read failed");
  }
  state.SetItemsProcessed(state.iterations() * kPipelined);
}

void readRoundTrip(benchmark::State& state, bool viaBridge) {
  BridgePath path(viaBridge);
  uint32_t v = 0;
  for (auto _ : state)
    if (VARNAXIRead(path.link, &v, 0x40000000) != 0) state.SkipWithError("read failed");
  state.SetItemsProcessed(state.iterations());
}

// One raw client keeping writes in flight as fast as the bridge takes them, and three
// links each reading one word at a time, against a target answering about 20 000
// packets a second. Reports the readers' latency and each side's share of the answers.
void BM_BridgeFairnessFloodAndThreeReaders(benchmark::State& state) {
  varnaxitest::LogCapture quiet;
  varn_socket pair[2];
  varn_socketpair(pair);
  uint16_t port = 0;
  varn_socket listener = varnaxitest::listenLoopback(&port);
  VARNAXIBridge* bridge = VARNAXIBridgeCreate(pair[0], listener);
  auto fpga = std::make_unique<varnaxitest::FakeAxiTarget>(pair[1]);
  fpga->setAnswerPaceUs(50);
  auto flood = std::make_unique<varnaxitest::FloodClient>(port);
  constexpr int kReaders = 3, kReads = 100;
  std::vector<_VARNAXI*> links;
  for (int r = 0; r < kReaders; ++r) {
    links.push_back(VARNAXICreate(0, "127.0.0.1", port));
    VARNAXISetTimeout(links.back(), 2500);
  }
  std::vector<double> latencyMs;
  uint64_t floodTotal = 0, readTotal = 0, failed = 0;
  for (auto _ : state) {
    const uint64_t before = flood->answers();
    std::mutex mu;
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
      readers.emplace_back([&, r] {
        for (int k = 0; k < kReads; ++k) {
          uint32_t v = 0;
          uint64_t t0 = varn_monotonic_ns();
          int rc = VARNAXIRead(links[size_t(r)], &v, 0x8000 + 4 * uint64_t(k));
          std::lock_guard<std::mutex> hold(mu);
          latencyMs.push_back(double(varn_monotonic_ns() - t0) / 1e6);
          failed += rc != 0;
        }
      });
    }
    for (auto& t : readers) t.join();
    floodTotal += flood->answers() - before;
    readTotal += kReaders * kReads;
  }
  flood.reset();
  for (_VARNAXI*& l : links) VARNAXIDestroy(&l);
  VARNAXIBridgeDestroy(&bridge);
  fpga.reset();
  varn_close_socket(pair[0]);
  varn_close_socket(listener);
  std::sort(latencyMs.begin(), latencyMs.end());
  state.counters["reader_p50_ms"] = latencyMs[latencyMs.size() / 2];
  state.counters["reader_p99_ms"] = latencyMs[latencyMs.size() * 99 / 100];
  state.counters["reads_failed"] = double(failed);
  state.counters["flood_share"] = double(floodTotal) / double(floodTotal + readTotal);
  state.counters["readers_share"] = double(readTotal) / double(floodTotal + readTotal);
}

enum class Beside { Nothing, Garbage, StalledBulk };

// Round trips of three well-behaved links on a shared bridge port to the simulated
// design: idle, while a fourth client sends random bytes as fast as it can, and while
// a fourth client has sent half of a bulk write and stopped.
void readersBeside(benchmark::State& state, Beside beside) {
  const bool garbage = beside == Beside::Garbage;
  BridgePath path(true);
  const uint16_t port = [&] {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(path.listener, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }();
  std::atomic<bool> stop{false};
  std::thread noise;
  varn_socket noisy = VARN_INVALID_SOCKET;
  if (garbage) {
    noisy = varnaxitest::connectLoopback(port);
    noise = std::thread([&] {
      std::vector<uint8_t> junk(65536);
      uint32_t x = 1;
      while (!stop) {
        for (auto& b : junk) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
        if (varn_send_all(noisy, junk.data(), junk.size()) != 0) return;
      }
    });
  }
  if (beside == Beside::StalledBulk) {
    noisy = varnaxitest::connectLoopback(port);
    std::vector<uint8_t> half(16 + 32768, 0x5A);
    _VARNAXIMakePacket(half.data(), 0x42, 1, 0x40001000, 65536);
    varn_send_all(noisy, half.data(), half.size());
  }
  std::vector<_VARNAXI*> links;
  for (int r = 0; r < 3; ++r) {
    links.push_back(VARNAXICreate(0, "127.0.0.1", port));
    VARNAXISetTimeout(links.back(), 2500);
  }
  std::vector<double> us;
  for (auto _ : state) {
    std::mutex mu;
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
      readers.emplace_back([&, r] {
        for (int k = 0; k < 200; ++k) {
          uint32_t v = 0;
          uint64_t t0 = varn_monotonic_ns();
          if (VARNAXIRead(links[size_t(r)], &v, 0x40000000) != 0) continue;
          std::lock_guard<std::mutex> hold(mu);
          us.push_back(double(varn_monotonic_ns() - t0) / 1e3);
        }
      });
    }
    for (auto& t : readers) t.join();
  }
  stop = true;
  if (noisy != VARN_INVALID_SOCKET) varn_shutdown_socket(noisy);
  if (noise.joinable()) noise.join();
  if (noisy != VARN_INVALID_SOCKET) varn_close_socket(noisy);
  for (_VARNAXI*& l : links) VARNAXIDestroy(&l);
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us.empty() ? 0 : us[us.size() / 2];
  state.counters["p99_us"] = us.empty() ? 0 : us[us.size() * 99 / 100];
  state.counters["answered"] = double(us.size());
}
void BM_BridgeReadersIdle(benchmark::State& s) { readersBeside(s, Beside::Nothing); }
void BM_BridgeReadersBesideGarbage(benchmark::State& s) { readersBeside(s, Beside::Garbage); }
void BM_BridgeReadersBesideAStalledBulk(benchmark::State& s) { readersBeside(s, Beside::StalledBulk); }

void BM_BridgePipelinedWrites(benchmark::State& s) { pipelinedWrites(s, true); }
void BM_DirectPipelinedWrites(benchmark::State& s) { pipelinedWrites(s, false); }
void BM_BridgeReadRoundTrip(benchmark::State& s) { readRoundTrip(s, true); }
void BM_DirectReadRoundTrip(benchmark::State& s) { readRoundTrip(s, false); }

}  // namespace

BENCHMARK(BM_RawEchoPipelined16B)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BridgePipelinedWrites)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectPipelinedWrites)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BridgeFairnessFloodAndThreeReaders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BridgeReadersIdle)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BridgeReadersBesideGarbage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BridgeReadersBesideAStalledBulk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RawEchoRoundTrip16B)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BridgeReadRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_DirectReadRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
