// A Xilinx load over the simulated FTDI chip: a generated VU9P bitstream goes through
// the JTAG engine and the simulated D2XX library to the simulated FT232H at 30 MHz TCK.
// The simulator runs inside the D2XX calls on the loading thread, so the CPU figures
// cover host and simulator together (bitstream_bench_host gives the host alone); the
// simulated time is the wire time the chip's USB and TCK model accounts for.
// With --rss=MiB: one load of that size and the peak resident size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/bitstream/bench_files.h"
#include "bitstream/varn_bitstream.h"
#include "ftdi/ftd2xx.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"
#include "sim/d2xx/varnsim_api.h"
#include "tools/varn_bitgen/bitgen.h"

namespace {

constexpr double kWireSecondsPerMiB = 8388608.0 / 30e6;

double wallSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Board {
  FT_HANDLE handle = nullptr;
  VARNJtag* jtag = nullptr;
  std::string serial;
  bool open() {
    if (varnsim_load_text("board b\ndevice VU9P\nftdi FT232H serial=FTBENCH\nchannel A jtag=b\n") != 0) return false;
    DWORD n = 0, flags = 0, type = 0, id = 0, loc = 0;
    char s[FT_SERIAL_SIZE] = {}, d[FT_DESCRIPTION_SIZE] = {};
    if (FT_CreateDeviceInfoList(&n) != FT_OK || n == 0) return false;
    if (FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, s, d, nullptr) != FT_OK) return false;
    serial = s;
    if (FT_Open(0, &handle) != FT_OK) return false;
    return VARNJtagCreate(handle, 30000000, &jtag) == 0 && jtag->deviceCount == 1;
  }
  ~Board() {
    if (jtag) VARNJtagDestroy(jtag);
    if (handle) FT_Close(handle);
  }
};

std::string makeFile(uint64_t mib) {
  varnbitgen::BitOptions o;
  o.part = "VU9P";
  o.sizeBytes = mib << 20;
  const char* dir = std::getenv("TMPDIR");
  const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/varn_bench_ftdi_" + std::to_string(mib) + ".bit";
  std::string error;
  if (!varnbitgen::writeBitFile(o, path, &error)) return "";
  return path;
}

void BM_XilinxLoadFtdiSim(benchmark::State& state) {
  const uint64_t mib = static_cast<uint64_t>(state.range(0));
  const std::string path = makeFile(mib);
  Board b;
  if (path.empty() || !b.open()) {
    state.SkipWithError("set-up failed");
    return;
  }
  VARNProgressCell progress{0.0};
  double wall = 0, cpu = 0, sim = 0;
  uint64_t loads = 0, tcks = 0, usb = 0;
  for (auto _ : state) {
    VarnsimChannelCounters c0{}, c1{};
    varnsim_channel_counters(b.serial.c_str(), &c0);
    const double w0 = wallSeconds(), p0 = benchfiles::processCpuSeconds();
    const int rc = VARNJtagLoadBitstream(b.jtag, 0, path.c_str(), 0, &progress);
    wall += wallSeconds() - w0;
    cpu += benchfiles::processCpuSeconds() - p0;
    varnsim_channel_counters(b.serial.c_str(), &c1);
    sim += static_cast<double>(c1.simTimeNs - c0.simTimeNs) * 1e-9;
    tcks += c1.tcks - c0.tcks;
    usb += c1.usbExchanges - c0.usbExchanges;
    ++loads;
    VarnsimDeviceState st{};
    varnsim_device_state("b", 0, &st);
    if (rc != 0 || !st.done) state.SkipWithError("load failed or device not DONE");
  }
  const double n = static_cast<double>(loads * mib);
  state.counters["sim_wire_s_per_MiB"] = sim / n;
  state.counters["ideal_wire_s_per_MiB_30MHz"] = kWireSecondsPerMiB;
  state.counters["tck_per_MiB"] = static_cast<double>(tcks) / n;
  state.counters["usb_round_trips_per_MiB"] = static_cast<double>(usb) / n;
  state.counters["cpu_s_per_MiB_host_and_sim"] = cpu / n;
  state.counters["wall_s_per_MiB"] = wall / n;
  std::remove(path.c_str());
}
BENCHMARK(BM_XilinxLoadFtdiSim)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rss=", 6) == 0) {
      const uint64_t mib = static_cast<uint64_t>(std::atoi(argv[i] + 6));
      const std::string path = makeFile(mib);
      Board b;
      if (path.empty() || !b.open()) return 2;
      VARNProgressCell progress{0.0};
      const int rc = VARNJtagLoadBitstream(b.jtag, 0, path.c_str(), 0, &progress);
      std::printf("file %u MiB: result %i, peak RSS %ld KiB\n", static_cast<unsigned>(mib), rc,
                  benchfiles::peakRssKiB());
      std::remove(path.c_str());
      return rc;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
