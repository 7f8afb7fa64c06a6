// Host-side cost of a bitstream-sized data-register shift: 4096-byte chunks, each byte
// sent most significant bit first, staying in Shift-DR, as configuration loading does.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/common/count_sink.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/tap.h"
#include "jtag/transport.h"

namespace {

constexpr size_t kChunk = 4096;
constexpr size_t kStream = 32u << 20;  // 32 MiB per iteration, a large bitstream

void shiftBitstream(benchmark::State& state, bool coalesce) {
  VARNJtag j{};
  j.ftHandle = reinterpret_cast<FT_HANDLE>(1);
  varn_jtag_use_ftdi(&j);
  j.mpsse = mpsse_buffer_alloc();
  j.mpsse->coalesceWrites = coalesce ? 1 : 0;
  j.tapState = IDLE;
  j.deviceCount = 1;
  std::vector<uint8_t> chunk(kChunk);
  for (size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<uint8_t>(i * 131 + 7);
  countsink::counters() = {};
  uint64_t payload = 0;
  for (auto _ : state) {
    for (size_t sent = 0; sent < kStream; sent += kChunk) {
      varn_jtag_comm_tap_dr_shift(&j, 0, kChunk * 8, 1, chunk.data(), nullptr, DRSHIFT, true);
    }
    ftdi_mpsse_flush(j.ftHandle, j.mpsse);
    payload += kStream;
  }
  const auto& c = countsink::counters();
  state.SetBytesProcessed(static_cast<int64_t>(payload));
  // Command bytes that are not payload, in percent of the payload (the one TMS move
  // into Shift-DR counts too).
  state.counters["overhead_pct"] = 100.0 * static_cast<double>(c.bytesWritten - payload) / static_cast<double>(payload);
  state.counters["writes_per_MiB"] = static_cast<double>(c.writeCalls) / (static_cast<double>(payload) / (1 << 20));
  mpsse_buffer_free(j.mpsse);
}

// The default stream: one command per 4096-byte chunk.
void BM_BitstreamShift(benchmark::State& state) { shiftBitstream(state, false); }
// With coalesceWrites: consecutive chunks extend one command per flush.
void BM_BitstreamShiftCoalesced(benchmark::State& state) { shiftBitstream(state, true); }

BENCHMARK(BM_BitstreamShift)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitstreamShiftCoalesced)->Unit(benchmark::kMillisecond);

}  // namespace
