#include "sim/core/tap_device.h"

namespace varnsim {

TapDevice::TapDevice(int irLength) : irLen_(irLength < 1 ? 1 : (irLength > 64 ? 64 : irLength)) {}

bool TapDevice::tick(bool tms, bool tdi) {
  if (!resetDone_) powerOn();
  const bool sampled = tdo_;
  ++tcks_;
  switch (state_) {
    case TapState::CaptureDR: captureDR(); break;
    case TapState::ShiftDR: shiftDR(tdi); break;
    case TapState::CaptureIR: irShift_ = captureIR() & irMask(); break;
    case TapState::ShiftIR:
      irShift_ = (irShift_ >> 1) | (uint64_t{tdi} << (irLen_ - 1));
      break;
    case TapState::RunTestIdle: ++idle_; break;
    default: break;
  }
  const TapState prev = state_;
  state_ = tapNext(state_, tms);
  fallingEdge(prev);
  return sampled;
}

void TapDevice::fallingEdge(TapState prev) {
  switch (state_) {
    case TapState::TestLogicReset:
      if (prev != TapState::TestLogicReset) ir_ = testLogicReset() & irMask();
      break;
    case TapState::UpdateDR: updateDR(); break;
    case TapState::UpdateIR:
      ir_ = irShift_ & irMask();
      updateIR(ir_);
      break;
    case TapState::ShiftDR: tdo_ = drOut(); break;
    case TapState::ShiftIR: tdo_ = (irShift_ & 1) != 0; break;
    default: break;
  }
}

uint8_t TapDevice::shiftByte(uint8_t tdi) {
  if (!resetDone_) powerOn();
  tcks_ += 8;
  uint8_t out;
  if (state_ == TapState::ShiftDR) {
    // The first sample is what the falling edge before it left on the line.
    out = shiftDRByte(tdi);
    tdo_ = drOut();
  } else {
    out = 0;
    for (int k = 0; k < 8; ++k) {
      out |= static_cast<uint8_t>((irShift_ & 1) << k);
      irShift_ = (irShift_ >> 1) | (uint64_t{(tdi >> k) & 1u} << (irLen_ - 1));
    }
    tdo_ = (irShift_ & 1) != 0;
  }
  return out;
}

uint8_t TapDevice::shiftDRByte(uint8_t tdi) {
  uint8_t out = 0;
  for (int k = 0; k < 8; ++k) {
    out |= static_cast<uint8_t>(drOut() ? (1u << k) : 0u);
    shiftDR(((tdi >> k) & 1) != 0);
  }
  return out;
}

void TapDevice::powerOn() {
  resetDone_ = true;
  state_ = TapState::TestLogicReset;
  ir_ = testLogicReset() & irMask();
}

void TapDevice::holdClocks(uint64_t n) {
  if (!resetDone_) powerOn();
  tcks_ += n;
  if (state_ == TapState::RunTestIdle) idle_ += n;
}

}  // namespace varnsim
