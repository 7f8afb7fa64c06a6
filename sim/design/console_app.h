// A line console as a soft-core firmware would run it: a banner at power-up, a status
// line at a fixed simulated-time period, and a few commands, one per line
// (CR, LF or CR LF ends a line). Output lines end in CR LF. A line that does not fit
// in the answer FIFO is dropped whole and counted, never torn.
//
// Commands: help, version, uptime, echo <text>, rails, counters.
#pragma once

#include <cstdint>
#include <string>

#include "sim/design/board_power.h"
#include "sim/design/channel_app.h"

namespace varnsim {

class ConsoleApp : public ChannelApp {
 public:
  ConsoleApp(const std::string& name, uint32_t periodMs, const BoardPower* power);

  void service(ByteChannel& ch) override;
  void advance(uint64_t nowNs, ByteChannel& ch) override;

  uint64_t linesOut() const { return linesOut_; }
  uint64_t linesDropped() const { return linesDropped_; }
  uint64_t commands() const { return commands_; }

  static constexpr size_t kMaxLine = 128;

 private:
  void emit(ByteChannel& ch, const std::string& line);
  void runCommand(ByteChannel& ch, const std::string& line);

  std::string name_;
  uint64_t periodNs_;
  const BoardPower* power_;
  uint64_t nowNs_ = 0;
  uint64_t nextTickNs_;
  uint64_t ticks_ = 0;
  bool bannerDone_ = false;
  bool lastWasCr_ = false;
  bool overlong_ = false;
  std::string line_;
  uint64_t linesOut_ = 0;
  uint64_t linesDropped_ = 0;
  uint64_t commands_ = 0;
};

}  // namespace varnsim
