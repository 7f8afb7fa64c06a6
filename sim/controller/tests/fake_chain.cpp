#include "sim/controller/tests/fake_chain.h"

using varnsim::Tap;

namespace ctltest {

bool FakeChain::clock(bool tms, bool tdi) {
  bool tdo = false;
  bool in = tdi;
  switch (state) {
    case Tap::CaptureIr:
      for (size_t i = 0; i < dev.size(); ++i) dev[i].irShift = 0x1 | (i << 2);
      break;
    case Tap::CaptureDr:
      for (auto& d : dev) {
        d.drIn.clear();
        if (d.ir == kUser) {
          d.drLen = 32;
          d.drShift = d.userValue;
        } else if (d.ir == kIdcode) {
          d.drLen = 32;
          d.drShift = d.idcode;
        } else {
          d.drLen = 1;
          d.drShift = 0;
        }
      }
      break;
    case Tap::ShiftIr:
      for (auto& d : dev) {
        bool out = d.irShift & 1;
        d.irShift = (d.irShift >> 1) | (uint64_t(in) << (d.irLen - 1));
        in = out;
      }
      tdo = in;
      break;
    case Tap::ShiftDr:
      for (auto& d : dev) {
        bool out = d.drShift & 1;
        d.drIn.push_back(in);
        d.drShift = (d.drShift >> 1) | (uint64_t(in) << (d.drLen - 1));
        in = out;
      }
      tdo = in;
      break;
    default:
      break;
  }
  state = varnsim::tapNext(state, tms);
  if (state == Tap::UpdateIr) {
    for (auto& d : dev) {
      d.ir = uint32_t(d.irShift);
      d.irLoads.push_back(d.ir);
    }
  } else if (state == Tap::UpdateDr) {
    for (auto& d : dev)
      if (d.ir == kUser) d.userWrites.push_back(uint32_t(d.drShift));
  } else if (state == Tap::Reset) {
    for (auto& d : dev) d.ir = kIdcode;
  }
  return tdo;
}

}  // namespace ctltest
