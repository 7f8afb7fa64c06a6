// libFuzzer target: the link's packet reassembly and dispatch on arbitrary input.
#include <cstdlib>

#include "app/settings/varn_settings.h"
#include "fuzz/coe/link_rx_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  gUseGUI = true;  // log lines go to the ring, not the terminal
  if (!varnCoELinkRxFuzzOne(data, size)) std::abort();
  return 0;
}
