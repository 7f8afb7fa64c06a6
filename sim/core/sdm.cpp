#include "sim/core/sdm.h"

#include <cmath>

#include "sim/core/crc.h"
#include "sim/core/rbf_format.h"

namespace varnsim {

namespace {

constexpr uint32_t kCmdNoop = 0x000;
constexpr uint32_t kCmdEcho = 0x001;
constexpr uint32_t kCmdConfigStatus = 0x004;
constexpr uint32_t kCmdProgramStart = 0x005;
constexpr uint32_t kCmdChipId = 0x012;
constexpr uint32_t kCmdVoltage = 0x018;
constexpr uint32_t kCmdTemperature = 0x019;

constexpr uint32_t kErrBadLength = 0x002;
constexpr uint32_t kErrUnknown = 0x3FF;

constexpr uint64_t kStNothing = 0, kStMore = 1, kStEnd = 2, kStLast = 3;
constexpr size_t kMaxCommandWords = 64;

uint64_t raw(uint32_t data, uint64_t status) { return (uint64_t{data} << 2) | status; }

int32_t fixed(double v, double scale) { return static_cast<int32_t>(std::lround(v * scale)); }

}  // namespace

void SdmStream::word(uint32_t w, uint32_t expectedIdcode) {
  const uint32_t index = taken / 4;
  if (index == 0 && w != rbf::kRbfMagic) return fail(rbf::kErrMagic);
  if (index == 1) {
    if (w % 4 || w < rbf::kMinLength || w > rbf::kMaxLength) return fail(rbf::kErrLength);
    length = w;
  }
  if (index == 2 && ((w ^ expectedIdcode) & 0x0FFFFFFF) != 0) return fail(rbf::kErrPart);
  if (length && taken + 4 == length) {
    if (~crc != w) return fail(rbf::kErrCrc);
    taken += 4;
    complete = true;
    return;
  }
  taken += 4;
}

void SdmStream::feed(uint8_t b, uint32_t expectedIdcode) {
  if (failed || complete) return;  // the SDM takes nothing past the end or after an error
  const uint32_t pos = taken + static_cast<uint32_t>(partialBytes);
  if (pos < 8 || pos + 4 < length) crc = crc32IeeeByte(crc, b);
  partial |= uint32_t{b} << (8 * partialBytes);
  if (++partialBytes == 4) {
    uint32_t w = partial;
    partial = 0;
    partialBytes = 0;
    word(w, expectedIdcode);
  }
}

Sdm::Sdm(const DeviceConfig& cfg) : cfg_(cfg) {
  if (cfg_.preconfigured) state_ = SdmState::Configured;
  if (cfg_.sdmBusyPolls < 0) busyLeft_ = -1;
}

void Sdm::commandWord(uint64_t w) {
  const uint32_t data = static_cast<uint32_t>(w);
  const uint32_t tag = static_cast<uint32_t>(w >> 32) & 3;
  switch (tag) {
    case 0: return;  // filler
    case 3:
      cmd_.clear();
      overflow_ = false;
      rsp_.clear();
      hold_ = 0;
      return;
    default:
      if (cmd_.size() < kMaxCommandWords) cmd_.push_back(data);
      else overflow_ = true;
      if (tag == 2) execute();
      return;
  }
}

uint64_t Sdm::responseWord() {
  if (hold_ > 0) {
    --hold_;
    return raw(0, kStNothing);
  }
  if (rsp_.empty()) return raw(0, kStNothing);
  uint64_t v = rsp_.front();
  rsp_.pop_front();
  return v;
}

void Sdm::respond(uint32_t id, uint32_t error, const std::vector<uint32_t>& data) {
  const uint32_t header = ((id & 0xF) << 24) | ((static_cast<uint32_t>(data.size()) & 0xFFF) << 12) | (error & 0x7FF);
  if (data.empty()) {
    rsp_.push_back(raw(header, kStMore));
    rsp_.push_back(raw(0, kStEnd));
    return;
  }
  rsp_.push_back(raw(header, kStMore));
  for (size_t i = 0; i < data.size(); ++i) rsp_.push_back(raw(data[i], i + 1 == data.size() ? kStLast : kStMore));
}

void Sdm::execute() {
  ++commands_;
  std::vector<uint32_t> words;
  words.swap(cmd_);
  hold_ = cfg_.sdmDelayPolls;
  const uint32_t header = words.front();
  const uint32_t id = (header >> 24) & 0xF;
  const uint32_t code = header & 0xFFF;
  const uint32_t nargs = (header >> 12) & 0xFFF;
  const std::vector<uint32_t> args(words.begin() + 1, words.end());
  if (overflow_ || nargs != args.size()) {
    overflow_ = false;
    return respond(id, kErrBadLength, {});
  }
  const uint32_t mask = args.empty() ? 0 : args[0];
  switch (code) {
    case kCmdNoop: return respond(id, 0, {});
    case kCmdEcho: return respond(id, 0, args);
    case kCmdConfigStatus: {
      const bool failed = state_ == SdmState::Failed;
      std::vector<uint32_t> d(7, 0);
      d[0] = failed ? 0xF0050000u | stream_.errorCode : 0;
      d[1] = 0x00130000;  // firmware version
      d[2] = (failed ? 0u : 1u << 31) | (1u << 30) | (static_cast<uint32_t>(cfg_.msel) & 7);
      d[3] = configured() ? 0x3 : 0x0;  // bit 1 INIT_DONE, bit 0 CONF_DONE
      d[4] = failed ? stream_.errorOffset : 0;
      d[5] = failed ? stream_.errorCode : 0;
      return respond(id, 0, d);
    }
    case kCmdProgramStart: {
      respond(id, 0, {});
      // The SDM answers once more when it is ready for the bitstream (data 0) or
      // refuses it (non-zero).
      const bool refuse = cfg_.sdmFail == SdmFail::Start;
      rsp_.push_back(raw(refuse ? 1u : 0u, kStLast));
      if (!refuse) {
        state_ = SdmState::Receiving;
        stream_ = SdmStream();
        chunks_ = 0;
        busyLeft_ = cfg_.sdmBusyPolls < 0 ? -1 : 0;
      }
      return;
    }
    case kCmdChipId: return respond(id, 0, {cfg_.dna[0].w[0], cfg_.dna[0].w[1]});
    case kCmdVoltage: {
      std::vector<uint32_t> d;
      for (int ch = 0; ch < 32; ++ch) {
        if (!(mask & (1u << ch))) continue;
        double v = 0.9;
        if (ch == 2) v = cfg_.vccint[0];
        else if (ch == 3) v = cfg_.vccaux[0];
        else if (ch == 4) v = cfg_.vccpt;
        else if (ch == 6) v = cfg_.vccbram[0];
        d.push_back(static_cast<uint32_t>(fixed(v, 65536.0)));
      }
      return respond(id, 0, d);
    }
    case kCmdTemperature: {
      std::vector<uint32_t> d;
      for (int ch = 0; ch < 32; ++ch)
        if (mask & (1u << ch)) d.push_back(static_cast<uint32_t>(fixed(cfg_.temp[0], 256.0)));
      return respond(id, 0, d);
    }
    default: return respond(id, kErrUnknown, {});
  }
}

bool Sdm::accepting() const { return state_ == SdmState::Receiving && busyLeft_ == 0; }

uint64_t Sdm::statusWord() {
  ++statusReads_;
  const bool busy = busyLeft_ != 0;
  if (busyLeft_ > 0) --busyLeft_;
  const bool failed = state_ == SdmState::Failed;
  return uint64_t{stream_.taken & ~3u} | (failed ? 2u : 0u) | (busy ? 1u : 0u);
}

void Sdm::commitChunk() {
  ++chunks_;
  if (cfg_.sdmFail == SdmFail::Program && !stream_.failed) {
    stream_.failed = true;
    stream_.errorCode = rbf::kErrInjected;
    stream_.errorOffset = stream_.taken;
  }
  if (stream_.failed) state_ = SdmState::Failed;
  else if (stream_.complete) state_ = SdmState::Configured;
  busyLeft_ = cfg_.sdmBusyPolls < 0 ? -1 : cfg_.sdmBusyPolls;
}

}  // namespace varnsim
