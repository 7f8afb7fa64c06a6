// JTAG-UART v2 reads from a saturated FIFO, against the simulated FTDI chip and FPGA
// (libvarn_ftdisim): simulated bytes per second and USB exchanges, with the latency
// timer at the handle's default (4 ms), and the same with a send-immediate (0x87)
// ending each flush.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/settings/varn_settings.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/varn_jtag.h"
#include "jtag/varn_jtag_handle.h"
#include "sim/d2xx/varnsim_api.h"

namespace {

const char* kBoard = R"(
board b
device VU35P preconfigured=yes uart=v2 app=echo family=none fifo_in=1048576 fifo_out=1048576
ftdi FT232H serial=UARTB
channel A jtag=b
)";

constexpr uint32_t kFill = 32768;  // bytes waiting in the FPGA's FIFO per iteration
constexpr uint32_t kRoom = 2048;   // what the board thread asks for per call

VARNJtag* openBoard() {
  if (varnsim_load_text(kBoard) != 0) return nullptr;
  DWORD n = 0;
  FT_CreateDeviceInfoList(&n);
  FT_HANDLE h = nullptr;
  if (n < 1 || FT_Open(0, &h) != FT_OK) return nullptr;
  VARNJtag* j = nullptr;
  // The scan's log lines go to the log ring instead of between the results.
  gUseGUI = true;
  int rc = VARNJtagCreate(h, 30000000, &j);
  gUseGUI = false;
  return rc == 0 ? j : nullptr;
}

void readSaturated(benchmark::State& state, bool sendImmediate) {
  VARNJtag* j = openBoard();
  if (j == nullptr) {
    state.SkipWithError("simulated board did not open");
    return;
  }
  std::vector<uint8_t> fill(kFill);
  for (uint32_t i = 0; i < kFill; ++i) fill[i] = static_cast<uint8_t>(i);
  uint8_t buf[kRoom];
  uint64_t bytes = 0, exchanges = 0, simNs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    j->mpsse->sendImmediate = 0;
    uint32_t written = 0;
    VARNJtagUartV1WriteBytes(j, 0, fill.data(), kFill, &written);
    j->mpsse->sendImmediate = sendImmediate ? 1 : 0;
    VarnsimChannelCounters before{}, after{};
    varnsim_channel_counters("UARTB", &before);
    state.ResumeTiming();
    uint32_t got = 0;
    while (got < kFill) {
      uint32_t n = 0;
      if (VARNJtagUartV2ReadBytes(j, 0, buf, kRoom, &n, 2) != 0) break;
      got += n;
    }
    state.PauseTiming();
    varnsim_channel_counters("UARTB", &after);
    bytes += got;
    exchanges += after.usbExchanges - before.usbExchanges;
    simNs += after.simTimeNs - before.simTimeNs;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["sim_bytes_per_s"] = simNs ? 1e9 * static_cast<double>(bytes) / static_cast<double>(simNs) : 0;
  state.counters["bytes_per_exchange"] = exchanges ? static_cast<double>(bytes) / static_cast<double>(exchanges) : 0;
  state.counters["exchanges"] = static_cast<double>(exchanges) / static_cast<double>(state.iterations());

  // One idle poll: the FIFO is empty now.
  VarnsimChannelCounters before{}, after{};
  varnsim_channel_counters("UARTB", &before);
  uint32_t n = 0;
  VARNJtagUartV2ReadBytes(j, 0, buf, kRoom, &n, 2);
  varnsim_channel_counters("UARTB", &after);
  state.counters["idle_poll_exchanges"] = static_cast<double>(after.usbExchanges - before.usbExchanges);
  state.counters["idle_poll_sim_us"] = static_cast<double>(after.simTimeNs - before.simTimeNs) / 1000.0;
  VARNJtagDestroy(j);
}

void BM_UartV2ReadSaturated(benchmark::State& state) { readSaturated(state, false); }
void BM_UartV2ReadSaturatedSendImmediate(benchmark::State& state) { readSaturated(state, true); }

BENCHMARK(BM_UartV2ReadSaturated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UartV2ReadSaturatedSendImmediate)->Unit(benchmark::kMillisecond);

}  // namespace
