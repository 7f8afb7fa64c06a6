#include "tools/varn_mgmt/mgmt_frame.h"

#include <cstdio>
#include <cstring>

namespace varnmgmt {

namespace {

template <typename T>
T get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // host byte order, as the bridge writes it
  return v;
}

std::string serialText(const uint8_t* p) {
  size_t n = 0;
  while (n < 16 && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::string where(size_t board, size_t device) {
  return "board " + std::to_string(board) + " device " + std::to_string(device);
}

// Checks one record's fields; the record (its length byte included) is rec[0..len).
bool deviceRecord(const uint8_t* rec, size_t len, DeviceRecord* d, std::string* why) {
  if (len < 45) {
    *why = "device record of " + std::to_string(len) + " bytes, at least 45 expected";
    return false;
  }
  const size_t n = rec[34];
  if (len != 45 + n) {
    *why = "device record of " + std::to_string(len) + " bytes with a name of " + std::to_string(n);
    return false;
  }
  std::memcpy(d->dna, rec + 1, 12);
  d->serial = serialText(rec + 13);
  d->idcode = get<uint32_t>(rec + 29);
  d->state = rec[33];
  d->bitstream.assign(reinterpret_cast<const char*>(rec + 35), n);
  d->port = get<uint16_t>(rec + 35 + n);
  d->txBytes = get<uint32_t>(rec + 37 + n);
  d->rxBytes = get<uint32_t>(rec + 41 + n);
  return true;
}

bool telemetryRecord(const uint8_t* rec, size_t len, TelemetryRecord* t, std::string* why) {
  if (len < 30 || len != 30 + 16 * static_cast<size_t>(rec[29])) {
    *why = "telemetry record of " + std::to_string(len) + " bytes for " +
           (len >= 30 ? std::to_string(rec[29]) : std::string("?")) + " SLRs";
    return false;
  }
  std::memcpy(t->dna, rec + 1, 12);
  t->serial = serialText(rec + 13);
  t->slrs.resize(rec[29]);
  for (size_t k = 0; k < t->slrs.size(); ++k) {
    t->slrs[k].celsius = get<double>(rec + 30 + 16 * k);
    t->slrs[k].vccint = get<double>(rec + 38 + 16 * k);
  }
  return true;
}

std::string tooLong() { return "frame longer than " + std::to_string(kMaxFrameBytes) + " bytes"; }

}  // namespace

ParseResult parseFrame(const uint8_t* data, size_t length, Frame* out, size_t* used, std::string* error) {
  auto needMore = [used](size_t need) {
    *used = need;
    return ParseResult::NeedMore;
  };
  if (length < 5) return needMore(5);
  Frame f;
  if (std::memcmp(data, "VNDL", 4) == 0) {
    f.kind = Frame::Kind::DeviceList;
  } else if (std::memcmp(data, "VNTE", 4) == 0) {
    f.kind = Frame::Kind::Telemetry;
  } else {
    char text[64];
    std::snprintf(text, sizeof text, "unknown frame magic %02x %02x %02x %02x", data[0], data[1], data[2], data[3]);
    *error = text;
    return ParseResult::Error;
  }
  const size_t boards = data[4];
  size_t at = 5;
  for (size_t b = 0; b < boards; ++b) {
    if (at >= length) {
      if (length < kMaxFrameBytes) return needMore(at + 1);
      *error = tooLong();
      return ParseResult::Error;
    }
    const size_t devices = data[at++];
    if (f.kind == Frame::Kind::DeviceList)
      f.devices.emplace_back(devices);
    else
      f.telemetry.emplace_back(devices);
    for (size_t d = 0; d < devices; ++d) {
      if (at >= length) return needMore(at + 1);
      const size_t len = data[at];
      if (len == 0) {
        *error = "empty record at " + where(b, d);
        return ParseResult::Error;
      }
      if (at + len > length) {
        if (at + len > kMaxFrameBytes) {
          *error = tooLong();
          return ParseResult::Error;
        }
        return needMore(at + len);
      }
      std::string why;
      const bool ok = f.kind == Frame::Kind::DeviceList ? deviceRecord(data + at, len, &f.devices[b][d], &why)
                                                        : telemetryRecord(data + at, len, &f.telemetry[b][d], &why);
      if (!ok) {
        *error = why + " at " + where(b, d);
        return ParseResult::Error;
      }
      at += len;
    }
  }
  *out = std::move(f);
  *used = at;
  return ParseResult::Frame;
}

ParseResult FrameReader::next(Frame* out, std::string* error) {
  if (buffer_.size() < need_ && buffer_.size() < kMaxFrameBytes) return ParseResult::NeedMore;
  size_t used = 0;
  const ParseResult r = parseFrame(buffer_.data(), buffer_.size(), out, &used, error);
  need_ = r == ParseResult::NeedMore ? used : 0;
  if (r == ParseResult::Frame) buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(used));
  if (r == ParseResult::NeedMore && buffer_.size() >= kMaxFrameBytes) {
    *error = tooLong();
    return ParseResult::Error;
  }
  return r;
}

std::string stateName(uint8_t state) {
  if (state == 0) return "not started";
  static const char* names[] = {"waiting", "programming", "loaded", "no valid bitstream", "load failed"};
  std::string out;
  for (int bit = 0; bit < 8; ++bit) {
    if (!(state & (1u << bit))) continue;
    if (!out.empty()) out += "+";
    out += bit < 5 ? names[bit] : "bit" + std::to_string(bit);
  }
  return out;
}

std::string dnaHex(const uint8_t dna[12]) {
  char text[25];
  for (int i = 0; i < 12; ++i) std::snprintf(text + 2 * i, 3, "%02x", dna[i]);
  return text;
}

}  // namespace varnmgmt
