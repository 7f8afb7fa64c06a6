// The Xilinx data stream: the file in 4096-byte chunks, each shifted into the
// configuration register so that all of them form one uninterrupted Shift-DR sequence.
// The chunk that ends the file is the last one; it leaves Shift-DR and carries the
// bypass bits of the devices on the TDI side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitstream/bit_file.h"

constexpr uint32_t VARN_XILINX_CHUNK = 4096;

// How one chunk is shifted.
struct XilinxChunkForm {
  uint32_t device;    // device index passed to the data shift
  uint32_t endState;  // DRSHIFT to continue, DRUPDATE after the last chunk
};

// Over FTDI the chunks before the last go out with device index 0 (no bypass bits in
// the middle of the stream); the CoE controller is addressed by device in every request.
XilinxChunkForm varn_xilinx_chunk_form(bool coe, uint32_t device, bool last);

// Reads the file one chunk ahead, so the last chunk is known by what the file really
// holds: a file that shrinks while it is read still ends its shift properly, and the
// shortfall shows in bytesRead() against the planned length.
class XilinxChunkStream {
 public:
  XilinxChunkStream(BitFile& file, uint64_t length) : file_(file), length_(length) {}
  // The next chunk: its bytes (0 when the stream is over) and whether it is the last.
  size_t next(const uint8_t** data, bool* last);
  uint64_t bytesRead() const { return read_; }
  uint64_t length() const { return length_; }

 private:
  size_t fill(uint8_t* buffer);

  BitFile& file_;
  uint64_t length_;
  uint64_t read_ = 0;
  bool ended_ = false;     // the file gave less than a full chunk: nothing more follows
  bool primed_ = false;
  int cur_ = 0;
  size_t curBytes_ = 0;
  uint8_t buf_[2][VARN_XILINX_CHUNK];
};
