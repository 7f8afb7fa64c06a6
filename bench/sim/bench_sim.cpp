// Simulator speed and the USB costs it models.
//
//  - CfgInEngine: a whole generated VU9P bitstream through the MPSSE engine into the
//    chain (byte commands of 65533 bytes in Shift-DR under CFG_IN), reported as
//    TCK per wall-clock second. The target behind two bypassed devices takes the
//    misaligned path.
//  - CfgInD2xx: the same through FT_Write of the simulated D2XX library, with the
//    simulated time the load takes at 30 MHz.
//  - RoundTrip: one write-and-read exchange, with and without send-immediate, in
//    simulated microseconds (the latency a real host would see) and in wall time.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "sim/core/parts.h"
#include "sim/core/xilinx_device.h"
#include "sim/d2xx/varnsim_api.h"
#include "sim/mpsse/mpsse_engine.h"
#include "ftdi/ftd2xx.h"
#include "tools/varn_bitgen/bitgen.h"

namespace {

using namespace varnsim;

const std::vector<uint8_t>& bitstream() {
  static std::vector<uint8_t> v = [] {
    varnbitgen::BitOptions o;
    o.part = "VU9P";
    o.sizeBytes = 16u << 20;
    return varnbitgen::makeBit(o);
  }();
  return v;
}

struct NullSink : MpsseSink {
  bool room(size_t) const override { return true; }
  void put(uint8_t, uint64_t) override {}
  void sendImmediate(uint64_t) override {}
};

// IR bits for `target` in a chain of VU9Ps (all 18-bit), others BYPASS.
std::vector<uint8_t> irCommands(int devices, int target, uint32_t ir) {
  std::vector<bool> bits;
  for (int i = devices - 1; i >= 0; --i)
    for (int k = 0; k < 18; ++k) bits.push_back(i == target ? ((ir >> k) & 1) : true);
  std::vector<uint8_t> c = {0x4B, 0x03, 0x03};  // Idle -> Shift-IR
  for (size_t i = 0; i + 1 < bits.size(); ++i) c.insert(c.end(), {0x1B, 0x00, static_cast<uint8_t>(bits[i])});
  c.insert(c.end(), {0x4B, 0x02, static_cast<uint8_t>(0x03 | (bits.back() ? 0x80 : 0))});  // exit, update, idle
  return c;
}

void runLoad(MpsseEngine& e, int devices, int target, const std::vector<uint8_t>& file) {
  auto feed = [&](const std::vector<uint8_t>& c) { e.feed(c.data(), c.size()); };
  feed({0x4B, 0x06, 0x7F, 0x4B, 0x00, 0x00});  // reset, idle
  feed(irCommands(devices, target, 0x0B2CB));  // JPROGRAM
  feed({0x8F, 0xFF, 0x0F});                    // 32768 clocks of housecleaning
  feed(irCommands(devices, target, 0x05924));  // CFG_IN
  feed({0x4B, 0x02, 0x01});                    // Shift-DR
  std::vector<uint8_t> cmd(3 + 65533);
  for (size_t off = 0; off < file.size(); off += 65533) {
    const size_t n = std::min<size_t>(65533, file.size() - off);
    cmd.resize(3 + n);
    cmd[0] = 0x11;  // bytes MSB first, as configuration data go
    cmd[1] = static_cast<uint8_t>((n - 1) & 0xFF);
    cmd[2] = static_cast<uint8_t>((n - 1) >> 8);
    std::copy(file.begin() + static_cast<long>(off), file.begin() + static_cast<long>(off + n), cmd.begin() + 3);
    feed(cmd);
  }
  // The stream ends in NOOPs: the bits the bypass registers still hold do not matter.
  feed({0x4B, 0x02, 0x03});
  feed(irCommands(devices, target, 0x0C30C));  // JSTART
  feed({0x8F, 0xFF, 0x00, 0x4B, 0x06, 0x7F});
}

void CfgInEngine(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0)), target = static_cast<int>(state.range(1));
  const auto& file = bitstream();
  uint64_t tcks = 0;
  bool done = true;
  for (auto _ : state) {
    JtagChain chain;
    std::vector<XilinxDevice*> devs;
    for (int i = 0; i < devices; ++i) {
      DeviceConfig cfg;
      cfg.part = findPart("VU9P");
      auto d = std::make_unique<XilinxDevice>(cfg, nullptr);
      devs.push_back(d.get());
      chain.add(std::move(d));
    }
    NullSink sink;
    MpsseEngine e(chipInfo(ChipKind::FT2232H), sink);
    e.setChain(&chain);
    e.reset(0x0B);
    const uint8_t init[] = {0x8A, 0x97, 0x86, 0x00, 0x00, 0x80, 0xE8, 0xEB};
    e.feed(init, sizeof init);
    runLoad(e, devices, target, file);
    tcks += e.tcks();
    done = done && devs[static_cast<size_t>(target)]->done();
  }
  if (!done) state.SkipWithError("the bitstream did not configure the device");
  state.counters["TCK/s"] = benchmark::Counter(static_cast<double>(tcks), benchmark::Counter::kIsRate);
  state.counters["MiB"] = static_cast<double>(file.size()) / (1 << 20);
}
BENCHMARK(CfgInEngine)->Args({1, 0})->Args({3, 2})->Unit(benchmark::kMillisecond)->Iterations(3);

