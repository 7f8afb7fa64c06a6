#include "sim/design/axi_master_app.h"

#include <cstring>

namespace varnsim {

AxiMasterApp::AxiMasterApp(AxiSystem& sys, uint8_t irqMask) : sys_(sys), irqMask_(irqMask) {}

void AxiMasterApp::resetFraming() {
  fill_ = 0;
  bulkLeft_ = 0;
  wordFill_ = 0;
  pending_.clear();
}

void AxiMasterApp::forceAnswerFlags(uint8_t flags, unsigned count) {
  forcedFlags_ = flags;
  forcedCount_ = count;
}

void AxiMasterApp::raiseInterrupt(uint8_t sets, uint64_t value) {
  sets &= 0x0F;
  if (!(sets & irqMask_)) {
    ++counters_.irqMasked;
    return;
  }
  size_t queued = 0;
  for (const AxiFrame& f : pending_)
    if ((f[0] & 0x0F) == axicmd::kIrqLowNibble) ++queued;
  if (queued >= kMaxQueuedIrqs) {
    ++counters_.irqDropped;
    return;
  }
  pending_.push_back(makeFrame(static_cast<uint8_t>(sets << 4 | axicmd::kIrqLowNibble), irqSeq_++, value, 0));
  ++counters_.irqSent;
}

bool AxiMasterApp::flush(ByteChannel& ch) {
  while (!pending_.empty() && ch.out.pushAll(pending_.front().data(), 16)) pending_.pop_front();
  return pending_.empty();
}

void AxiMasterApp::answer(ByteChannel& ch, uint8_t cmd, uint8_t seq, uint64_t addr, uint32_t data, AxiResp resp) {
  if (resp == AxiResp::SlvErr) cmd |= axicmd::kFlagSlaveError;
  if (resp == AxiResp::DecErr) cmd |= axicmd::kFlagDecodeError;
  if (resp != AxiResp::Okay) ++counters_.busErrors;
  if (ch.in.dropped() != seenDropped_) {
    seenDropped_ = ch.in.dropped();
    cmd |= axicmd::kFlagOverflow;
    ++counters_.overflowAnswers;
  }
  if (forcedCount_) {
    cmd |= forcedFlags_;
    --forcedCount_;
  }
  pending_.push_back(makeFrame(cmd, seq, addr, data));
}

void AxiMasterApp::dispatch(ByteChannel& ch) {
  AxiFrame f;
  std::memcpy(f.data(), win_, 16);
  const uint8_t cmd = f[0], seq = f[1];
  const uint64_t addr = frameAddress(f);
  const uint32_t data = frameData(f);
  switch (cmd) {
    case axicmd::kTest:
      ++counters_.tests;
      answer(ch, axicmd::kTest, seq, addr, data, AxiResp::Okay);
      break;
    case axicmd::kRead: {
      ++counters_.reads;
      uint32_t v = 0;
      AxiResp r = sys_.space().read32(addr, &v);
      answer(ch, axicmd::kRead, seq, addr, v, r);
      break;
    }
    case axicmd::kWrite: {
      ++counters_.writes;
      AxiResp r = sys_.space().write32(addr, data);
      answer(ch, axicmd::kWrite, seq, addr, data, r);
      break;
    }
    case axicmd::kBulkWrite:
      ++counters_.bulkWrites;
      bulkAddr_ = addr;
      bulkLeft_ = data;
      bulkOff_ = 0;
      bulkSeq_ = seq;
      bulkCrc_.reset();
      wordFill_ = 0;
      bulkResp_ = AxiResp::Okay;
      if (bulkLeft_ == 0) finishBulk(ch);
      break;
    case axicmd::kIrqMask:
      ++counters_.masks;
      irqMask_ = f[2];
      break;
    default:
      ++counters_.unknownCommands;
      break;
  }
}

void AxiMasterApp::consumeBulk(ByteChannel& ch) {
  while (bulkLeft_ && !ch.in.empty()) {
    uint8_t b = ch.in.pop();
    bulkCrc_.update(b);
    word_[wordFill_++] = b;
    --bulkLeft_;
    ++counters_.bulkBytes;
    if (wordFill_ == 4) {
      uint32_t v = uint32_t{word_[0]} << 24 | uint32_t{word_[1]} << 16 | uint32_t{word_[2]} << 8 | word_[3];
      AxiResp r = sys_.space().write32(bulkAddr_ + bulkOff_, v);
      if (r != AxiResp::Okay && bulkResp_ == AxiResp::Okay) bulkResp_ = r;
      bulkOff_ += 4;
      wordFill_ = 0;
    }
  }
  if (bulkLeft_ == 0) finishBulk(ch);
}

void AxiMasterApp::finishBulk(ByteChannel& ch) {
  // A trailing partial word keeps the word's lane order: wire byte j lands in lane 3 - j.
  for (int j = 0; j < wordFill_; ++j) {
    AxiResp r = sys_.space().writeBlock(bulkAddr_ + bulkOff_ + 3 - j, &word_[j], 1);
    if (r != AxiResp::Okay && bulkResp_ == AxiResp::Okay) bulkResp_ = r;
  }
  wordFill_ = 0;
  answer(ch, axicmd::kWrite, bulkSeq_, bulkAddr_, bulkCrc_.value(), bulkResp_);
}

void AxiMasterApp::service(ByteChannel& ch) {
  for (;;) {
    if (!flush(ch)) return;  // answer FIFO full: stall until the host reads
    if (bulkLeft_) {
      consumeBulk(ch);
      if (bulkLeft_) return;
      continue;
    }
    while (fill_ < 16 && !ch.in.empty()) win_[fill_++] = ch.in.pop();
    if (fill_ < 16) return;
    if (!frameCheckOk(win_)) {
      ++counters_.badCrcBytes;
      std::memmove(win_, win_ + 1, 15);
      fill_ = 15;
      continue;
    }
    fill_ = 0;
    dispatch(ch);
  }
}

void AxiMasterApp::advance(uint64_t nowNs, ByteChannel& ch) {
  sys_.advance(nowNs);
  service(ch);
}

}  // namespace varnsim
