#include "bitstream/xilinx_stream.h"

#include "jtag/jtag_tables.h"

XilinxChunkForm varn_xilinx_chunk_form(bool coe, uint32_t device, bool last) {
  if (last) return {device, DRUPDATE};
  return {coe ? device : 0u, DRSHIFT};
}

// Never reads past the length measured when the load began, so a file that grows
// meanwhile is sent as it was.
size_t XilinxChunkStream::fill(uint8_t* buffer) {
  if (ended_ || read_ >= length_) return 0;
  const uint64_t left = length_ - read_;
  const size_t want = left < VARN_XILINX_CHUNK ? static_cast<size_t>(left) : VARN_XILINX_CHUNK;
  const size_t got = file_.read(buffer, want);
  if (got < want) ended_ = true;
  read_ += got;
  return got;
}

size_t XilinxChunkStream::next(const uint8_t** data, bool* last) {
  if (!primed_) {
    primed_ = true;
    curBytes_ = fill(buf_[cur_]);
  }
  const size_t n = curBytes_;
  *data = buf_[cur_];
  if (n == 0) {
    *last = true;
    return 0;
  }
  const int other = cur_ ^ 1;
  const size_t following = fill(buf_[other]);
  *last = following == 0;
  cur_ = other;
  curBytes_ = following;
  return n;
}
