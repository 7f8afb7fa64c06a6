#include "sim/core/board_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace varnsim {

namespace {

using Words = std::vector<std::pair<std::string, std::string>>;

std::string at(int line) { return "line " + std::to_string(line) + ": "; }

// Splits a line into words, honouring double quotes and '#' comments.
bool tokenize(const std::string& text, Words* out, std::string* error) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    if (i >= text.size() || text[i] == '#') break;
    std::string word;
    bool quoted = false;
    while (i < text.size()) {
      char c = text[i];
      if (c == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '#')) break;
      word += c;
      ++i;
    }
    if (quoted) {
      *error = "unterminated quote";
      return false;
    }
    size_t eq = word.find('=');
    if (eq == std::string::npos) out->push_back({"", word});
    else out->push_back({word.substr(0, eq), word.substr(eq + 1)});
  }
  return true;
}

bool number(const std::string& s, uint64_t max, uint64_t* out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno || *end || v > max) return false;
  *out = v;
  return true;
}

uint64_t nameSeed(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

bool goodName(const std::string& n) {
  if (n.empty() || n.size() > 63) return false;
  for (char c : n)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
  return true;
}

class Parser {
 public:
  Parser(BoardFile& f, const ExtraLine& extra) : f_(f), extra_(extra) {}

  bool line(int n, const Words& w, std::string* err) {
    const std::string& kw = w[0].second;
    if (!w[0].first.empty()) return fail(n, "a line starts with a keyword, not '" + w[0].first + "='", err);
    if (kw == "board") return board(n, w, err);
    if (kw == "device") return device(n, w, err);
    if (kw == "fault") return fault(n, w, err);
    if (kw == "ftdi") return ftdi(n, w, err);
    if (kw == "channel") return channel(n, w, err);
    if (extra_) {
      std::string e;
      if (extra_(kw, Words(w.begin() + 1, w.end()), n, f_, &e)) return true;
      if (!e.empty()) return fail(n, e, err);
    }
    return fail(n, "unknown keyword '" + kw + "' (board, device, fault, ftdi, channel)", err);
  }

  bool finish(std::string* err);

 private:
  static bool fail(int n, const std::string& what, std::string* err) {
    *err = at(n) + what;
    return false;
  }

  bool board(int n, const Words& w, std::string* err) {
    if (w.size() < 2 || !w[1].first.empty()) return fail(n, "board needs a name", err);
    BoardSpec b;
    b.name = w[1].second;
    b.line = n;
    if (!goodName(b.name)) return fail(n, "bad board name '" + b.name + "' (letters, digits, '_', '-')", err);
    if (f_.board(b.name)) return fail(n, "board '" + b.name + "' is described twice", err);
    for (size_t i = 2; i < w.size(); ++i) {
      const auto& [k, v] = w[i];
      if (k == "clock") {
        if (v == "wall") b.wallClock = true;
        else if (v != "sim") return fail(n, "clock must be sim or wall, not '" + v + "'", err);
      } else if (k.find('.') != std::string::npos) {
        b.attributes[k] = v;
      } else {
        return fail(n, "unknown board option '" + (k.empty() ? v : k) + "'", err);
      }
    }
    f_.boards.push_back(std::move(b));
    lastChip_ = false;
    return true;
  }

  bool device(int n, const Words& w, std::string* err) {
    if (f_.boards.empty() || lastChip_) return fail(n, "device outside a board", err);
    if (w.size() < 2 || !w[1].first.empty()) return fail(n, "device needs a part name", err);
    DeviceSpec d;
    d.line = n;
    d.cfg.part = findPart(w[1].second);
    if (!d.cfg.part)
      return fail(n, "unknown part '" + w[1].second + "' (VU33P VU35P VU9P VU13P GX2800-H GX2800-L MX2100)", err);
    for (size_t i = 2; i < w.size(); ++i) {
      const auto& [k, v] = w[i];
      if (k.empty()) return fail(n, "expected key=value, got '" + v + "'", err);
      std::string e;
      int r = setDeviceOption(d.cfg, k, v, &e);
      if (r < 0) return fail(n, e, err);
      if (r == 0) d.cfg.design[k] = v;  // the design's own options
    }
    auto& b = f_.boards.back();
    if (b.devices.size() >= 8) return fail(n, "more than 8 devices on board '" + b.name + "'", err);
    fillDefaultIdentity(d.cfg, nameSeed(b.name) * 131 + b.devices.size());
    b.devices.push_back(std::move(d));
    return true;
  }

  bool fault(int n, const Words& w, std::string* err) {
    if (f_.boards.empty() || lastChip_) return fail(n, "fault outside a board", err);
    if (w.size() != 2) return fail(n, "fault takes one of tdo=0, tdo=1, break=N", err);
    auto& f = f_.boards.back().fault;
    const auto& [k, v] = w[1];
    uint64_t x;
    if (k == "tdo" && (v == "0" || v == "1")) {
      f.kind = v == "0" ? ChainFault::Kind::TdoStuck0 : ChainFault::Kind::TdoStuck1;
    } else if (k == "break" && number(v, 64, &x)) {
      f.kind = ChainFault::Kind::Break;
      f.at = x;
      breakLine_[f_.boards.size() - 1] = n;
    } else {
      return fail(n, "bad fault '" + k + "=" + v + "' (tdo=0, tdo=1, break=N)", err);
    }
    return true;
  }

  bool ftdi(int n, const Words& w, std::string* err) {
    if (w.size() < 2 || !w[1].first.empty()) return fail(n, "ftdi needs a chip (FT232H FT2232H FT4232H FT232R)", err);
    FtdiSpec c;
    c.line = n;
    c.chip = findChip(w[1].second);
    if (!c.chip) return fail(n, "unknown chip '" + w[1].second + "' (FT232H FT2232H FT4232H FT232R)", err);
    c.pid = c.chip->pid;
    c.description = c.chip->description;
    c.timing = UsbTiming::forChip(*c.chip);
    c.channels.resize(static_cast<size_t>(c.chip->channels));
    for (size_t i = 2; i < w.size(); ++i) {
      const auto& [k, v] = w[i];
      uint64_t x;
      if (k == "serial") {
        c.serial = v;
      } else if (k == "description") {
        c.description = v;
      } else if ((k == "pid" || k == "vid") && number(v, 0xFFFF, &x)) {
        (k == "pid" ? c.pid : c.vid) = static_cast<uint16_t>(x);
      } else if (k == "usb_write_us" && number(v, 1000000, &x)) {
        c.timing.writeOverheadPs = x * 1000000;
      } else if (k == "usb_in_us" && number(v, 1000000, &x)) {
        c.timing.deliverPs = x * 1000000;
      } else if (k == "usb_mbps" && number(v, 1000, &x) && x > 0) {
        c.timing.psPerByte = 1000000 / x;
      } else if (k == "status_us" && number(v, 1000000, &x)) {
        c.timing.statusPs = x * 1000000;
      } else if (k == "rxbuf" && number(v, 1u << 26, &x) && x >= 512) {
        c.timing.driverCapacity = x;
      } else {
        return fail(n, "bad ftdi option '" + (k.empty() ? v : k + "=" + v) + "'", err);
      }
    }
    const size_t maxSerial = c.chip->channels > 1 ? 14 : 15;
    if (c.serial.size() > maxSerial)
      return fail(n, "serial '" + c.serial + "' longer than " + std::to_string(maxSerial) + " characters", err);
    const size_t maxDesc = c.chip->channels > 1 ? 61 : 63;
    if (c.description.size() > maxDesc)
      return fail(n, "description longer than " + std::to_string(maxDesc) + " characters", err);
    f_.chips.push_back(std::move(c));
    lastChip_ = true;
    return true;
  }

  bool channel(int n, const Words& w, std::string* err) {
    if (f_.chips.empty() || !lastChip_) return fail(n, "channel outside an ftdi chip", err);
    auto& c = f_.chips.back();
    if (w.size() < 3 || !w[1].first.empty() || w[1].second.size() != 1)
      return fail(n, "channel needs a letter and a role (jtag=BOARD, uart=BOARD[.DEVICE], none)", err);
    const int idx = w[1].second[0] - 'A';
    if (idx < 0 || idx >= c.chip->channels)
      return fail(n, std::string(c.chip->name) + " has no channel " + w[1].second, err);
    ChannelSpec& ch = c.channels[static_cast<size_t>(idx)];
    if (ch.line) return fail(n, "channel " + w[1].second + " described twice", err);
    ch.line = n;
    bool roleSeen = false;
    for (size_t i = 2; i < w.size(); ++i) {
      const auto& [k, v] = w[i];
      uint64_t x;
      if (k == "jtag" || k == "uart" || (k.empty() && v == "none")) {
        if (roleSeen) return fail(n, "a channel has one role", err);
        roleSeen = true;
        if (k.empty()) continue;
        ch.role = k == "jtag" ? ChannelSpec::Role::Jtag : ChannelSpec::Role::Uart;
        ch.board = v;
        if (k == "uart") {
          size_t dot = v.rfind('.');
          if (dot != std::string::npos) {
            if (!number(v.substr(dot + 1), 7, &x)) return fail(n, "bad device in '" + v + "'", err);
            ch.board = v.substr(0, dot);
            ch.device = static_cast<int>(x);
          }
        }
        if (ch.role == ChannelSpec::Role::Jtag && !((c.chip->mpsseChannels >> idx) & 1))
          return fail(n, std::string("channel ") + w[1].second + " of an " + c.chip->name + " has no MPSSE", err);
      } else if (k == "fail_open") {
        if (v != "yes" && v != "no") return fail(n, "fail_open must be yes or no", err);
        ch.faults.failOpen = v == "yes";
      } else if ((k == "short_reads" || k == "read_timeouts" || k == "write_failures") && number(v, 1000000, &x)) {
        int& dst = k == "short_reads" ? ch.faults.shortReads
                                      : (k == "read_timeouts" ? ch.faults.readTimeouts : ch.faults.writeFailures);
        dst = static_cast<int>(x);
      } else {
        return fail(n, "bad channel option '" + (k.empty() ? v : k + "=" + v) + "'", err);
      }
    }
    if (!roleSeen) return fail(n, "channel needs a role (jtag=BOARD, uart=BOARD[.DEVICE], none)", err);
    return true;
  }

  BoardFile& f_;
  const ExtraLine& extra_;
  bool lastChip_ = false;
  std::map<size_t, int> breakLine_;
};

bool Parser::finish(std::string* err) {
  for (size_t i = 0; i < f_.boards.size(); ++i) {
    const auto& b = f_.boards[i];
    if (b.fault.kind == ChainFault::Kind::Break && b.fault.at > b.devices.size())
      return fail(breakLine_[i], "break=" + std::to_string(b.fault.at) + " but board '" + b.name + "' has " +
                                     std::to_string(b.devices.size()) + " devices",
                  err);
  }
  std::set<std::string> driven;
  for (const auto& c : f_.chips) {
    for (const auto& ch : c.channels) {
      if (ch.role == ChannelSpec::Role::None) continue;
      const BoardSpec* b = f_.board(ch.board);
      if (!b) return fail(ch.line, "no board named '" + ch.board + "'", err);
      if (ch.role == ChannelSpec::Role::Jtag && !driven.insert(ch.board).second)
        return fail(ch.line, "board '" + ch.board + "' already has a JTAG channel", err);
      if (ch.role == ChannelSpec::Role::Uart && static_cast<size_t>(ch.device) >= b->devices.size())
        return fail(ch.line, "board '" + ch.board + "' has no device " + std::to_string(ch.device), err);
    }
  }
  return true;
}

}  // namespace

const BoardSpec* BoardFile::board(const std::string& name) const {
  for (const auto& b : boards)
    if (b.name == name) return &b;
  return nullptr;
}

bool parseBoardFile(const std::string& text, BoardFile* out, std::string* error, const ExtraLine& extra) {
  BoardFile f;
  Parser p(f, extra);
  std::istringstream in(text);
  std::string line;
  int n = 0;
  std::string err;
  Words words;
  while (std::getline(in, line)) {
    ++n;
    if (!tokenize(line, &words, &err)) {
      if (error) *error = at(n) + err;
      return false;
    }
    if (words.empty()) continue;
    if (!p.line(n, words, &err)) {
      if (error) *error = err;
      return false;
    }
  }
  if (!p.finish(&err)) {
    if (error) *error = err;
    return false;
  }
  *out = std::move(f);
  return true;
}

bool loadBoardFile(const std::string& path, BoardFile* out, std::string* error, const ExtraLine& extra) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    if (error) *error = "cannot open board description '" + path + "'";
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  std::string err;
  if (!parseBoardFile(ss.str(), out, &err, extra)) {
    if (error) *error = path + ": " + err;
    return false;
  }
  return true;
}

}  // namespace varnsim
