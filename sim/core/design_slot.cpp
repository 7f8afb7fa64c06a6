#include "sim/core/design_slot.h"

#include <cstdio>

namespace varnsim {

void DesignSlot::load() {
  design_.reset();
  ++loads_;
  if (!factory_) return;
  error_.clear();
  design_ = factory_(options_, &error_);
  if (!design_) std::fprintf(stderr, "varnsim: design did not start: %s\n", error_.c_str());
}

}  // namespace varnsim
