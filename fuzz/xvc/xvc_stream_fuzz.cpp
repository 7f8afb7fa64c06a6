// libFuzzer target: the XVC server's command loop over a client's byte stream.
#include <cstdlib>

#include "fuzz/xvc/xvc_stream_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!xvcfuzz::fuzzOne(data, size).consistent) std::abort();
  return 0;
}
