// libFuzzer target: management requests as the main loop receives and decodes them.
#include <cstdlib>

#include "fuzz/mgmt/request_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!varnMgmtRequestFuzzOne(data, size).consistent) std::abort();
  return 0;
}
