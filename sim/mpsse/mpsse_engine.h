// The FTDI MPSSE command processor (AN_108) of one channel, wired to a JTAG chain:
// ADBUS0 TCK, ADBUS1 TDI, ADBUS2 TDO, ADBUS3 TMS, ADBUS5 GPIOL1.
//
// Commands are decoded byte by byte and may be split across writes at any byte.
// Data-shift opcodes (below 0x80) are decoded by their bit fields: 0x01 write on the
// falling edge, 0x02 bit mode, 0x04 read on the falling edge, 0x08 LSB first,
// 0x10 write TDI, 0x20 read TDO, 0x40 write TMS. TDO is sampled before the clock
// edge, so both read edges see the same bit. A write on the rising edge changes TDI
// (or TMS) at the very edge the devices sample on, and the devices see the level it
// had before: the data arrives one clock late, as on real boards. An undefined
// opcode is answered with 0xFA and the opcode, and decoding goes on with the next
// byte. Waits on GPIOL1 that can never end hang the engine, as the chip does, until
// the channel's bit mode is reset.
//
// Time: every TCK costs (1 + divisor) x 2 periods of the 60 MHz base (12 MHz with
// divide-by-5 on, the power-up state; three-phase clocking takes 3 half periods);
// a command starts no earlier than its bytes arrive over USB.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/core/jtag_chain.h"
#include "sim/mpsse/chip_info.h"

namespace varnsim {

// Where reply bytes go (the chip's IN FIFO).
class MpsseSink {
 public:
  virtual ~MpsseSink() = default;
  virtual bool room(size_t n) const = 0;
  virtual void put(uint8_t b, uint64_t ps) = 0;
  virtual void sendImmediate(uint64_t ps) = 0;
};

struct MpsseCounters {
  uint64_t commands = 0;
  uint64_t badCommands = 0;
  uint64_t replyBytes = 0;
  uint64_t fastBytes = 0;  // data bytes that went through the chain's byte path
};

class MpsseEngine {
 public:
  MpsseEngine(const ChipInfo& chip, MpsseSink& sink) : chip_(chip), sink_(sink) { reset(0); }

  void setChain(JtagChain* chain) { chain_ = chain; }
  // Entering MPSSE mode: the command processor's power-up state; `direction` is the
  // bit-mode mask, the initial low-byte directions.
  void reset(uint8_t direction);

  // The current write's first byte reaches the chip at `ps`, the next ones
  // `psPerByte` apart.
  void beginWrite(uint64_t ps, uint64_t psPerByte);
  // Consumes command bytes and returns how many. Stops early when the reply side has
  // no room (the command resumes with the next call) or the engine hangs.
  size_t feed(const uint8_t* p, size_t n);
  // Runs a command that stopped for reply room without needing more input.
  void resume() { feed(nullptr, 0); }
  bool suspended() const { return phase_ == Phase::Run; }
  bool hung() const { return hung_; }

  // The engine idled until `ps` (the host came back later).
  void catchUp(uint64_t ps) {
    if (t_ < ps) t_ = ps;
  }
  uint64_t timePs() const { return t_; }
  uint64_t tcks() const { return tcks_; }
  double tckHz() const;
  const MpsseCounters& counters() const { return counters_; }

  uint8_t lowValue() const { return lowValue_; }
  uint8_t lowDirection() const { return lowDir_; }
  uint8_t highValue() const { return highValue_; }
  uint8_t highDirection() const { return highDir_; }
  uint16_t divisor() const { return divisor_; }
  bool divideBy5() const { return div5_; }
  bool loopback() const { return loopback_; }
  bool adaptive() const { return adaptive_; }

 private:
  enum class Phase { Opcode, Args, Run };

  int argCount(uint8_t op) const;  // -1: undefined opcode
  void startCommand();
  bool runData(const uint8_t* p, size_t n, size_t& used);
  void runTms();
  void runSimple();
  void clocks(uint64_t n);
  void advance(uint64_t tcks);
  bool tick(bool tms, bool tdi);
  bool tdoLevel() const;
  bool gpiol1() const { return (lowDir_ & 0x20) ? (lowValue_ & 0x20) != 0 : true; }
  bool pinTms() const { return (lowValue_ & 0x08) != 0; }
  bool pinTdi() const { return (lowValue_ & 0x02) != 0; }
  void setPinTms(bool v) { lowValue_ = static_cast<uint8_t>(v ? lowValue_ | 0x08 : lowValue_ & ~0x08); }
  void setPinTdi(bool v) { lowValue_ = static_cast<uint8_t>(v ? lowValue_ | 0x02 : lowValue_ & ~0x02); }
  bool fastPath() const;
  void reply(uint8_t b);

  const ChipInfo& chip_;
  MpsseSink& sink_;
  JtagChain* chain_ = nullptr;

  uint8_t lowValue_ = 0, lowDir_ = 0, highValue_ = 0, highDir_ = 0;
  uint16_t divisor_ = 0;
  bool div5_ = true, threePhase_ = false, loopback_ = false, adaptive_ = false;
  uint16_t openDrain_ = 0;
  bool hung_ = false;

  Phase phase_ = Phase::Opcode;
  uint8_t op_ = 0;
  uint8_t args_[3] = {0, 0, 0};
  int nargs_ = 0, needArgs_ = 0;
  uint32_t remaining_ = 0;  // bytes (byte mode) still to shift

  uint64_t t_ = 0;          // picoseconds
  uint64_t rem_ = 0;        // fraction of a picosecond, in 1/den of one (see advance)
  uint64_t tcks_ = 0;
  uint64_t arrivalPs_ = 0, psPerByte_ = 0, writeBytes_ = 0;
  MpsseCounters counters_;
};

}  // namespace varnsim
