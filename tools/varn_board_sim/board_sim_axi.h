// The direct AXI endpoints of varn_board_sim: their command-line options and their
// start-up. Each kind of simulated peer the tool serves keeps its options and its
// runner in a file like this one; main only hands arguments round and waits.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/design/axi_endpoint.h"

namespace varnsim {

struct AxiServeSpec {
  uint16_t port = 0;
  DesignOptions design = {{"app", "axi"}};
  EndpointFaults faults;
};

struct AxiSimArgs {
  std::vector<AxiServeSpec> endpoints;
  AxiServeSpec defaults;  // options given before the first --axi-port
  std::string bindAddr = "127.0.0.1";
};

// Tries argv[i] (and its value) as an AXI endpoint option. Returns the number of
// arguments consumed, 0 when the option is not one of these, -1 with *error set on a
// bad value.
int parseAxiArg(int argc, char** argv, int i, AxiSimArgs* args, std::string* error);

// Usage lines for these options.
const char* axiArgsUsage();

// Starts every endpoint, printing one line per endpoint (with the port actually bound).
// On failure stops what was started and returns false with *error set.
bool startAxiEndpoints(const AxiSimArgs& args, bool verbose, std::vector<std::unique_ptr<AxiEndpoint>>* out,
                       std::string* error);

}  // namespace varnsim
