#include "sim/controller/controller_tap.h"

#include <array>
#include <deque>

namespace varnsim {

Tap tapNext(Tap s, bool tms) {
  // [state] = {next with TMS 0, next with TMS 1}
  static constexpr Tap kNext[16][2] = {
      {Tap::ShiftDr, Tap::UpdateDr},   {Tap::PauseDr, Tap::UpdateDr},   {Tap::ShiftDr, Tap::Exit1Dr},
      {Tap::PauseDr, Tap::Exit2Dr},    {Tap::CaptureIr, Tap::Reset},    {Tap::Idle, Tap::SelectDr},
      {Tap::ShiftDr, Tap::Exit1Dr},    {Tap::CaptureDr, Tap::SelectIr}, {Tap::ShiftIr, Tap::UpdateIr},
      {Tap::PauseIr, Tap::UpdateIr},   {Tap::ShiftIr, Tap::Exit1Ir},    {Tap::PauseIr, Tap::Exit2Ir},
      {Tap::Idle, Tap::SelectDr},      {Tap::Idle, Tap::SelectDr},      {Tap::ShiftIr, Tap::Exit1Ir},
      {Tap::Idle, Tap::Reset}};
  return kNext[static_cast<int>(s)][tms ? 1 : 0];
}

bool TapMaster::clock(bool tms, bool tdi) {
  bool tdo = chain_.clock(tms, tdi);
  state_ = tapNext(state_, tms);
  ++clocks_;
  return tdo;
}

void TapMaster::reset() {
  for (int i = 0; i < 5; ++i) clock(true, false);
  state_ = Tap::Reset;
  known_ = true;
}

void TapMaster::goTo(Tap target) {
  if (!known_) reset();
  if (state_ == target) return;
  // Breadth-first over the 16 states; the graph is tiny and walks are rare next to shifts.
  std::array<int, 16> from;
  std::array<bool, 16> via;
  from.fill(-1);
  std::deque<Tap> queue{state_};
  from[static_cast<int>(state_)] = static_cast<int>(state_);
  while (!queue.empty()) {
    Tap s = queue.front();
    queue.pop_front();
    if (s == target) break;
    for (bool tms : {false, true}) {
      Tap n = tapNext(s, tms);
      if (from[static_cast<int>(n)] < 0) {
        from[static_cast<int>(n)] = static_cast<int>(s);
        via[static_cast<int>(n)] = tms;
        queue.push_back(n);
      }
    }
  }
  bool path[16];
  int len = 0;
  for (int s = static_cast<int>(target); s != static_cast<int>(state_); s = from[s]) path[len++] = via[s];
  while (len > 0) clock(path[--len], false);
}

namespace {
uint8_t mirror(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}
}  // namespace

void TapMaster::shift(uint32_t n, const uint8_t* tdi, uint8_t* tdo, bool exitAfter, bool msbFirst, bool fill) {
  uint32_t k = 0;
  // Whole bytes at once while the chain allows it; the exit clock always goes alone.
  if (state_ == Tap::ShiftDr || state_ == Tap::ShiftIr) {
    while (k + 8 < n || (k + 8 == n && !exitAfter)) {
      uint8_t in = tdi ? tdi[k / 8] : (fill ? 0xFF : 0x00);
      if (msbFirst) in = mirror(in);
      uint8_t out = 0;
      if (!chain_.shiftByte(in, &out)) break;
      clocks_ += 8;
      if (tdo) tdo[k / 8] = msbFirst ? mirror(out) : out;
      k += 8;
    }
  }
  for (; k < n; ++k) {
    uint32_t byte = k / 8;
    uint8_t mask = static_cast<uint8_t>(msbFirst ? 0x80 >> (k % 8) : 1 << (k % 8));
    bool in = tdi ? (tdi[byte] & mask) != 0 : fill;
    bool out = clock(exitAfter && k + 1 == n, in);
    if (tdo) {
      if (out)
        tdo[byte] |= mask;
      else
        tdo[byte] &= static_cast<uint8_t>(~mask);
    }
  }
}

}  // namespace varnsim
