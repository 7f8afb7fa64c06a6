// A Xilinx load over CoE against the simulated board controller on loopback: requests
// and time per MiB of a generated VU9P bitstream, against the wire time at 13.5 MHz.
// The controller and the simulated silicon run in this process, so process CPU covers
// both sides; the loading thread's own CPU is reported apart.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <string>

#include "bench/bitstream/bench_files.h"
#include "bitstream/bitstream_internal.h"
#include "bitstream/varn_bitstream.h"
#include "coe/coe_link.h"
#include "jtag/varn_jtag_handle.h"
#include "sim/controller/controller_server.h"
#include "sim/controller/core_chain.h"
#include "sim/core/jtag_chain.h"
#include "sim/core/xilinx_device.h"
#include "tools/varn_bitgen/bitgen.h"

using namespace varnsim;

namespace {

constexpr double kWireSecondsPerMiB = 8388608.0 / 13.5e6;

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double wallSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_XilinxLoadCoE(benchmark::State& state) {
  const uint64_t mib = static_cast<uint64_t>(state.range(0));
  varnbitgen::BitOptions o;
  o.part = "VU9P";
  o.sizeBytes = mib << 20;
  const std::string path = "/tmp/varn_bench_coe_" + std::to_string(mib) + ".bit";
  std::string error;
  if (!varnbitgen::writeBitFile(o, path, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  JtagChain chain;
  DeviceConfig dc;
  dc.part = findPart("VU9P");
  fillDefaultIdentity(dc, 1);
  chain.add(std::make_unique<XilinxDevice>(dc, nullptr));
  CoreChain core(chain);
  ControllerConfig cfg;
  cfg.slots[0].device = 0;
  cfg.slots[0].hasRegulators = true;
  ControllerServer server("127.0.0.199", VN_COE_PORT, core, cfg);
  if (!server.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  VARNJtag* jtag = nullptr;
  if (VARNJtagCreateCoE("127.0.0.199", 13500000, &jtag) != 0) {
    state.SkipWithError("CoE connect failed");
    server.stop();
    return;
  }
  varn_bit_set_coe_status_pause_ms(0);
  VARNProgressCell progress{0.0};
  double wall = 0, cpu = 0, own = 0;
  uint64_t loads = 0;
  const uint64_t before = server.inspect([](BoardController& c) { return c.requests(0x1012); });
  for (auto _ : state) {
    const double w0 = wallSeconds(), c0 = benchfiles::processCpuSeconds(), t0 = threadCpuSeconds();
    const int rc = VARNJtagLoadBitstream(jtag, 0, path.c_str(), 0, &progress);
    wall += wallSeconds() - w0;
    cpu += benchfiles::processCpuSeconds() - c0;
    own += threadCpuSeconds() - t0;
    ++loads;
    if (rc != 0) state.SkipWithError("load failed");
    const bool done = server.inspect([&](BoardController&) {
      return dynamic_cast<XilinxDevice&>(chain.device(0)).done();
    });
    if (!done) state.SkipWithError("device not DONE");
  }
  const uint64_t shifts = server.inspect([](BoardController& c) { return c.requests(0x1012); }) - before;
  const double n = static_cast<double>(loads * mib);
  state.counters["shift_requests_per_MiB"] = static_cast<double>(shifts) / n;
  state.counters["wall_s_per_MiB"] = wall / n;
  state.counters["process_cpu_s_per_MiB"] = cpu / n;
  state.counters["loader_thread_cpu_s_per_MiB"] = own / n;
  state.counters["wire_s_per_MiB_13.5MHz"] = kWireSecondsPerMiB;
  _VNCoELink* link = jtag->coeLink;
  VARNJtagDestroy(jtag);
  VNCoELinkDestroy(link);
  server.stop();
  std::remove(path.c_str());
  varn_bit_set_coe_status_pause_ms(1000);
}
BENCHMARK(BM_XilinxLoadCoE)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
