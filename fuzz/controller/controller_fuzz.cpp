// libFuzzer target: the simulated board controller's request handling, the stream cut
// into pieces of a size taken from the input's first byte.
#include <cstdlib>

#include "fuzz/controller/controller_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (!varnControllerFuzzOne(data + 1, size - 1, data[0]).consistent) std::abort();
  return 0;
}
