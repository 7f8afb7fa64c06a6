#include "sim/usb/ftdi_usb_chip.h"

#include <cstring>

namespace varnsim {

namespace {

constexpr uint64_t kPsPerMs = 1'000'000'000ull;
// Modem status as an idle FT2232H reports it (CTS, DSR low nibble 1) and the line
// status (transmitter empty).
constexpr uint8_t kModemStatus = 0x32, kLineStatus = 0x60;

uint16_t bcdDevice(ChipKind k) {
  switch (k) {
    case ChipKind::FT232H: return 0x0900;
    case ChipKind::FT2232H: return 0x0700;
    case ChipKind::FT4232H: return 0x0800;
    case ChipKind::FT232R: return 0x0600;
  }
  return 0x0700;
}

// The vendor driver lists a channel as serial + letter and description + " " + letter.
std::string chipText(const std::string& channelText, bool multi, size_t cut) {
  return multi && channelText.size() >= cut ? channelText.substr(0, channelText.size() - cut) : channelText;
}

void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

std::vector<uint8_t> stringDescriptor(const std::string& s) {
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * s.size()), 0x03};
  for (char c : s) put16(d, static_cast<uint8_t>(c));
  return d;
}

}  // namespace

FtdiUsbChip::FtdiUsbChip(std::vector<std::shared_ptr<ChannelEntry>> channels)
    : channels_(std::move(channels)),
      lastInPs_(channels_.size(), 0),
      latencyMs_(channels_.size(), 16),
      chip_(channels_.front()->chip),
      pid_(static_cast<uint16_t>(channels_.front()->id & 0xFFFF)) {
  const bool multi = channels_.size() > 1;
  serial_ = chipText(channels_.front()->serial, multi, 1);
  description_ = chipText(channels_.front()->description, multi, 2);
}

std::vector<uint8_t> FtdiUsbChip::descriptors() const {
  const uint16_t vid = static_cast<uint16_t>(channels_.front()->id >> 16);
  const uint16_t maxPacket = static_cast<uint16_t>(chip_->packetSize);
  std::vector<uint8_t> d{18, 0x01};
  put16(d, 0x0200);
  d.insert(d.end(), {0x00, 0x00, 0x00, 64});
  put16(d, vid);
  put16(d, pid_);
  put16(d, bcdDevice(chip_->kind));
  d.insert(d.end(), {1, 2, 3, 1});
  const int n = interfaces();
  d.insert(d.end(), {9, 0x02});
  put16(d, static_cast<uint16_t>(9 + n * (9 + 7 + 7)));
  d.insert(d.end(), {static_cast<uint8_t>(n), 1, 0, 0x80, 0xFA});
  for (int i = 0; i < n; ++i) {
    d.insert(d.end(), {9, 0x04, static_cast<uint8_t>(i), 0, 2, 0xFF, 0xFF, 0xFF, 2});
    d.insert(d.end(), {7, 0x05, static_cast<uint8_t>(0x81 + 2 * i), 0x02});
    put16(d, maxPacket);
    d.push_back(0);
    d.insert(d.end(), {7, 0x05, static_cast<uint8_t>(0x02 + 2 * i), 0x02});
    put16(d, maxPacket);
    d.push_back(0);
  }
  return d;
}

int FtdiUsbChip::channelOfEndpoint(uint8_t endpoint) const {
  const int number = endpoint & 0x0F;
  const int channel = (endpoint & 0x80) ? (number - 1) / 2 : (number - 2) / 2;
  return channel >= 0 && channel < interfaces() ? channel : -1;
}

