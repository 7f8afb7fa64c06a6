// What the benchmarks that run the bridge's board threads in their own process share.
#pragma once

// The board thread as it was before it waited for work, for rows measured beside
// today's: fixed 75 us turns that drain every device, and on board `board`'s FTDI
// handle replies left to the latency timer and 32-scan JTAG-UART batches. Set while the
// board's thread runs: only measurements do that. `on` false puts today's back.
void varnBenchDocumentedBoardThread(int board, bool on);

// main() of such a benchmark: FT_* must come from the simulated D2XX library at
// `simPath`, as when the program runs with it preloaded, so the process runs itself
// again with it preloaded when it is not; then the benchmarks run and the process ends
// without joining its board threads (they run for the life of the process, as in the
// program).
int varnBenchMainWithSimD2xx(int argc, char** argv, const char* simPath, const char* name);
