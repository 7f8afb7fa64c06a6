// libFuzzer target: the AXI bridge's client side, one to four clients at a time.
#include <cstdlib>

#include "fuzz/axi/bridge_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bridgefuzz::fuzzOne(data, size).consistent) std::abort();
  return 0;
}
