// The UART-to-AXI master: takes 16-byte request frames off the byte channel, runs them
// on the AXI bus and answers into the channel; it also sends interrupt frames.
//
//   0x00 test        answered with the request's fields unchanged
//   0x01 read        answered with the word read in the data field
//   0x02 write       answered with the value written
//   0x42 bulk write  the header is followed by `data` payload bytes; each group of four
//                    wire bytes is one 32-bit word, first byte most significant; the
//                    answer (command 0x02) carries the CRC-32 of the payload as received
//   0xFF mask        byte 2 = interrupt sets that may be sent; not answered
// Interrupt frame: command (set << 4) | 7, byte 1 a running sequence number, bytes 2..9
// a 64-bit value.
//
// Answer flags: 0x10 input bytes were lost since the last answer (the request FIFO
// overflowed); 0x40 the AXI slave answered SLVERR; 0x80 decode error. A frame whose
// check does not match is not a request: its first byte is dropped and the search
// goes on one byte later. When the answer FIFO has no room the master stops taking
// requests, as the hardware would stall its AXI-Stream.
#pragma once

#include <cstdint>
#include <deque>

#include "sim/design/axi_packet.h"
#include "sim/design/axi_system.h"
#include "sim/design/channel_app.h"

namespace varnsim {

struct AxiMasterCounters {
  uint64_t tests = 0, reads = 0, writes = 0, bulkWrites = 0, masks = 0;
  uint64_t bulkBytes = 0;
  uint64_t badCrcBytes = 0;       // bytes skipped while resynchronising
  uint64_t unknownCommands = 0;   // valid frames with an unknown command: dropped
  uint64_t busErrors = 0;         // answers sent with 0x40 / 0x80
  uint64_t overflowAnswers = 0;   // answers sent with 0x10
  uint64_t irqSent = 0, irqMasked = 0, irqDropped = 0;
};

class AxiMasterApp : public ChannelApp {
 public:
  static constexpr size_t kMaxQueuedIrqs = 256;

  AxiMasterApp(AxiSystem& sys, uint8_t irqMask);

  void service(ByteChannel& ch) override;
  void advance(uint64_t nowNs, ByteChannel& ch) override;

  // Sends an interrupt frame for the sets (low 4 bits) that the mask lets through.
  void raiseInterrupt(uint8_t sets, uint64_t value);
  // Test hook: OR flags into the command byte of the next `count` answers.
  void forceAnswerFlags(uint8_t flags, unsigned count);
  // The link went away and came back (a new TCP client on a direct endpoint): forget
  // any partial frame and payload. Memory and device state stay.
  void resetFraming();

  uint8_t irqMask() const { return irqMask_; }
  uint8_t nextIrqSequence() const { return irqSeq_; }
  const AxiMasterCounters& counters() const { return counters_; }
  AxiSystem& system() { return sys_; }

 private:
  void dispatch(ByteChannel& ch);
  void consumeBulk(ByteChannel& ch);
  void finishBulk(ByteChannel& ch);
  void answer(ByteChannel& ch, uint8_t cmd, uint8_t seq, uint64_t addr, uint32_t data, AxiResp resp);
  bool flush(ByteChannel& ch);

  AxiSystem& sys_;
  uint8_t irqMask_;
  uint8_t irqSeq_ = 0;
  uint8_t win_[16];
  int fill_ = 0;
  std::deque<AxiFrame> pending_;  // answers and interrupts not yet in the answer FIFO

  // Bulk write in progress.
  uint32_t bulkLeft_ = 0;
  uint32_t bulkOff_ = 0;
  uint64_t bulkAddr_ = 0;
  uint8_t bulkSeq_ = 0;
  Crc32 bulkCrc_;
  uint8_t word_[4];
  int wordFill_ = 0;
  AxiResp bulkResp_ = AxiResp::Okay;

  uint64_t seenDropped_ = 0;
  uint8_t forcedFlags_ = 0;
  unsigned forcedCount_ = 0;
  AxiMasterCounters counters_;
};

}  // namespace varnsim
