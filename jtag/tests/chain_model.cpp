#include "jtag/tests/chain_model.h"

#include "jtag/jtag_tables.h"
#include "jtag/tests/ft_capture.h"

namespace chainmodel {

namespace {

enum : uint32_t {
  kDrExit2 = 0, kDrExit1, kDrShift, kDrPause, kIrSelect, kDrUpdate, kDrCapture, kDrSelect,
  kIrExit2, kIrExit1, kIrShift, kIrPause, kIdle, kIrUpdate, kIrCapture, kReset
};

// The IEEE 1149.1 controller, written out here so the model does not lean on the
// engine's own table.
uint32_t next(uint32_t s, bool tms) {
  switch (s) {
    case kReset: return tms ? kReset : kIdle;
    case kIdle: return tms ? kDrSelect : kIdle;
    case kDrSelect: return tms ? kIrSelect : kDrCapture;
    case kDrCapture: return tms ? kDrExit1 : kDrShift;
    case kDrShift: return tms ? kDrExit1 : kDrShift;
    case kDrExit1: return tms ? kDrUpdate : kDrPause;
    case kDrPause: return tms ? kDrExit2 : kDrPause;
    case kDrExit2: return tms ? kDrUpdate : kDrShift;
    case kDrUpdate: return tms ? kDrSelect : kIdle;
    case kIrSelect: return tms ? kReset : kIrCapture;
    case kIrCapture: return tms ? kIrExit1 : kIrShift;
    case kIrShift: return tms ? kIrExit1 : kIrShift;
    case kIrExit1: return tms ? kIrUpdate : kIrPause;
    case kIrPause: return tms ? kIrExit2 : kIrPause;
    case kIrExit2: return tms ? kIrUpdate : kIrShift;
    default: return tms ? kDrSelect : kIdle;  // IRUPDATE
  }
}

void load(std::deque<bool>& reg, uint64_t value, int bits) {
  reg.clear();
  for (int i = 0; i < bits; ++i) reg.push_back(i < 64 ? ((value >> i) & 1) : false);
}
void loadBytes(std::deque<bool>& reg, const uint8_t* bytes, int bits) {
  reg.clear();
  for (int i = 0; i < bits; ++i) reg.push_back((bytes[i / 8] >> (i % 8)) & 1);
}
uint64_t value(const std::deque<bool>& reg, int bits) {
  uint64_t v = 0;
  for (int i = 0; i < bits && i < static_cast<int>(reg.size()); ++i)
    if (reg[i]) v |= 1ull << i;
  return v;
}

int irLen(const Device& d) { return static_cast<int>(JTAG_IRLENS[d.row]); }
int slrs(const Device& d) { return static_cast<int>(JTAG_I_MAP[d.row][JTAG_I_SLR_COUNT]); }
bool isIntel(const Device& d) { return JTAG_VENDORS[d.row] == JTAG_VENDOR_INTEL; }
bool is(const Device& d, int column) { return d.instruction == JTAG_I_MAP[d.row][column]; }
uint64_t idcodeInstr(const Device& d) {
  if (isIntel(d)) return 0x006;
  uint64_t v = 0;
  for (int k = 0; k < slrs(d); ++k) v = (v << 6) | 0x09;
  return v;
}
int sysmonSlrOf(const Device& d) {
  if (isIntel(d)) return -1;
  for (int s = 0; s < slrs(d); ++s)
    if (d.instruction == JTAG_I_MAP[d.row][jtag_sysmon_column(static_cast<uint32_t>(s))]) return s;
  return -1;
}

void captureDr(Device& d) {
  if (d.instruction == idcodeInstr(d)) return load(d.dr, d.idcode, 32);
  if (isIntel(d)) {
    if (d.instruction == 0x202) {
      uint64_t w = 0;  // status 0: nothing to read
      if (!d.sdmOut.empty()) {
        w = d.sdmOut.front();
        d.sdmOut.pop_front();
      }
      return load(d.dr, w, 34);
    }
    if (d.instruction == 0x201) return load(d.dr, 0, 34);
    return load(d.dr, 0, 1);
  }
  if (is(d, JTAG_I_DNA)) return loadBytes(d.dr, d.dna, 96);
  if (is(d, JTAG_I_FUSE_USER)) return load(d.dr, d.userFuse, 32);
  if (is(d, JTAG_I_FUSE_USER128)) return loadBytes(d.dr, d.fuse128, 128);
  if (is(d, JTAG_I_USERCODE)) return load(d.dr, d.userCode, 32);
  if (sysmonSlrOf(d) >= 0) return load(d.dr, d.sysmonResult, 32);
  if (is(d, JTAG_I_USER1)) {
    // One byte (or one empty slot, bit 8 set) per capture.
    uint64_t v = 0x100;
    if (d.emptyCaptures > 0) {
      d.emptyCaptures--;
    } else if (!d.toHost.empty()) {
      v = d.toHost.front();
      d.toHost.pop_front();
    }
    return load(d.dr, v, 9);
  }
  if (is(d, JTAG_I_USER2)) return load(d.dr, 0, 8);
  if (is(d, JTAG_I_USER3)) {
    const uint32_t n = static_cast<uint32_t>(d.toHost.size() > 255 ? 255 : d.toHost.size());
    return load(d.dr, (n << 16) | (n == 0 ? 0x04u : 0u), 32);
  }
  if (d.instruction == JTAG_SAMPLE_2SLR && !d.boundary.empty())
    return loadBytes(d.dr, d.boundary.data(), static_cast<int>(d.boundary.size() * 8));
  load(d.dr, 0, 1);  // BYPASS and everything else
}

void updateDr(Device& d) {
  if (isIntel(d)) {
    if (d.instruction == 0x201) {
      const uint64_t w = value(d.dr, 34);
      d.sdmWords.push_back(w);
      if ((w >> 32) == 2) {  // tag 2 ends a command
        if (d.sdm) {
          for (uint64_t r : d.sdm(d.sdmWords)) d.sdmOut.push_back(r);
        }
        d.sdmWords.clear();
      }
    }
    return;
  }
  const int slr = sysmonSlrOf(d);
  if (slr >= 0) {
    const uint32_t cmd = static_cast<uint32_t>(value(d.dr, 32));
    d.sysmonCommands.push_back(cmd);
    const uint32_t op = (cmd >> 26) & 0xF, addr = (cmd >> 16) & 0x3F;
    if (op == 1) d.sysmonResult = (addr << 16) | d.sysmon[slr][addr];
    return;
  }
  if (is(d, JTAG_I_USER2)) {
    const uint8_t b = static_cast<uint8_t>(value(d.dr, 8));
    d.fromHost.push_back(b);
    if (d.echo) d.toHost.push_back(b);
  }
}

bool clockOnce(bool tms, bool tdi) {
  Chain& c = chain();
  c.clocks++;
  const uint32_t s = c.tapState;
  bool& line = c.tdoLine;  // the TDO line's level (a keeper between scans)
  if (c.stuckTdo >= 0) {
    line = c.stuckTdo != 0;
  } else if ((s == kDrShift || s == kIrShift) && !c.devices.empty()) {
    auto& reg = s == kDrShift ? c.devices.back().dr : c.devices.back().ir;
    if (!reg.empty()) line = reg.front();
  } else if ((s == kDrShift || s == kIrShift) && c.devices.empty()) {
    line = tdi;  // an empty chain is a wire
  }
  const bool tdo = line;
  for (auto& d : c.devices) {
    if (s == kDrCapture) captureDr(d);
    if (s == kIrCapture) load(d.ir, isIntel(d) ? 0x1 : 0x11 | (0x11ull << 6) | (0x11ull << 12) | (0x11ull << 18),
                              irLen(d));
  }
  if (s == kDrShift || s == kIrShift) {
    bool carry = tdi;
    for (auto& d : c.devices) {
      auto& reg = s == kDrShift ? d.dr : d.ir;
      if (reg.empty()) continue;
      const bool out = reg.front();
      reg.pop_front();
      reg.push_back(carry);
      carry = out;
    }
  }
  c.tapState = next(s, tms);
  for (auto& d : c.devices) {
    if (c.tapState == kDrUpdate) updateDr(d);
    if (c.tapState == kIrUpdate) d.instruction = value(d.ir, irLen(d));
    if (c.tapState == kReset) d.instruction = idcodeInstr(d);
  }
  return tdo;
}

// Decodes whole commands from the pending bytes; a command cut by the end of a write
// waits for the next one.
void run() {
  Chain& c = chain();
  auto& p = c.pending;
  size_t i = 0;
  auto& replies = ftcap::state().replies;
  bool& tdiLevel = c.tdiLevel;
  while (i < p.size()) {
    const uint8_t op = p[i];
    const size_t left = p.size() - i;
    if (op == 0x80 || op == 0x82 || op == 0x86) {
      if (left < 3) break;
      i += 3;
    } else if (op == 0x85 || op == 0x84 || op == 0x8A || op == 0x97 || op == 0x87) {
      i += 1;
    } else if (op == 0x8E) {
      if (left < 2) break;
      for (int k = 0; k <= p[i + 1]; ++k) clockOnce(false, tdiLevel);
      i += 2;
    } else if (op == 0x8F) {
      if (left < 3) break;
      const uint32_t n = (p[i + 1] | (p[i + 2] << 8)) + 1u;
      for (uint32_t k = 0; k < n * 8; ++k) clockOnce(false, tdiLevel);
      i += 3;
    } else if ((op & 0xF8) == 0x48 || (op & 0xF8) == 0x68) {
      if (left < 3) break;
      const int n = p[i + 1] + 1;
      const uint8_t bits = p[i + 2];
      tdiLevel = (bits & 0x80) != 0;
      uint8_t r = 0;
      for (int k = 0; k < n; ++k) {
        const bool t = clockOnce((bits >> k) & 1, tdiLevel);
        r = static_cast<uint8_t>((r >> 1) | (t ? 0x80 : 0));
      }
      if (op & 0x20) replies.push_back(r);
      i += 3;
    } else if (op >= 0x10 && op <= 0x3F) {
      const bool write = op & 0x10, read = op & 0x20, bitMode = op & 0x02;
      if (bitMode) {
        if (left < (write ? 3u : 2u)) break;
        const int n = p[i + 1] + 1;
        const uint8_t data = write ? p[i + 2] : 0;
        uint8_t r = 0;
        for (int k = 0; k < n; ++k) {
          if (write) tdiLevel = (data >> k) & 1;
          const bool t = clockOnce(false, tdiLevel);
          r = static_cast<uint8_t>((r >> 1) | (t ? 0x80 : 0));
        }
        if (read) replies.push_back(r);
        i += write ? 3 : 2;
      } else {
        if (left < 3) break;
        const size_t n = (p[i + 1] | (p[i + 2] << 8)) + 1u;
        if (write && left < 3 + n) break;
        for (size_t b = 0; b < n; ++b) {
          const uint8_t data = write ? p[i + 3 + b] : 0;
          uint8_t r = 0;
          for (int k = 0; k < 8; ++k) {
            if (write) tdiLevel = (data >> k) & 1;
            if (clockOnce(false, tdiLevel)) r |= static_cast<uint8_t>(1 << k);
          }
          if (read) replies.push_back(r);
        }
        i += 3 + (write ? n : 0);
      }
    } else {
      replies.push_back(0xFA);  // bad command
      replies.push_back(op);
      i += 1;
    }
  }
  p.erase(p.begin(), p.begin() + static_cast<long>(i));
}

}  // namespace

Chain& chain() {
  static Chain c;
  return c;
}

void install(std::vector<Device> devices) {
  ftcap::reset();
  chain() = Chain();
  chain().devices = std::move(devices);
  for (auto& d : chain().devices) d.instruction = idcodeInstr(d);
  ftcap::state().padReads = false;
  ftcap::state().onWrite = [](const uint8_t* data, size_t n) {
    chain().exchanges++;
    chain().pending.insert(chain().pending.end(), data, data + n);
    run();
  };
}

namespace {
Device make(int row, uint32_t salt) {
  Device d;
  d.row = row;
  d.idcode = static_cast<uint32_t>(JTAG_IDCODES[row]) | 0x10000000u;  // version 1
  for (int k = 0; k < 12; ++k) d.dna[k] = static_cast<uint8_t>(0x10 * row + k + salt);
  d.userFuse = 0xA5000000u | (salt << 8) | static_cast<uint32_t>(row);
  for (int k = 0; k < 16; ++k) d.fuse128[k] = static_cast<uint8_t>(0xC0 + k + salt);
  for (int s = 0; s < 4; ++s) {
    d.sysmon[s][0] = static_cast<uint16_t>(0xA340 + 0x40 * s);  // about 45 degrees
    d.sysmon[s][1] = static_cast<uint16_t>(0x4880 + 0x40 * s);  // about 0.85 V
    d.sysmon[s][2] = 0x9980;
    d.sysmon[s][6] = 0x4A00;
  }
  return d;
}
}  // namespace

Device vu35p(uint32_t salt) {
  Device d = make(JTAG_DEV_VU35P, salt);
  d.boundary.assign(233, 0xFF);
  return d;
}
Device vu9p(uint32_t salt) { return make(JTAG_DEV_VU9P, salt); }
Device vu33p(uint32_t salt) { return make(JTAG_DEV_VU33P, salt); }
Device vu13p(uint32_t salt) { return make(JTAG_DEV_VU13P, salt); }
Device gx2800h(uint32_t salt) { return make(JTAG_DEV_GX2800H, salt); }

}  // namespace chainmodel
