#include "sim/controller/board_controller.h"

#include <algorithm>

namespace varnsim {

namespace {

constexpr uint16_t kAnswer = 0x000A, kNak = 0x000E;
constexpr uint16_t kUartData = 0x1205, kUartOverflow = 0x1206;
constexpr size_t kMaxAnswerData = kMaxHostPacket - 8;
constexpr uint32_t kDefaultBaud = 1000000;

// Flags of the device-abstraction shift (0x1012).
constexpr uint8_t kFlagStay = 0x02;      // the data register stays in its shift state
constexpr uint8_t kFlagIr = 0x08;
constexpr uint8_t kFlagDr = 0x10;
constexpr uint8_t kFlagCapture = 0x20;   // answer with what came out of TDO
constexpr uint8_t kFlagMsbFirst = 0x40;  // each byte goes out most significant bit first
// Flag of 0x100F: shift the TDI bytes with TMS low and answer TDO; without it the
// request asks for idle clocks in Run-Test/Idle.
constexpr uint8_t kFlagTdiShift = 0x20;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
size_t bytesFor(uint32_t bits) { return (bits + 7u) / 8u; }

}  // namespace

BoardController::BoardController(ControllerChain& chain, const ControllerConfig& cfg)
    : chain_(chain), cfg_(cfg), tap_(chain) {
  for (int s = 0; s < kControllerSlots; ++s)
    if (cfg_.slots[s].hasRegulators) power_[s] = std::make_unique<SlotPower>(cfg_.slots[s].power);
}

void BoardController::appendPacket(std::vector<uint8_t>* out, uint16_t tag, uint16_t command, uint16_t word,
                                   const uint8_t* payload, size_t len) {
  size_t length = len + 8;
  const uint16_t header[4] = {static_cast<uint16_t>(length), tag, command, word};
  for (uint16_t v : header) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
  }
  out->insert(out->end(), payload, payload + len);
}

void BoardController::answer(std::vector<uint8_t>* out, uint16_t tag, const std::vector<uint8_t>& data) {
  appendPacket(out, tag, kAnswer, 0, data.data(), data.size());
}

void BoardController::nak(std::vector<uint8_t>* out, uint16_t tag, uint32_t code) {
  ++naks_;
  const uint8_t p[4] = {uint8_t(code), uint8_t(code >> 8), uint8_t(code >> 16), uint8_t(code >> 24)};
  appendPacket(out, tag, kNak, 0, p, sizeof p);
}

uint64_t BoardController::requests(uint16_t command) const {
  auto it = requests_.find(command);
  return it == requests_.end() ? 0 : it->second;
}

size_t BoardController::chainDevices() const { return chain_.deviceCount(); }

// The host's word for a device's IR length counts; for devices it did not name (it
// takes at most four) the controller's own knowledge of the board.
uint32_t BoardController::irLengthOf(size_t device) const {
  if (device < hostIr_.size() && hostIr_[device] > 0) return hostIr_[device];
  return chain_.irLength(device);
}

int BoardController::slotOfBusByte(uint8_t bus) const {
  if (bus & 0x0F) return -1;
  int slot = bus >> 4;
  return slot < kControllerSlots ? slot : -1;
}

// A data shift the host left in Shift-DR ends when it asks for anything else: the data
// still goes on past the bypass bits on the TDI side (the last one leaves Shift-DR), so
// the device holds what the host sent, as after a shift that ended by itself.
void BoardController::endDrShift() {
  if (drShiftDevice_ < 0) return;
  const auto after = static_cast<uint32_t>(drShiftDevice_);
  drShiftDevice_ = -1;
  if (tap_.state() == Tap::ShiftDr) tap_.shift(after, nullptr, nullptr, true);
  tap_.goTo(Tap::Idle);
}