bool FtdiUsbChip::control(const UsbSetup& s, const uint8_t*, std::vector<uint8_t>* in) {
  in->clear();
  if (s.requestType == 0x80 && s.request == 0x06) {  // GET_DESCRIPTOR
    const uint8_t type = static_cast<uint8_t>(s.value >> 8), index = static_cast<uint8_t>(s.value);
    std::vector<uint8_t> all = descriptors();
    if (type == 0x01) {
      in->assign(all.begin(), all.begin() + 18);
    } else if (type == 0x02) {
      in->assign(all.begin() + 18, all.end());
    } else if (type == 0x03) {
      if (index == 0) *in = {4, 0x03, 0x09, 0x04};
      else if (index == 1) *in = stringDescriptor("FTDI");
      else if (index == 2) *in = stringDescriptor(description_);
      else if (index == 3) *in = stringDescriptor(serial_);
      else return false;
    } else {
      return false;
    }
    if (in->size() > s.length) in->resize(s.length);
    return true;
  }
  if ((s.requestType & 0x60) != 0x40) return s.requestType == 0x00;  // other standard OUT requests: accepted
  // FTDI vendor requests: wIndex's low byte is the channel, 1 for A.
  const int channel = static_cast<int>(s.index & 0xFF) - 1;
  if (channel < 0 || channel >= interfaces()) return false;
  ChannelEntry& e = *channels_[static_cast<size_t>(channel)];
  std::lock_guard<std::mutex> l(e.board->mutex());
  uint64_t now = e.board->now();
  bool ok = true;
  switch (s.request) {
    case 0x00:  // reset: 0 SIO reset, 1 and 2 purge one direction each
      if (s.value == 0) {
        e.ch->purge(true, true);
        e.ch->setBitMode(0, 0, now);
      } else {
        e.ch->purge(s.value == 2, s.value == 1);
      }
      break;
    case 0x01: case 0x02: case 0x06: case 0x07:  // modem lines, flow control, event and error chars
      break;
    case 0x03: {  // baud rate divisor, H chips: the divisor's bits 16 and 17 ride in wIndex's high byte
      const uint32_t encoded = s.value | (uint32_t{static_cast<uint16_t>(s.index >> 8)} << 16);
      static const double kFraction[8] = {0, 0.5, 0.25, 0.125, 0.375, 0.625, 0.75, 0.875};
      const double base = (encoded & (1u << 17)) ? 12e6 : 3e6;  // bit 17: the 120 MHz clock
      const uint32_t whole = encoded & 0x3FFF;
      const double fraction = kFraction[(encoded >> 14) & 7];
      double divisor = whole + fraction;
      if (whole == 0 && fraction == 0) divisor = 1;
      else if (whole == 1 && fraction == 0) divisor = 1.5;
      e.ch->setBaud(static_cast<uint32_t>(base / divisor + 0.5));
      break;
    }
    case 0x04: {  // data bits, parity (bits 8-10), stop bits (11-13: 0 one, 2 two)
      const unsigned bits = s.value & 0xFF, parity = (s.value >> 8) & 7, stop = (s.value >> 11) & 7;
      e.ch->setFrameBits(1 + bits + (parity ? 1 : 0) + (stop == 2 ? 2 : 1));
      break;
    }
    case 0x05: *in = {kModemStatus, kLineStatus}; break;
    case 0x09:
      latencyMs_[static_cast<size_t>(channel)] = (s.value & 0xFF) ? (s.value & 0xFF) : 1;
      e.ch->setLatencyMs(latencyMs_[static_cast<size_t>(channel)]);
      break;
    case 0x0A: *in = {static_cast<uint8_t>(latencyMs_[static_cast<size_t>(channel)])}; break;
    case 0x0B: ok = e.ch->setBitMode(static_cast<uint8_t>(s.value), static_cast<uint8_t>(s.value >> 8), now); break;
    case 0x0C: *in = {0xFF}; break;
    case 0x90: *in = {0xFF, 0xFF}; break;  // a blank EEPROM
    default: ok = false; break;
  }
  e.board->advanceTo(now);
  if (in->size() > s.length) in->resize(s.length);
  return ok;
}

void FtdiUsbChip::bulkOut(int channel, const uint8_t* data, size_t n) {
  ChannelEntry& e = *channels_[static_cast<size_t>(channel)];
  std::lock_guard<std::mutex> l(e.board->mutex());
  uint64_t now = e.board->now();
  e.ch->write(data, n, now, 0);
  e.board->advanceTo(now);
}

bool FtdiUsbChip::bulkIn(int channel, size_t length, std::vector<uint8_t>* packets) {
  packets->clear();
  const size_t packet = chip_->packetSize;
  if (length < 2) return false;
  ChannelEntry& e = *channels_[static_cast<size_t>(channel)];
  std::lock_guard<std::mutex> l(e.board->mutex());
  uint64_t now = e.board->now();
  const size_t fullPackets = length / packet, rest = length % packet;
  const size_t room = fullPackets * (packet - 2) + (rest > 2 ? rest - 2 : 0);
  std::vector<uint8_t> data(room ? room : 1);
  const size_t got = room ? e.ch->read(data.data(), room, now, 1) : 0;
  const uint64_t latencyPs = uint64_t{latencyMs_[static_cast<size_t>(channel)]} * kPsPerMs;
  uint64_t& last = lastInPs_[static_cast<size_t>(channel)];
  if (got == 0 && now < last + latencyPs) {
    e.board->advanceTo(now);
    return false;
  }
  for (size_t at = 0;;) {
    packets->push_back(kModemStatus);
    packets->push_back(kLineStatus);
    const size_t n = got - at < packet - 2 ? got - at : packet - 2;
    packets->insert(packets->end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    at += n;
    if (at >= got) break;
  }
  last = now;
  e.board->advanceTo(now);
  return true;
}

}  // namespace varnsim
