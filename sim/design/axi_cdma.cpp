#include "sim/design/axi_cdma.h"

#include <algorithm>

namespace varnsim {

namespace {
constexpr uint32_t kCrReset = 0x04, kCrIocIrqEn = 0x1000, kCrErrIrqEn = 0x4000;
constexpr uint32_t kSrIdle = 0x02, kSrIntErr = 0x10, kSrSlvErr = 0x20, kSrDecErr = 0x40, kSrIocIrq = 0x1000,
                   kSrErrIrq = 0x4000;
constexpr size_t kBounce = 64 * 1024;
}  // namespace

void AxiCdma::reset() {
  cr_ = 0x00010000;
  sr_ = kSrIdle;
  sa_ = saMsb_ = da_ = daMsb_ = btt_ = 0;
  busy_ = false;
}

AxiResp AxiCdma::read32(uint32_t off, uint32_t* value) {
  switch (off) {
    case 0x00: *value = cr_; break;
    case 0x04: *value = sr_; break;
    case 0x18: *value = sa_; break;
    case 0x1C: *value = saMsb_; break;
    case 0x20: *value = da_; break;
    case 0x24: *value = daMsb_; break;
    case 0x28: *value = btt_; break;
    default: *value = 0; break;
  }
  return AxiResp::Okay;
}

AxiResp AxiCdma::write32(uint32_t off, uint32_t value) {
  switch (off) {
    case 0x00:
      if (value & kCrReset) {
        reset();
      } else {
        // Simple mode only: the scatter-gather and key-hole bits stay clear.
        cr_ = (cr_ & ~(kCrIocIrqEn | kCrErrIrqEn)) | (value & (kCrIocIrqEn | kCrErrIrqEn));
      }
      break;
    case 0x04: sr_ &= ~(value & (kSrIocIrq | kSrErrIrq)); break;
    case 0x18: sa_ = value; break;
    case 0x1C: saMsb_ = value; break;
    case 0x20: da_ = value; break;
    case 0x24: daMsb_ = value; break;
    case 0x28: start(value & kBttMask); break;
    default: break;
  }
  return AxiResp::Okay;
}

void AxiCdma::start(uint32_t btt) {
  if (busy_ || !(sr_ & kSrIdle)) {
    ++counters_.startsWhileBusy;
    return;
  }
  btt_ = btt;
  sr_ &= ~kSrIdle;
  if (btt == 0) {  // a zero-length transfer is an internal error on this engine
    fail(kSrIntErr);
    return;
  }
  busy_ = true;
  doneAtNs_ = nowNs_ + latencyNs_ + uint64_t{btt} * 1000 / mbps_;
}

void AxiCdma::fail(uint32_t bit) {
  busy_ = false;
  sr_ |= bit | kSrErrIrq;
  ++counters_.errors;
  if ((cr_ & kCrErrIrqEn) && irq_) irq_(sr_);
}

void AxiCdma::complete() {
  CdmaFault f = fault_;
  fault_ = CdmaFault::None;
  if (f == CdmaFault::Internal) return fail(kSrIntErr);
  if (f == CdmaFault::Slave) return fail(kSrSlvErr);
  if (f == CdmaFault::Decode) return fail(kSrDecErr);

  uint64_t src = uint64_t{saMsb_} << 32 | sa_;
  uint64_t dst = uint64_t{daMsb_} << 32 | da_;
  if (bounce_.size() < kBounce) bounce_.resize(kBounce);
  // Chunk through a bounce buffer; copying downwards over an overlap would smear, so
  // an overlapping block with dst above src runs from the end.
  const uint64_t n = btt_;
  const bool backwards = dst > src && dst < src + n;
  for (uint64_t done = 0; done < n;) {
    size_t take = static_cast<size_t>(std::min<uint64_t>(kBounce, n - done));
    uint64_t at = backwards ? n - done - take : done;
    AxiResp r = space_.readBlock(src + at, bounce_.data(), take);
    if (r == AxiResp::Okay) r = space_.writeBlock(dst + at, bounce_.data(), take);
    if (r != AxiResp::Okay) return fail(r == AxiResp::DecErr ? kSrDecErr : kSrSlvErr);
    done += take;
  }
  busy_ = false;
  sr_ |= kSrIdle | kSrIocIrq;
  ++counters_.transfers;
  counters_.bytes += n;
  if ((cr_ & kCrIocIrqEn) && irq_) irq_(sr_);
}

void AxiCdma::advance(uint64_t nowNs) {
  nowNs_ = nowNs;
  if (busy_ && nowNs_ >= doneAtNs_) complete();
}

}  // namespace varnsim