void BoardController::handle(uint16_t tag, uint16_t command, uint16_t flags, const uint8_t* p, size_t len,
                             std::vector<uint8_t>* out) {
  (void)flags;
  ++requests_[command];
  switch (command) {
    case 0x0010:
      if (tag == 3 ? cfg_.answerKeepalive : cfg_.answerHello) answer(out, tag);
      return;
    case 0x0300:
      status(tag, out);
      return;
    case 0x1001:
      if (len < 2 || (p[1] != 1 && p[1] != 2)) return nak(out, tag, kNakMalformed);
      endDrShift();
      mode_ = p[1];
      return answer(out, tag);
    case 0x100C:
      if (len < 8) return nak(out, tag, kNakMalformed);
      clockHz_ = le32(p + 4);
      return answer(out, tag);
    case 0x100E:
      return rawShift(tag, p, len, out);
    case 0x100F:
      return idleOrTdiShift(tag, p, len, out);
    case 0x1010:
      return idcodes(tag, out);
    case 0x1011:
      if (len < 1) return nak(out, tag, kNakMalformed);
      hostIr_.assign(p + 1, p + len);
      return answer(out, tag);
    case 0x1012:
      return deviceShift(tag, p, len, out);
    case 0x1110:
      return i2c(tag, p, len, out);
    case 0x1201:
    case 0x1202: {
      if (len < (command == 0x1201 ? 2u : 8u)) return nak(out, tag, kNakMalformed);
      int slot = slotOfBusByte(p[0]);
      if (slot < 0 || cfg_.slots[slot].device < 0) return nak(out, tag, kNakNoDevice);
      if (command == 0x1201)
        uart_[slot].state.mode = p[1];
      else
        uart_[slot].state.baud = le32(p + 4);
      return answer(out, tag);
    }
    case 0x1204:
      return uartData(tag, p, len, out);
    default:
      return nak(out, tag, kNakUnknownCommand);
  }
}

void BoardController::status(uint16_t tag, std::vector<uint8_t>* out) {
  int records = 2;
  for (int s = 0; s < kControllerSlots; ++s)
    if (cfg_.slots[s].device >= 0) records = std::max(records, s + 1);
  std::vector<uint8_t> data(16 * records, 0);
  for (int s = 0; s < records; ++s) {
    int dev = cfg_.slots[s].device;
    if (dev < 0 || size_t(dev) >= chainDevices()) continue;
    data[16 * s + 15] = static_cast<uint8_t>(0x80 | (chain_.configDone(dev) ? 0x40 : 0));
  }
  answer(out, tag, data);
}

void BoardController::idcodes(uint16_t tag, std::vector<uint8_t>* out) {
  std::vector<uint32_t> ids = cfg_.idcodeOverride;
  if (ids.empty()) {
    // After Test-Logic-Reset every device's data register is its IDCODE; ones shifted
    // in behind them mark the end of the chain.
    endDrShift();
    tap_.reset();
    tap_.goTo(Tap::ShiftDr);
    for (int i = 0; i < 64; ++i) {
      uint8_t w[4] = {};
      tap_.shift(32, nullptr, w, false, false, true);
      uint32_t id = le32(w);
      if (id == 0xFFFFFFFF) break;
      ids.push_back(id);
    }
    tap_.goTo(Tap::Idle);
    // The device nearest TDO comes out first; the list is in device order.
    std::reverse(ids.begin(), ids.end());
  }
  std::vector<uint8_t> data;
  for (uint32_t id : ids)
    for (int b = 0; b < 4; ++b) data.push_back(static_cast<uint8_t>(id >> (8 * b)));
  if (data.size() > 256) data.resize(256);
  answer(out, tag, data);
}

