// libFuzzer target: the command line and the voltage lists.
#include <cstdlib>

#include "fuzz/cli/cli_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!varnCliFuzzOne(data, size).consistent) std::abort();
  return 0;
}
