#include "sim/mpsse/mpsse_engine.h"

#include <numeric>

#include "sim/core/bits.h"

namespace varnsim {

namespace {

constexpr uint8_t kTck = 0x01, kTdi = 0x02, kTms = 0x08;

}  // namespace

void MpsseEngine::reset(uint8_t direction) {
  lowValue_ = 0;
  lowDir_ = direction;
  highValue_ = 0;
  highDir_ = 0;
  divisor_ = 0;
  div5_ = true;
  threePhase_ = false;
  loopback_ = false;
  adaptive_ = false;
  openDrain_ = 0;
  hung_ = false;
  phase_ = Phase::Opcode;
  nargs_ = needArgs_ = 0;
  remaining_ = 0;
}

double MpsseEngine::tckHz() const {
  const double base = div5_ ? 12e6 : 60e6;
  return base / ((1.0 + divisor_) * (threePhase_ ? 3.0 : 2.0));
}

void MpsseEngine::beginWrite(uint64_t ps, uint64_t psPerByte) {
  arrivalPs_ = ps;
  psPerByte_ = psPerByte;
  writeBytes_ = 0;
}

void MpsseEngine::advance(uint64_t n) {
  tcks_ += n;
  // Picoseconds per tick are 10^12 / base, kept exact as mul / den in lowest terms (50000/3
  // or 250000/3) with the fraction carried in rem_: plain 64-bit arithmetic, so the
  // simulated clock is the same on every host, 32-bit Arm included.
  const uint64_t base = div5_ ? 12000000u : 60000000u;
  const uint64_t g = std::gcd(uint64_t{1000000000000ull}, base);
  const uint64_t mul = 1000000000000ull / g, den = base / g;
  const uint64_t ticks = n * (1u + divisor_) * (threePhase_ ? 3u : 2u);
  const uint64_t num = ticks % den * mul + rem_;
  t_ += ticks / den * mul + num / den;
  rem_ = num % den;
}

int MpsseEngine::argCount(uint8_t op) const {
  if (op < 0x80) {
    const bool tms = op & 0x40, tdi = op & 0x10, tdo = op & 0x20, bit = op & 0x02, lsb = op & 0x08;
    if (tms) return (tdi || !bit || !lsb) ? -1 : 2;
    if (!tdi && !tdo) return -1;
    if (bit) return tdi ? 2 : 1;
    return 2;
  }
  switch (op) {
    case 0x80: return 2;
    case 0x82: return chip_.highByte ? 2 : -1;
    case 0x81: return 0;
    case 0x83: return chip_.highByte ? 0 : -1;
    case 0x84: case 0x85: case 0x87: case 0x88: case 0x89: case 0x8A: case 0x8B:
    case 0x8C: case 0x8D: case 0x94: case 0x95: case 0x96: case 0x97:
      return 0;
    case 0x86: case 0x8F: case 0x9C: case 0x9D: return 2;
    case 0x8E: return 1;
    case 0x9E: return chip_.openDrain ? 2 : -1;
    default: return -1;
  }
}

bool MpsseEngine::tick(bool tms, bool tdi) {
  if (!chain_) return loopback_ ? tdi : true;  // nothing on TDO: the input's pull-up
  if (!(lowDir_ & kTck)) return loopback_ ? tdi : chain_->tdo();
  const bool s = chain_->tick((lowDir_ & kTms) ? tms : true, (lowDir_ & kTdi) ? tdi : true);
  return loopback_ ? tdi : s;
}

bool MpsseEngine::tdoLevel() const {
  if (loopback_) return pinTdi();
  return chain_ ? chain_->tdo() : true;
}

bool MpsseEngine::fastPath() const {
  return chain_ && !loopback_ && (lowDir_ & (kTck | kTdi | kTms)) == (kTck | kTdi | kTms) && !pinTms() &&
         chain_->canShiftBytes();
}

void MpsseEngine::reply(uint8_t b) {
  sink_.put(b, t_);
  ++counters_.replyBytes;
}

void MpsseEngine::clocks(uint64_t n) {
  if (chain_ && (lowDir_ & kTck))
    chain_->clocks(n, (lowDir_ & kTms) ? pinTms() : true, (lowDir_ & kTdi) ? pinTdi() : true);
  advance(n);
}

size_t MpsseEngine::feed(const uint8_t* p, size_t n) {
  size_t used = 0;
  while (!hung_) {
    if (phase_ == Phase::Run) {
      size_t u = 0;
      const bool done = runData(p + used, n - used, u);
      used += u;
      writeBytes_ += u;
      if (!done) return used;
      phase_ = Phase::Opcode;
      continue;
    }
    if (used == n) break;
    if (phase_ == Phase::Opcode) {
      const uint8_t op = p[used];
      const int a = argCount(op);
      if (a < 0) {
        if (!sink_.room(2)) break;
        ++used;
        ++writeBytes_;
        ++counters_.badCommands;
        reply(0xFA);
        reply(op);
        continue;
      }
      // A command cannot start before its bytes are in the chip.
      catchUp(arrivalPs_ + writeBytes_ * psPerByte_);
      op_ = op;
      ++used;
      ++writeBytes_;
      nargs_ = 0;
      needArgs_ = a;
      if (a == 0) startCommand();
      else phase_ = Phase::Args;
      continue;
    }
    args_[nargs_++] = p[used++];
    ++writeBytes_;
    if (nargs_ == needArgs_) startCommand();
  }
  return used;
}

void MpsseEngine::startCommand() {
  ++counters_.commands;
  phase_ = Phase::Run;
  if (op_ < 0x80 && !(op_ & 0x40) && !(op_ & 0x02)) remaining_ = (args_[0] | (uint32_t{args_[1]} << 8)) + 1u;
}

bool MpsseEngine::runData(const uint8_t* p, size_t n, size_t& used) {
  used = 0;
  if (op_ >= 0x80) {
    if ((op_ == 0x81 || op_ == 0x83) && !sink_.room(1)) return false;
    runSimple();
    return true;
  }
  const bool read = op_ & 0x20;
  if (op_ & 0x40) {
    if (read && !sink_.room(1)) return false;
    runTms();
    return true;
  }
  const bool write = op_ & 0x10, lsb = op_ & 0x08, lag = write && !(op_ & 0x01);
  if (op_ & 0x02) {
    if (read && !sink_.room(1)) return false;
    const int bits = (args_[0] & 7) + 1;
    const uint8_t b = write ? args_[1] : 0;
    uint8_t r = 0;
    for (int k = 0; k < bits; ++k) {
      const bool bit = write ? ((lsb ? b >> k : b >> (7 - k)) & 1) != 0 : pinTdi();
      const bool s = tick(pinTms(), lag ? pinTdi() : bit);
      if (write) setPinTdi(bit);
      r = lsb ? static_cast<uint8_t>((r >> 1) | (s ? 0x80 : 0)) : static_cast<uint8_t>((r << 1) | (s ? 1 : 0));
    }
    advance(static_cast<uint64_t>(bits));
    if (read) reply(r);
    return true;
  }
  // Byte mode.
  while (remaining_ > 0) {
    if (write && used == n) return false;
    if (read && !sink_.room(1)) return false;
    if (fastPath()) {
      if (!read) {
        // The hot path of configuration data: TDI only, no reply, time in one step.
        uint64_t batch = 0;
        bool pin = pinTdi();
        while (remaining_ > 0 && used < n) {
          const uint8_t t = lsb ? p[used] : reverseBits(p[used]);
          chain_->shiftByte(lag ? static_cast<uint8_t>((t << 1) | (pin ? 1 : 0)) : t);
          pin = (t & 0x80) != 0;
          ++used;
          --remaining_;
          ++batch;
        }
        setPinTdi(pin);
        counters_.fastBytes += batch;
        advance(batch * 8);
        continue;
      }
      uint8_t dev;
      if (write) {
        const uint8_t t = lsb ? p[used] : reverseBits(p[used]);
        dev = lag ? static_cast<uint8_t>((t << 1) | (pinTdi() ? 1 : 0)) : t;
        setPinTdi((t & 0x80) != 0);
        ++used;
      } else {
        dev = pinTdi() ? 0xFF : 0x00;
      }
      const uint8_t s = chain_->shiftByte(dev);
      ++counters_.fastBytes;
      advance(8);
      reply(lsb ? s : reverseBits(s));
      --remaining_;
      continue;
    }
    const uint8_t b = write ? p[used] : 0;
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k) {
      const bool bit = write ? ((lsb ? b >> k : b >> (7 - k)) & 1) != 0 : pinTdi();
      const bool s = tick(pinTms(), lag ? pinTdi() : bit);
      if (write) setPinTdi(bit);
      if (lsb) r = static_cast<uint8_t>(r | (s ? 1u << k : 0u));
      else r = static_cast<uint8_t>((r << 1) | (s ? 1 : 0));
    }
    if (write) ++used;
    advance(8);
    if (read) reply(r);
    --remaining_;
  }
  return true;
}

