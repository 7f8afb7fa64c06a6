// libFuzzer target: .bit files as validation and loading read them.
#include <cstdlib>

#include "fuzz/bitstream/bitstream_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bitfuzz::fuzzOne(data, size).consistent) std::abort();
  return 0;
}