void BoardController::deviceShift(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out) {
  if (mode_ != 2) return nak(out, tag, kNakWrongMode);
  if (len < 4) return nak(out, tag, kNakMalformed);
  size_t dev = p[0];
  uint8_t flags = p[1];
  uint32_t bits = le16(p + 2);
  size_t n = chainDevices();
  if (dev >= n) return nak(out, tag, kNakNoDevice);
  bool msb = flags & kFlagMsbFirst;
  bool capture = flags & kFlagCapture;
  const uint8_t* data = p + 4;

  if (flags & kFlagIr) {
    uint32_t ir = irLengthOf(dev);
    if (len < 4 + bytesFor(ir)) return nak(out, tag, kNakMalformed);
    endDrShift();
    uint32_t before = 0, after = 0;  // BYPASS (all ones) for the devices on either side
    for (size_t d = dev + 1; d < n; ++d) before += irLengthOf(d);
    for (size_t d = 0; d < dev; ++d) after += irLengthOf(d);
    std::vector<uint8_t> captured(bytesFor(ir), 0);
    tap_.goTo(Tap::ShiftIr);
    tap_.shift(before, nullptr, nullptr, false, false, true);
    tap_.shift(ir, data, captured.data(), after == 0);
    tap_.shift(after, nullptr, nullptr, true, false, true);
    tap_.goTo(Tap::Idle);
    return answer(out, tag, capture ? captured : std::vector<uint8_t>{});
  }
  if (!(flags & kFlagDr)) return nak(out, tag, kNakMalformed);
  if (len < 4 + bytesFor(bits)) return nak(out, tag, kNakMalformed);
  bool stay = flags & kFlagStay;
  if (drShiftDevice_ != static_cast<int>(dev)) {
    endDrShift();
    tap_.goTo(Tap::ShiftDr);
    // Only a read needs the bypass bits of the devices between this one and TDO pushed
    // out first, so its captured bits come out with the data. A write goes without
    // them: whatever is clocked in ahead of the data reaches a streaming register (a
    // configuration port) as bits of the stream. A shift continued from the previous
    // request (the stay flag) is one scan and is not padded again.
    if (capture) tap_.shift(static_cast<uint32_t>(n - dev - 1), nullptr, nullptr, false);
    drShiftDevice_ = static_cast<int>(dev);
  }
  std::vector<uint8_t> tdo(bytesFor(bits), 0);
  // The data then goes on through one bypass bit per device on the TDI side, the
  // last of them leaving Shift-DR.
  uint32_t after = static_cast<uint32_t>(dev);
  tap_.shift(bits, data, tdo.data(), !stay && after == 0, msb);
  if (!stay) {
    tap_.shift(after, nullptr, nullptr, true);
    drShiftDevice_ = -1;
    tap_.goTo(Tap::Idle);
  }
  answer(out, tag, capture ? tdo : std::vector<uint8_t>{});
}

void BoardController::rawShift(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out) {
  if (len < 4) return nak(out, tag, kNakMalformed);
  uint32_t bits = le16(p + 2);
  size_t bytes = bytesFor(bits);
  // Every answer fits one packet the host can take.
  if (len < 4 + 2 * bytes || bytes > kMaxAnswerData) return nak(out, tag, kNakMalformed);
  drShiftDevice_ = -1;  // the host walks the TAP now
  std::vector<uint8_t> tdo(bytes, 0);
  for (uint32_t k = 0; k < bits; ++k) {
    uint8_t mask = static_cast<uint8_t>(1 << (k % 8));
    bool tdi = p[4 + 2 * (k / 8)] & mask;
    bool tms = p[5 + 2 * (k / 8)] & mask;
    if (tap_.clock(tms, tdi)) tdo[k / 8] |= mask;
  }
  answer(out, tag, tdo);
}

