#include <benchmark/benchmark.h>

#include <vector>

#include "sim/design/axi_packet.h"
#include "sim/design/design.h"

namespace {

using varnsim::Design;

std::unique_ptr<Design> make(varnsim::DesignOptions o) {
  std::string err;
  return varnsim::makeDesignChecked(o, &err);
}

// One byte in through USER2 and out through USER1 (v2), echoed: 17 TCKs of scans.
void BM_JtagUartEchoByte(benchmark::State& st) {
  auto d = make({{"uart", "v2"}, {"app", "echo"}});
  uint8_t b = 0;
  for (auto _ : st) {
    d->capture(2);
    for (int i = 0; i < 8; ++i) d->shift(2, (b >> i) & 1);
    d->update(2);
    d->capture(1);
    unsigned w = 0;
    for (int i = 0; i < 9; ++i) {
      w |= unsigned{d->tdo(1)} << i;
      d->shift(1, false);
    }
    d->update(1);
    benchmark::DoNotOptimize(w);
    ++b;
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_JtagUartEchoByte);

// A read request through the pins and its answer out: the AXI master's per-frame cost.
void BM_AxiMasterReadFrame(benchmark::State& st) {
  auto d = make({{"app", "axi"}});
  auto req = varnsim::makeFrame(0x01, 1, 0x1000, 0xAAAAAAAA);
  uint8_t out[16];
  for (auto _ : st) {
    d->uart().toFpga(req.data(), 16);
    benchmark::DoNotOptimize(d->uart().fromFpga(out, 16));
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_AxiMasterReadFrame);

// Bulk-write payload into RAM with its CRC-32, per byte.
void BM_AxiMasterBulkPayload(benchmark::State& st) {
  auto d = make({{"app", "axi"}, {"fifo_in", "65536"}});
  std::vector<uint8_t> payload(3968, 0x5A);
  uint8_t out[16];
  for (auto _ : st) {
    auto hdr = varnsim::makeFrame(0x42, 2, 0x200000, static_cast<uint32_t>(payload.size()));
    d->uart().toFpga(hdr.data(), 16);
    d->uart().toFpga(payload.data(), payload.size());
    benchmark::DoNotOptimize(d->uart().fromFpga(out, 16));
  }
  st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(payload.size()));
}
BENCHMARK(BM_AxiMasterBulkPayload);

}  // namespace
