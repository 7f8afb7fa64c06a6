#include "sim/core/jtag_chain.h"

namespace varnsim {

void JtagChain::add(std::unique_ptr<TapDevice> dev) {
  dev->powerOn();
  devs_.push_back(std::move(dev));
}

bool JtagChain::faultOut(bool level) const {
  switch (fault_.kind) {
    case ChainFault::Kind::TdoStuck0: return false;
    case ChainFault::Kind::TdoStuck1: return true;
    case ChainFault::Kind::Break:
      if (fault_.at >= devs_.size()) return true;  // open TDO pin: the pull-up wins
      return level;
    default: return level;
  }
}

bool JtagChain::tdo() const {
  bool level = devs_.empty() ? lastTdi_ : devs_.back()->tdo();
  return faultOut(level);
}

bool JtagChain::tick(bool tms, bool tdi) {
  ++tcks_;
  lastTdi_ = tdi;
  if (devs_.empty()) return faultOut(tdi);  // a bare wire shows this clock's TDI
  bool in = tdi;
  bool out = true;
  for (size_t i = 0; i < devs_.size(); ++i) {
    if (inputOpen(i)) in = true;
    // Each device sees the level its neighbour showed before this edge.
    out = devs_[i]->tick(tms, in);
    in = out;
  }
  return faultOut(out);
}

bool JtagChain::canShiftBytes() const {
  if (devs_.empty()) return true;
  TapState s = devs_.front()->state();
  return s == TapState::ShiftDR || s == TapState::ShiftIR;
}

uint8_t JtagChain::shiftByte(uint8_t tdi) {
  tcks_ += 8;
  lastTdi_ = (tdi & 0x80) != 0;
  uint8_t v = tdi;
  if (devs_.empty()) {
    v = tdi;
  } else {
    for (size_t i = 0; i < devs_.size(); ++i) {
      if (inputOpen(i)) v = 0xFF;
      v = devs_[i]->shiftByte(v);
    }
  }
  switch (fault_.kind) {
    case ChainFault::Kind::TdoStuck0: return 0x00;
    case ChainFault::Kind::TdoStuck1: return 0xFF;
    case ChainFault::Kind::Break: return fault_.at >= devs_.size() ? 0xFF : v;
    default: return v;
  }
}

void JtagChain::clocks(uint64_t n, bool tms, bool tdi) {
  while (n > 0) {
    if (devs_.empty()) {
      tcks_ += n;
      lastTdi_ = tdi;
      return;
    }
    TapState s = devs_.front()->state();
    if (tapStable(s, tms)) {
      if (s == TapState::ShiftDR || s == TapState::ShiftIR) {
        const uint8_t pattern = tdi ? 0xFF : 0x00;
        while (n >= 8) {
          shiftByte(pattern);
          n -= 8;
        }
        while (n > 0) {
          tick(tms, tdi);
          --n;
        }
        return;
      }
      tcks_ += n;
      lastTdi_ = tdi;
      for (auto& d : devs_) d->holdClocks(n);
      return;
    }
    tick(tms, tdi);
    --n;
  }
}

}  // namespace varnsim
