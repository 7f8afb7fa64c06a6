#include "sim/design/console_app.h"

#include <cstdio>

namespace varnsim {

ConsoleApp::ConsoleApp(const std::string& name, uint32_t periodMs, const BoardPower* power)
    : name_(name), periodNs_(uint64_t{periodMs} * 1000000), power_(power), nextTickNs_(periodNs_) {}

void ConsoleApp::emit(ByteChannel& ch, const std::string& line) {
  std::string text = line + "\r\n";
  if (ch.out.pushAll(reinterpret_cast<const uint8_t*>(text.data()), text.size()))
    ++linesOut_;
  else
    ++linesDropped_;
}

void ConsoleApp::runCommand(ByteChannel& ch, const std::string& line) {
  size_t sp = line.find(' ');
  std::string cmd = line.substr(0, sp);
  std::string arg = sp == std::string::npos ? "" : line.substr(sp + 1);
  ++commands_;
  char buf[160];
  if (cmd == "help") {
    emit(ch, "commands: help version uptime echo rails counters");
  } else if (cmd == "version") {
    emit(ch, name_ + " console 1.0");
  } else if (cmd == "uptime") {
    std::snprintf(buf, sizeof buf, "uptime %llu ms", static_cast<unsigned long long>(nowNs_ / 1000000));
    emit(ch, buf);
  } else if (cmd == "echo") {
    emit(ch, arg);
  } else if (cmd == "rails") {
    if (!power_ || !power_->hasRails()) {
      emit(ch, "no rails on this board");
    } else {
      std::snprintf(buf, sizeof buf, "VCCINT %.3f V %.2f A  VCCBRAM %.3f V %.2f A  VCCHBM %.3f V %.2f A",
                    power_->volts(0), power_->amps(0), power_->volts(1), power_->amps(1), power_->volts(2),
                    power_->amps(2));
      emit(ch, buf);
    }
  } else if (cmd == "counters") {
    std::snprintf(buf, sizeof buf, "input dropped %llu, lines dropped %llu",
                  static_cast<unsigned long long>(ch.in.dropped()),
                  static_cast<unsigned long long>(linesDropped_));
    emit(ch, buf);
  } else {
    emit(ch, "unknown command '" + cmd + "'");
  }
}

void ConsoleApp::service(ByteChannel& ch) {
  if (!bannerDone_) {
    bannerDone_ = true;
    emit(ch, name_ + " console ready, type 'help'");
  }
  while (!ch.in.empty()) {
    uint8_t b = ch.in.pop();
    if (b == '\r' || b == '\n') {
      bool crlf = b == '\n' && lastWasCr_;
      lastWasCr_ = b == '\r';
      if (crlf) continue;
      if (overlong_)
        emit(ch, "error: line longer than 128 characters");
      else if (!line_.empty())
        runCommand(ch, line_);
      line_.clear();
      overlong_ = false;
      continue;
    }
    lastWasCr_ = false;
    if (b < 0x20 || b > 0x7E) continue;  // control characters and non-ASCII are ignored
    if (line_.size() >= kMaxLine)
      overlong_ = true;
    else
      line_.push_back(static_cast<char>(b));
  }
}

void ConsoleApp::advance(uint64_t nowNs, ByteChannel& ch) {
  nowNs_ = nowNs;
  service(ch);
  if (periodNs_ == 0) return;
  // A long jump of simulated time would otherwise print thousands of lines nobody can
  // read out of a full FIFO: keep the last few, count the rest as dropped.
  if (nowNs_ >= nextTickNs_ && (nowNs_ - nextTickNs_) / periodNs_ > 64) {
    uint64_t skip = (nowNs_ - nextTickNs_) / periodNs_ - 64;
    ticks_ += skip;
    linesDropped_ += skip;
    nextTickNs_ += skip * periodNs_;
  }
  while (nowNs_ >= nextTickNs_) {
    ++ticks_;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s: tick %llu uptime %llu ms", name_.c_str(),
                  static_cast<unsigned long long>(ticks_),
                  static_cast<unsigned long long>(nextTickNs_ / 1000000));
    emit(ch, buf);
    nextTickNs_ += periodNs_;
  }
}

}  // namespace varnsim
