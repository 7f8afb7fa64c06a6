// The body of the XVC command-stream fuzzer, shared with a replay test: the input is a
// client's byte stream, delivered to the command loop in pieces of every size from 1 up
// (to 64) over a scripted connection, with a recording controller link that answers
// every shift with its own TDI bits. Whatever the pieces, the replies must be the same
// and must be what XVC 1.0 asks for, read off the input independently: "getinfo:" the
// server's line, "settck:" its period echoed, "shift:" one TDO byte per vector byte
// (here the TDI bytes, in order); the stream ends at the first command the server
// refuses or at a cut-off command. Every controller request must fit one answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "coe/coe_link.h"
#include "jtag/tests/coe_capture.h"
#include "xvc/varn_xvc.h"
#include "xvc/xvc_command_loop.h"
#include "xvc/xvc_coe.h"

namespace xvcfuzz {

class ScriptedConnection : public XvcConnection {
 public:
  ScriptedConnection(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
  long receive(uint8_t* to, size_t len) override {
    size_t n = size_ - at_ < piece_ ? size_ - at_ : piece_;
    if (n > len) n = len;
    std::memcpy(to, data_ + at_, n);
    at_ += n;
    return static_cast<long>(n);
  }
  bool sendAll(const void* data, size_t len) override {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    replies.insert(replies.end(), p, p + len);
    return true;
  }
  std::vector<uint8_t> replies;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t at_ = 0;
};

// The controller: raw shifts carry (TDI, TMS) byte pairs, TDI-only shifts the TDI bytes.
inline coecap::Answer echoTdi(const coecap::Request& r, bool* fits) {
  coecap::Answer a;
  if (r.payload.size() < 4) {
    *fits = false;
    return a;
  }
  const uint32_t bits = static_cast<uint32_t>(r.payload[2] | r.payload[3] << 8);
  const size_t bytes = (bits + 7) / 8;
  const bool raw = r.command == 0x100E;
  if (bytes > 4096 - 8 || r.payload.size() != 4 + (raw ? 2 : 1) * bytes) *fits = false;
  for (size_t i = 0; i < bytes && 4 + (raw ? 2 * i : i) < r.payload.size(); ++i)
    a.data.push_back(r.payload[4 + (raw ? 2 * i : i)]);
  return a;
}

// What the replies must be.
inline std::vector<uint8_t> expectedReplies(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  size_t at = 0;
  auto have = [&](size_t n) { return size - at >= n; };
  for (;;) {
    if (!have(2)) break;
    const uint8_t c0 = data[at], c1 = data[at + 1];
    at += 2;
    if (c0 == 'g' && c1 == 'e') {
      if (!have(6)) break;
      at += 6;
      const std::string info = "xvcServer_v1.0:" + std::to_string(VARN_XVC_VECTOR_BYTES) + "\n";
      out.insert(out.end(), info.begin(), info.end());
    } else if (c0 == 's' && c1 == 'e') {
      if (!have(9)) break;
      out.insert(out.end(), data + at + 5, data + at + 9);
      at += 9;
    } else if (c0 == 's' && c1 == 'h') {
      if (!have(8)) break;
      const uint32_t bits = static_cast<uint32_t>(data[at + 4]) | static_cast<uint32_t>(data[at + 5]) << 8 |
                            static_cast<uint32_t>(data[at + 6]) << 16 | static_cast<uint32_t>(data[at + 7]) << 24;
      at += 8;
      if (bits > 8u * VARN_XVC_MAX_VECTOR_BYTES) break;  // also every negative length
      const size_t bytes = (bits + 7) / 8;
      if (!have(2 * bytes)) break;
      out.insert(out.end(), data + at + bytes, data + at + 2 * bytes);
      at += 2 * bytes;
    } else {
      break;
    }
  }
  return out;
}

struct Result {
  bool consistent = true;
  size_t replyBytes = 0;
};

inline Result fuzzOne(const uint8_t* data, size_t size) {
  static _VNCoELink* link = VNCoELinkCreate("192.0.2.9", 21363);
  Result result;
  const std::vector<uint8_t> expected = expectedReplies(data, size);
  result.replyBytes = expected.size();
  const size_t maxPiece = size < 64 ? (size == 0 ? 1 : size) : 64;
  for (size_t piece = 1; piece <= maxPiece; ++piece) {
    coecap::reset();
    bool fits = true;
    coecap::state().responder = [&fits](const coecap::Request& r) { return echoTdi(r, &fits); };
    ScriptedConnection connection(data, size, piece);
    varn_xvc_serve_client(link, connection);
    if (!fits || connection.replies != expected) result.consistent = false;
  }
  return result;
}

}  // namespace xvcfuzz