void CfgInD2xx(benchmark::State& state) {
  if (varnsim_load_text("board b\ndevice VU9P\nftdi FT2232H serial=BENCH\nchannel A jtag=b\n") != 0) {
    state.SkipWithError(varnsim_last_error());
    return;
  }
  const auto& file = bitstream();
  FT_HANDLE h;
  FT_Open(0, &h);
  FT_SetBitMode(h, 0x0B, 0);
  FT_SetBitMode(h, 0x0B, 2);
  FT_SetTimeouts(h, 1000, 1000);
  auto send = [&](const std::vector<uint8_t>& c) {
    size_t done = 0;
    while (done < c.size()) {
      DWORD w = 0;
      FT_Write(h, const_cast<uint8_t*>(c.data() + done), static_cast<DWORD>(c.size() - done), &w);
      done += w;
    }
  };
  uint64_t tcks0 = 0, sim0 = 0;
  VarnsimChannelCounters c;
  varnsim_channel_counters("BENCHA", &c);
  tcks0 = c.tcks;
  sim0 = c.simTimeNs;
  for (auto _ : state) {
    send({0x8A, 0x97, 0x86, 0x00, 0x00, 0x80, 0xE8, 0xEB, 0x4B, 0x06, 0x7F, 0x4B, 0x00, 0x00});
    send(irCommands(1, 0, 0x0B2CB));
    send({0x8F, 0xFF, 0x0F});
    send(irCommands(1, 0, 0x05924));
    send({0x4B, 0x02, 0x01});
    std::vector<uint8_t> cmd;
    for (size_t off = 0; off < file.size(); off += 65533) {
      const size_t n = std::min<size_t>(65533, file.size() - off);
      cmd.assign({0x11, static_cast<uint8_t>((n - 1) & 0xFF), static_cast<uint8_t>((n - 1) >> 8)});
      cmd.insert(cmd.end(), file.begin() + static_cast<long>(off), file.begin() + static_cast<long>(off + n));
      send(cmd);
    }
    send({0x4B, 0x02, 0x03});
    send(irCommands(1, 0, 0x0C30C));
    send({0x8F, 0xFF, 0x00, 0x4B, 0x06, 0x7F});
  }
  VarnsimDeviceState st;
  varnsim_device_state("b", 0, &st);
  if (!st.done) state.SkipWithError("the bitstream did not configure the device");
  varnsim_channel_counters("BENCHA", &c);
  state.counters["TCK/s"] = benchmark::Counter(static_cast<double>(c.tcks - tcks0), benchmark::Counter::kIsRate);
  state.counters["sim_s/load"] = static_cast<double>(c.simTimeNs - sim0) / 1e9 / static_cast<double>(state.iterations());
  FT_Close(h);
}
BENCHMARK(CfgInD2xx)->Unit(benchmark::kMillisecond)->Iterations(2);

void RoundTrip(benchmark::State& state) {
  const bool immediate = state.range(0) != 0;
  varnsim_load_text("board b\ndevice VU9P\nftdi FT2232H serial=RT\nchannel A jtag=b\n");
  FT_HANDLE h;
  FT_Open(0, &h);
  FT_SetBitMode(h, 0x0B, 2);
  FT_SetLatencyTimer(h, 4);
  FT_SetTimeouts(h, 1000, 1000);
  uint8_t cmd[2] = {0x81, 0x87};
  VarnsimChannelCounters a, b;
  varnsim_channel_counters("RTA", &a);
  for (auto _ : state) {
    DWORD w, got;
    uint8_t v;
    FT_Write(h, cmd, immediate ? 2 : 1, &w);
    FT_Read(h, &v, 1, &got);
    benchmark::DoNotOptimize(v);
  }
  varnsim_channel_counters("RTA", &b);
  state.counters["sim_us/exchange"] =
      static_cast<double>(b.simTimeNs - a.simTimeNs) / 1e3 / static_cast<double>(state.iterations());
  state.counters["exchanges"] = static_cast<double>(b.usbExchanges - a.usbExchanges);
  FT_Close(h);
}
BENCHMARK(RoundTrip)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
