// The XVC 1.0 commands of one client: "getinfo:", "settck:<period>" and
// "shift:<bits><tms><tdi>", each answered in one reply.
#include "xvc/xvc_command_loop.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "xvc/varn_xvc.h"
#include "xvc/xvc_coe.h"

namespace {

constexpr size_t kInitialBuffer = 8192;

// The client's bytes, taken in as few receives as they arrive in: a shift command
// usually comes in one or two segments, and every receive costs a system call (two,
// with QUICKACK).
class Reader {
 public:
  explicit Reader(XvcConnection& c) : c_(c) {}
  // Exactly len bytes; false when the peer closed or the read failed.
  bool read(uint8_t* to, size_t len) {
    while (len > 0) {
      if (at_ == have_) {
        // Large reads go straight to their destination.
        if (len >= sizeof buf_) return readInto(to, len);
        at_ = have_ = 0;
        const long n = c_.receive(buf_, sizeof buf_);
        if (n <= 0) return false;
        have_ = static_cast<size_t>(n);
      }
      const size_t take = have_ - at_ < len ? have_ - at_ : len;
      std::memcpy(to, buf_ + at_, take);
      at_ += take;
      to += take;
      len -= take;
    }
    return true;
  }

 private:
  bool readInto(uint8_t* to, size_t len) {
    while (len > 0) {
      const long n = c_.receive(to, len);
      if (n <= 0) return false;
      to += n;
      len -= static_cast<size_t>(n);
    }
    return true;
  }

  XvcConnection& c_;
  uint8_t buf_[4096];
  size_t at_ = 0;
  size_t have_ = 0;
};

int32_t le32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// One "shift:" after its first two bytes; false ends the connection.
bool serveShift(_VNCoELink* link, XvcConnection& out, Reader& in, std::vector<uint8_t>& buffer) {
  uint8_t head[8];
  if (!in.read(head, 4)) return false;
  if (!in.read(head + 4, 4)) {
    std::fprintf(stderr, "reading length failed\n");
    return false;
  }
  const int32_t n = le32(head + 4);
  if (n < 0 || static_cast<uint32_t>(n) > 8u * VARN_XVC_MAX_VECTOR_BYTES) {
    std::fprintf(stderr, "invalid length\n");
    return false;
  }
  const uint32_t b = (static_cast<uint32_t>(n) + 7) / 8;
  if (2 * static_cast<size_t>(b) > buffer.size()) {
    std::fprintf(stderr, "buffer size exceeded- expanding buffer\n");
    buffer.resize(2 * static_cast<size_t>(b));
  }
  if (!in.read(buffer.data(), 2 * static_cast<size_t>(b))) {
    std::fprintf(stderr, "reading data failed\n");
    return false;
  }
  const std::vector<uint8_t> tdo = varn_xvc_shift(link, buffer.data(), buffer.data() + b, static_cast<uint32_t>(n));
  if (tdo.size() != b) std::fprintf(stderr, "Byte count mismatch. Wanted %u got %zu\n", b, tdo.size());
  // One send: a client may read the reply with a single receive.
  return out.sendAll(tdo.data(), tdo.size());
}

}  // namespace

void varn_xvc_serve_client(_VNCoELink* link, XvcConnection& connection) {
  std::vector<uint8_t> buffer(kInitialBuffer, 0);
  Reader in(connection);
  for (;;) {
    uint8_t cmd[16];
    if (!in.read(cmd, 2)) return;
    if (std::memcmp(cmd, "ge", 2) == 0) {
      if (!in.read(cmd, 6)) return;
      char info[64];
      const int len = std::snprintf(info, sizeof info, "xvcServer_v1.0:%lu\n",
                                    static_cast<unsigned long>(VARN_XVC_VECTOR_BYTES));
      if (!connection.sendAll(info, static_cast<size_t>(len))) return;
    } else if (std::memcmp(cmd, "se", 2) == 0) {
      // The period is echoed; the controller's TCK rate stays as it is.
      if (!in.read(cmd, 9)) return;
      if (!connection.sendAll(cmd + 5, 4)) return;
    } else if (std::memcmp(cmd, "sh", 2) == 0) {
      if (!serveShift(link, connection, in, buffer)) return;
    } else {
      std::fprintf(stderr, "unknown xvc command '%.2s'\n", reinterpret_cast<const char*>(cmd));
      return;
    }
  }
}