void BoardController::idleOrTdiShift(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out) {
  if (len < 4) return nak(out, tag, kNakMalformed);
  uint8_t flags = p[1];
  uint32_t bits = le16(p + 2);
  if (flags & kFlagTdiShift) {
    size_t bytes = bytesFor(bits);
    if (len < 4 + bytes || bytes > kMaxAnswerData) return nak(out, tag, kNakMalformed);
    drShiftDevice_ = -1;
    std::vector<uint8_t> tdo(bytes, 0);
    for (uint32_t k = 0; k < bits; ++k) {
      uint8_t mask = static_cast<uint8_t>(1 << (k % 8));
      if (tap_.clock(false, p[4 + k / 8] & mask)) tdo[k / 8] |= mask;
    }
    return answer(out, tag, tdo);
  }
  endDrShift();
  tap_.goTo(Tap::Idle);
  for (uint32_t k = 0; k < bits; ++k) tap_.clock(false, false);
  answer(out, tag);
}

void BoardController::i2c(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out) {
  if (len < 4) return nak(out, tag, kNakMalformed);
  int slot = slotOfBusByte(p[1]);
  uint16_t readCount = le16(p + 2);
  if (readCount > kMaxAnswerData) return nak(out, tag, kNakMalformed);
  if (slot < 0 || !power_[slot]) return nak(out, tag, kNakNoAck);
  std::vector<uint8_t> data;
  int rc = power_[slot]->transfer(p[0], p + 4, len - 4, readCount, &data);
  if (rc) return nak(out, tag, static_cast<uint32_t>(rc));
  answer(out, tag, data);
}

void BoardController::uartData(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out) {
  if (len < 1) return nak(out, tag, kNakMalformed);
  int slot = slotOfBusByte(p[0]);
  if (slot < 0 || cfg_.slots[slot].device < 0 || !chain_.uart(cfg_.slots[slot].device))
    return nak(out, tag, kNakNoDevice);
  SlotUart& u = uart_[slot];
  size_t n = len - 1;
  size_t room = cfg_.uartBufferBytes > u.toFpga.size() ? cfg_.uartBufferBytes - u.toFpga.size() : 0;
  size_t take = std::min(n, room);
  u.toFpga.insert(u.toFpga.end(), p + 1, p + 1 + take);
  answer(out, tag);
  if (take < n) {
    u.state.dropped += n - take;
    ++u.state.overflowReports;
    const uint8_t report[1] = {static_cast<uint8_t>(slot)};
    appendPacket(out, 0, kUartOverflow, 0, report, 1);
  }
}

void BoardController::advance(uint64_t ns, bool hostConnected, std::vector<uint8_t>* out) {
  chain_.advance(ns);
  for (int s = 0; s < kControllerSlots; ++s) {
    int dev = cfg_.slots[s].device;
    if (dev < 0) continue;
    SerialLink* link = chain_.uart(dev);
    if (!link) continue;
    SlotUart& u = uart_[s];
    uint32_t baud = u.state.baud ? u.state.baud : kDefaultBaud;
    // 10 bit times per byte (start, 8 data, stop), each direction on its own wire.
    double bytes = double(ns) * baud / 10.0 / 1e9;
    // An idle line saves up no more than a short burst.
    u.credit = std::min(u.credit + bytes, u.toFpga.empty() ? 16.0 : double(cfg_.uartBufferBytes));
    uint8_t chunk[kMaxAnswerData];
    size_t move = std::min(u.toFpga.size(), size_t(u.credit));
    if (move > 0) {
      size_t done = 0;
      while (done < move) {
        size_t n = std::min(move - done, sizeof chunk);
        std::copy_n(u.toFpga.begin(), n, chunk);
        u.toFpga.erase(u.toFpga.begin(), u.toFpga.begin() + long(n));
        link->toFpga(chunk, n);
        done += n;
      }
      u.state.toFpga += move;
      u.credit -= double(move);
    }
    if (!hostConnected) continue;
    while (link->fromFpgaAvailable() > 0) {
      chunk[0] = static_cast<uint8_t>(s << 4);
      size_t n = link->fromFpga(chunk + 1, sizeof chunk - 1);
      if (n == 0) break;
      appendPacket(out, 0, kUartData, 0, chunk, n + 1);
      u.state.toHost += n;
    }
  }
}

}  // namespace varnsim
