// varn_board_sim: simulated FPGA peers on TCP for tests and demonstrations.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "sim/design/pmbus_regulator.h"
#include "tools/varn_board_sim/board_sim_axi.h"
#include "tools/varn_board_sim/board_sim_coe.h"

namespace {
std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }
}  // namespace

int main(int argc, char** argv) {
  varnsim::AxiSimArgs axi;
  varnsim::CoeSimArgs coe;
  bool verbose = false;
  for (int i = 1; i < argc;) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::printf("usage: varn_board_sim [options]\n  --verbose            print client connections and every regulator write\n%s%s",
                  varnsim::axiArgsUsage(), varnsim::coeArgsUsage());
      return 0;
    }
    if (!std::strcmp(argv[i], "--verbose")) {
      verbose = true;
      varnsim::setRegulatorWriteTrace(stdout);
      ++i;
      continue;
    }
    std::string error;
    int used = varnsim::parseAxiArg(argc, argv, i, &axi, &error);
    if (used == 0) used = varnsim::parseCoeArg(argc, argv, i, &coe, &error);
    if (used < 0) {
      std::fprintf(stderr, "varn_board_sim: %s\n", error.c_str());
      return 2;
    }
    if (used == 0) {
      std::fprintf(stderr, "varn_board_sim: unknown option '%s' (try --help)\n", argv[i]);
      return 2;
    }
    i += used;
  }
  if (axi.endpoints.empty() && coe.boards.empty()) {
    std::fprintf(stderr, "varn_board_sim: nothing to serve: give --axi-port N or --coe-board (try --help)\n");
    return 2;
  }
  std::vector<std::unique_ptr<varnsim::AxiEndpoint>> endpoints;
  std::string error;
  if (!varnsim::startAxiEndpoints(axi, verbose, &endpoints, &error)) {
    std::fprintf(stderr, "varn_board_sim: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::unique_ptr<varnsim::CoeBoard>> boards;
  if (!varnsim::startCoeBoards(coe, &boards, &error)) {
    std::fprintf(stderr, "varn_board_sim: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  while (!gStop) varn_sleep_ms(50);
  boards.clear();
  endpoints.clear();
  return 0;
}
