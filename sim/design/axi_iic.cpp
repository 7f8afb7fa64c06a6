#include "sim/design/axi_iic.h"

namespace varnsim {

namespace {
constexpr uint32_t kIsrTxError = 0x02;  // NACK / arbitration: transfer aborted
constexpr uint32_t kIsrTxEmpty = 0x04;
constexpr uint32_t kIsrRxFull = 0x08;   // RX FIFO reached PIRQ + 1
constexpr uint32_t kIsrBusNotBusy = 0x10;
}  // namespace

void AxiIic::reset() {
  if (dev_) dev_->stop();
  dev_ = nullptr;
  phase_ = Phase::Idle;
  repeated_ = false;
  readLeft_ = 0;
  tx_.clear();
  rx_.clear();
  cr_ = 0;
  isr_ = 0xD0;
  ier_ = gie_ = pirq_ = adr_ = gpo_ = 0;
  busyUntilNs_ = nowNs_;
}

uint32_t AxiIic::status() const {
  uint32_t sr = 0;
  if (statusStuck_) return 0x04;
  if (tx_.empty()) sr |= 0x80;
  if (rx_.empty()) sr |= 0x40;
  if (rx_.size() >= kFifoDepth) sr |= 0x20;
  if (tx_.size() >= kFifoDepth) sr |= 0x10;
  if (phase_ != Phase::Idle) sr |= 0x04;
  return sr;
}

AxiResp AxiIic::read32(uint32_t off, uint32_t* value) {
  pump();
  switch (off) {
    case 0x01C: *value = gie_; break;
    case 0x020: *value = isr_ | (tx_.empty() ? kIsrTxEmpty : 0) | (phase_ == Phase::Idle ? kIsrBusNotBusy : 0); break;
    case 0x028: *value = ier_; break;
    case 0x100: *value = cr_; break;
    case 0x104: *value = status(); break;
    case 0x10C:
      if (rx_.empty()) {
        ++counters_.rxUnderflows;
        *value = 0;
      } else {
        *value = rx_.front();
        rx_.pop_front();
        pump();  // a stretched read can go on now
      }
      break;
    case 0x110: *value = adr_; break;
    case 0x114: *value = tx_.empty() ? 0 : static_cast<uint32_t>(tx_.size() - 1); break;
    case 0x118: *value = rx_.empty() ? 0 : static_cast<uint32_t>(rx_.size() - 1); break;
    case 0x120: *value = pirq_; break;
    case 0x124: *value = gpo_; break;
    default: *value = 0; break;
  }
  return AxiResp::Okay;
}

AxiResp AxiIic::write32(uint32_t off, uint32_t value) {
  switch (off) {
    case 0x01C: gie_ = value & 0x80000000u; break;
    case 0x020: isr_ ^= value & 0xFF; break;
    case 0x028: ier_ = value & 0xFF; break;
    case 0x040:
      if ((value & 0xF) != 0xA) return AxiResp::SlvErr;
      ++counters_.softResets;
      reset();
      return AxiResp::Okay;
    case 0x100:
      if (value & 0x02) tx_.clear();
      cr_ = value & 0x7D;
      break;
    case 0x108:
      if (tx_.size() >= kFifoDepth) {
        ++counters_.txOverflows;
      } else {
        tx_.push_back(static_cast<uint16_t>(value & 0x3FF));
      }
      break;
    case 0x110: adr_ = value & 0xFE; break;
    case 0x120: pirq_ = value & 0x0F; break;
    case 0x124: gpo_ = value; break;
    default: break;  // timing registers and the rest: accepted, no effect on the model
  }
  pump();
  return AxiResp::Okay;
}

void AxiIic::advance(uint64_t nowNs) {
  nowNs_ = nowNs;
  pump();
}

void AxiIic::releaseBus() {
  if (dev_) dev_->stop();
  dev_ = nullptr;
  phase_ = Phase::Idle;
  repeated_ = false;
}

void AxiIic::abortTransfer() {
  ++counters_.nacks;
  isr_ |= kIsrTxError;
  tx_.clear();
  releaseBus();
}

bool AxiIic::step(int* cost) {
  if (!(cr_ & 0x01) || stuck_) return false;
  *cost = 9;
  switch (phase_) {
    case Phase::Reading: {
      if (rx_.size() >= kFifoDepth) return false;  // clock stretched until the host reads
      rx_.push_back(dev_->read());
      if (rx_.size() > pirq_) isr_ |= kIsrRxFull;
      if (--readLeft_ == 0) {
        if (stopAfterRead_) {
          releaseBus();
          *cost += 1;
        } else {
          phase_ = Phase::HoldAfterRead;
        }
      }
      return true;
    }
    case Phase::AwaitCount: {
      if (tx_.empty()) return false;
      uint16_t w = tx_.front();
      tx_.pop_front();
      readLeft_ = (w & 0xFF) + (repeated_ ? 1 : 0);
      stopAfterRead_ = w & 0x200;
      *cost = 0;
      if (readLeft_ == 0) {
        if (stopAfterRead_) releaseBus();
        else phase_ = Phase::HoldAfterRead;
      } else {
        phase_ = Phase::Reading;
      }
      return true;
    }
    default:
      break;
  }
  if (tx_.empty()) return false;
  uint16_t w = tx_.front();
  tx_.pop_front();
  if (w & 0x100) {
    // (Repeated) START with an address byte.
    uint8_t addr7 = static_cast<uint8_t>((w >> 1) & 0x7F);
    bool rd = w & 0x01;
    bool wasOwned = phase_ != Phase::Idle;
    I2cDevice* d = bus_.device(addr7);
    if (wasOwned && dev_ && dev_ != d) dev_->stop();
    ++counters_.transfers;
    *cost += 1;
    if (!d || !d->start(rd)) {
      dev_ = nullptr;
      abortTransfer();
      return true;
    }
    dev_ = d;
    repeated_ = wasOwned;
    if (rd) {
      phase_ = Phase::AwaitCount;
    } else if (w & 0x200) {
      releaseBus();
    } else {
      phase_ = Phase::Writing;
    }
    return true;
  }
  if (phase_ != Phase::Writing) {
    // Data without a START to belong to: the controller discards it.
    *cost = 0;
    return true;
  }
  if (!dev_->write(static_cast<uint8_t>(w & 0xFF))) {
    abortTransfer();
    return true;
  }
  if (w & 0x200) {
    releaseBus();
    *cost += 1;
  }
  return true;
}

void AxiIic::pump() {
  for (int guard = 0; guard < 4096; ++guard) {
    if (khz_ && busyUntilNs_ > nowNs_) return;
    int cost = 0;
    if (!step(&cost)) {
      // Idle bus: the next event starts when it becomes possible, not in the past.
      busyUntilNs_ = nowNs_;
      return;
    }
    // Events queued back to back run back to back, even across one long advance.
    if (khz_) busyUntilNs_ += uint64_t(cost) * 1000000 / khz_;
  }
}

}  // namespace varnsim
