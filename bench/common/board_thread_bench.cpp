#include "bench/common/board_thread_bench.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/boardthread/board_pump.h"
#include "app/registry/varn_registry.h"
#include "jtag/ftdi/mpsse.h"
#include "jtag/varn_jtag_handle.h"

void varnBenchDocumentedBoardThread(int board, bool on) {
  VARNBoardPumpUseFixedWait(on ? 75 : 0);
  if (VARNJtag* j = regLoad(varnJtags[board])) {
    j->mpsse->sendImmediate = on ? 0 : 1;
    j->uartBatchFixed = on ? 1 : 0;
    j->uartBatch[0] = 0;
  }
}

int varnBenchMainWithSimD2xx(int argc, char** argv, const char* simPath, const char* name) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, simPath) == nullptr) {
    ::setenv("LD_PRELOAD", simPath, 1);
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr, "%s: re-running with the simulated D2XX library: ", name);
    std::perror("");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::_Exit(0);
}
