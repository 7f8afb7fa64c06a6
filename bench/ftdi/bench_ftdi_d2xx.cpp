#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "ftdi/d2xx_names.h"
#include "ftdi/ftd2xx.h"
#include "testsupport/ftdi/fake_usb.h"

using namespace varn_d2xx_test;

namespace {

struct OpenFake {
  FakeBus bus;
  FT_HANDLE h = nullptr;
  std::shared_ptr<FakePort> port;
  OpenFake() {
    bus.addChip(makeChip(1, 2, varn_d2xx::kPidFt2232H, "BENCH", "Dual RS232-HS"));
    varn_d2xx::useBus(&bus);
    DWORD n = 0;
    FT_CreateDeviceInfoList(&n);
    FT_Open(0, &h);
    FT_SetUSBParameters(h, 16384, 16384);
    port = bus.port(1, 2, 0);
    port->fifoCapacity = 4096;  // an FT2232H channel
  }
  ~OpenFake() {
    FT_Close(h);
    varn_d2xx::useBus(nullptr);
  }
};

// One MPSSE-sized reply (64 KiB) produced by the chip and read back by FT_Read.
void BM_ReadReply(benchmark::State& state) {
  OpenFake f;
  const size_t size = size_t(state.range(0));
  std::vector<uint8_t> reply(size, 0x5A), got(size);
  for (auto _ : state) {
    std::thread chip([&] { f.port->produce(reply); });
    DWORD n = 0, done = 0;
    while (done < size && FT_Read(f.h, got.data() + done, DWORD(size - done), &n) == FT_OK) done += n;
    chip.join();
    if (done != size) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_ReadReply)->Arg(4096)->Arg(65536)->UseRealTime();

void BM_GetStatus(benchmark::State& state) {
  OpenFake f;
  DWORD rx, tx, ev;
  for (auto _ : state) benchmark::DoNotOptimize(FT_GetStatus(f.h, &rx, &tx, &ev));
}
BENCHMARK(BM_GetStatus);

}  // namespace

BENCHMARK_MAIN();
