// libFuzzer target: the packet assembler against its byte-at-a-time model.
#include <cstdlib>

#include "fuzz/axi/assembler_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!varnAssemblerFuzzOne(data, size).consistent) std::abort();
  return 0;
}