void MpsseEngine::runTms() {
  // Up to seven TMS bits; bit 7 goes on TDI before the first clock and stays there.
  const int n = (args_[0] & 7) + 1 > 7 ? 7 : (args_[0] & 7) + 1;
  const uint8_t b = args_[1];
  const bool tdi = (b & 0x80) != 0;
  const bool lag = !(op_ & 0x01);
  setPinTdi(tdi);
  uint8_t r = 0;
  for (int k = 0; k < n; ++k) {
    const bool bit = ((b >> k) & 1) != 0;
    const bool s = tick(lag ? pinTms() : bit, tdi);
    setPinTms(bit);
    r = static_cast<uint8_t>((r >> 1) | (s ? 0x80 : 0));
  }
  // With seven bits the chip puts bit 7 on TMS after the last clock.
  if (n == 7) setPinTms(tdi);
  advance(static_cast<uint64_t>(n));
  if (op_ & 0x20) reply(r);
}

void MpsseEngine::runSimple() {
  const uint16_t word = static_cast<uint16_t>(args_[0] | (args_[1] << 8));
  switch (op_) {
    case 0x80: {
      const uint8_t v = args_[0], d = args_[1];
      // Driving TCK from low to high by hand is a clock edge like any other; TMS and
      // TDI change at that same moment, so the devices see their old levels.
      if ((d & kTck) && (v & kTck) && !(lowValue_ & kTck) && chain_) {
        chain_->tick((lowDir_ & kTms) ? pinTms() : true, (lowDir_ & kTdi) ? pinTdi() : true);
        ++tcks_;
      }
      lowValue_ = v;
      lowDir_ = d;
      break;
    }
    case 0x81: {
      uint8_t in = static_cast<uint8_t>(0xFF & ~0x04) | (tdoLevel() ? 0x04 : 0);
      reply(static_cast<uint8_t>((lowValue_ & lowDir_) | (in & ~lowDir_)));
      break;
    }
    case 0x82:
      highValue_ = args_[0];
      highDir_ = args_[1];
      break;
    case 0x83: reply(static_cast<uint8_t>((highValue_ & highDir_) | (0xFF & ~highDir_))); break;
    case 0x84: loopback_ = true; break;
    case 0x85: loopback_ = false; break;
    case 0x86: divisor_ = word; break;
    case 0x87: sink_.sendImmediate(t_); break;
    case 0x88: if (!gpiol1()) hung_ = true; break;
    case 0x89: if (gpiol1()) hung_ = true; break;
    case 0x8A: div5_ = false; break;
    case 0x8B: div5_ = true; break;
    case 0x8C: threePhase_ = true; break;
    case 0x8D: threePhase_ = false; break;
    case 0x8E: clocks((args_[0] & 7) + 1u); break;
    case 0x8F: clocks((uint64_t{word} + 1) * 8); break;
    case 0x94: if (!gpiol1()) hung_ = true; break;  // clocks for ever
    case 0x95: if (gpiol1()) hung_ = true; break;
    case 0x96: adaptive_ = true; break;
    case 0x97: adaptive_ = false; break;
    case 0x9C: if (!gpiol1()) clocks((uint64_t{word} + 1) * 8); break;
    case 0x9D: if (gpiol1()) clocks((uint64_t{word} + 1) * 8); break;
    case 0x9E: openDrain_ = word; break;
    default: break;
  }
}

}  // namespace varnsim
