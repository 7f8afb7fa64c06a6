// libFuzzer target: varn_mgmt's frame parser, whole and in pieces.
#include <cstdlib>

#include "fuzz/mgmt/frame_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!varnFrameFuzzOne(data, size).consistent) std::abort();
  return 0;
}
