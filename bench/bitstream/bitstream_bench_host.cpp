// Host cost of a Xilinx load over FTDI with no chip behind it: the bitstream code and
// the MPSSE encoding of a whole file, against a D2XX sink that answers with ones.
// Reports host CPU seconds per MiB against the wire time at 30 MHz TCK, and, with
// --rss=MiB, the peak resident size of one load of that size (run it for two sizes:
// memory must not grow with the file).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bitstream/bench_files.h"
#include "bench/common/count_sink.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"
#include "jtag/transport.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/varn_jtag_handle.h"

namespace {

constexpr double kWireSecondsPerMiB = 8388608.0 / 30e6;

VARNJtag makeVu9pHandle() {
  VARNJtag j{};
  j.ftHandle = reinterpret_cast<FT_HANDLE>(0x1);
  varn_jtag_use_ftdi(&j);
  j.mpsse = mpsse_buffer_alloc();
  j.tapState = RESET;
  j.usbPid = 0x6014;
  j.jtagClockHz = 30000000;
  j.deviceCount = 1;
  j.idcodes[0] = static_cast<uint32_t>(JTAG_IDCODES[JTAG_DEV_VU9P]);
  j.deviceType[0] = JTAG_DEV_VU9P;
  for (int i = 1; i < VARN_JTAG_MAX_DEVICES; ++i) j.deviceType[i] = -1;
  j.irLength[0] = 18;
  j.totalIrLength = 18;
  return j;
}

void BM_XilinxLoadFtdiHostOnly(benchmark::State& state) {
  const uint32_t mib = static_cast<uint32_t>(state.range(0));
  benchfiles::ScratchFile file(mib);
  VARNJtag j = makeVu9pHandle();
  countsink::counters() = {};
  countsink::counters().readFill = 0xFF;
  VARNProgressCell progress{0.0};
  double cpu = 0;
  uint64_t loads = 0;
  for (auto _ : state) {
    const double c0 = benchfiles::processCpuSeconds();
    const int rc = VARNJtagLoadBitstream(&j, 0, file.path().c_str(), 0, &progress);
    cpu += benchfiles::processCpuSeconds() - c0;
    ++loads;
    if (rc != 0) state.SkipWithError("load failed");
  }
  const double perMiB = cpu / static_cast<double>(loads * mib);
  state.counters["host_cpu_s_per_MiB"] = perMiB;
  state.counters["wire_s_per_MiB_30MHz"] = kWireSecondsPerMiB;
  state.counters["host_share_of_wire_pct"] = 100.0 * perMiB / kWireSecondsPerMiB;
  state.counters["usb_bytes_per_MiB"] =
      static_cast<double>(countsink::counters().bytesWritten) / static_cast<double>(loads * mib);
  mpsse_buffer_free(j.mpsse);
}
BENCHMARK(BM_XilinxLoadFtdiHostOnly)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rss=", 6) == 0) {
      const uint32_t mib = static_cast<uint32_t>(std::atoi(argv[i] + 6));
      benchfiles::ScratchFile file(mib);
      VARNJtag j = makeVu9pHandle();
      countsink::counters().readFill = 0xFF;
      VARNProgressCell progress{0.0};
      const int rc = VARNJtagLoadBitstream(&j, 0, file.path().c_str(), 0, &progress);
      std::printf("file %u MiB: result %i, peak RSS %ld KiB\n", mib, rc, benchfiles::peakRssKiB());
      return rc;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
