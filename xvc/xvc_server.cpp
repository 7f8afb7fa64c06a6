// The XVC 1.0 command loop over one client at a time. Every client is awaited on a
// new listening socket, which is closed while the client is served, so a second tool
// cannot connect in between; nothing one client does carries over to the next.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "app/platform/varn_platform.h"
#include "coe/coe_commands.h"
#include "coe/coe_link.h"
#include "xvc/varn_xvc.h"
#include "xvc/xvc_coe.h"

namespace {

constexpr size_t kInitialBuffer = 8192;

// The client's bytes, taken from the socket in as few receives as they arrive in: a
// shift command usually comes in one or two segments, and every receive costs a system
// call (two, with QUICKACK).
class Reader {
 public:
  explicit Reader(varn_socket s) : s_(s) {}
  // Exactly len bytes; false when the peer closed or the read failed.
  bool read(uint8_t* to, size_t len) {
    while (len > 0) {
      if (at_ == have_) {
        // Large reads go straight to their destination.
        if (len >= sizeof buf_) return recvInto(to, len);
        at_ = have_ = 0;
        long n = recvSome(buf_, sizeof buf_);
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
  long recvSome(uint8_t* to, size_t len) {
    // The kernel drops QUICKACK after a receive; without it a client that writes twice
    // and then reads (as openFPGALoader does) waits out a delayed ACK on every shift.
    varn_set_quickack(s_);
    return varn_recv(s_, to, len);
  }
  bool recvInto(uint8_t* to, size_t len) {
    while (len > 0) {
      long n = recvSome(to, len);
      if (n <= 0) return false;
      to += n;
      len -= static_cast<size_t>(n);
    }
    return true;
  }

  varn_socket s_;
  uint8_t buf_[4096];
  size_t at_ = 0;
  size_t have_ = 0;
};

bool writeAll(varn_socket s, const void* data, size_t len) {
  return len == 0 || varn_send_all(s, data, len) == 0;
}

int32_t le32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

void say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// One "shift:" after its first two bytes; false ends the connection.
bool serveShift(_VNCoELink* link, varn_socket s, Reader& in, std::vector<uint8_t>& buffer) {
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
  if (!writeAll(s, tdo.data(), tdo.size())) {
    varn_perror("write");
    return false;
  }
  return true;
}

void serveClient(_VNCoELink* link, varn_socket s) {
  std::vector<uint8_t> buffer(kInitialBuffer, 0);
  Reader in(s);
  for (;;) {
    uint8_t cmd[16];
    if (!in.read(cmd, 2)) return;
    if (std::memcmp(cmd, "ge", 2) == 0) {
      if (!in.read(cmd, 6)) return;
      char info[64];
      const int len = std::snprintf(info, sizeof info, "xvcServer_v1.0:%lu\n",
                                    static_cast<unsigned long>(VARN_XVC_VECTOR_BYTES));
      if (!writeAll(s, info, static_cast<size_t>(len))) {
        varn_perror("write");
        return;
      }
    } else if (std::memcmp(cmd, "se", 2) == 0) {
      // The period is echoed; the controller's TCK rate stays as it is.
      if (!in.read(cmd, 9)) return;
      if (!writeAll(s, cmd + 5, 4)) {
        varn_perror("write");
        return;
      }
    } else if (std::memcmp(cmd, "sh", 2) == 0) {
      if (!serveShift(link, s, in, buffer)) return;
    } else {
      std::fprintf(stderr, "unknown xvc command '%.2s'\n", reinterpret_cast<const char*>(cmd));
      return;
    }
  }
}

// A listening socket on the port, or an invalid one. perror says why, once for a run
// of failures: another program (or another board's server) may hold the port for long.
varn_socket listenOn(uint16_t port, bool* quiet) {
  auto fail = [quiet](const char* what) {
    if (!*quiet) varn_perror(what);
    *quiet = true;
  };
  varn_socket l = varn_tcp_socket();
  if (!varn_socket_valid(l)) {
    fail("socket");
    return VARN_INVALID_SOCKET;
  }
  varn_set_reuseaddr(l);
  if (varn_bind_any(l, port) != 0) {
    fail("bind");
    varn_close_socket(l);
    return VARN_INVALID_SOCKET;
  }
  if (varn_listen(l, 1) != 0) {
    fail("listen");
    varn_close_socket(l);
    return VARN_INVALID_SOCKET;
  }
  return l;
}

}  // namespace

void VNCoEStartXVC(_VNCoELink* link, uint16_t port) {
  if (port == 0) port = VARN_XVC_DEFAULT_PORT;
  const uint8_t mode[2] = {0x00, VN_COE_JTAG_MODE_RAW};
  VNCoELinkTransaction(link, VN_COE_CMD_JTAG_MODE, varn_xvc_next_tag(), VN_COE_FLAGS, mode, sizeof mode, nullptr,
                       nullptr, nullptr, nullptr, 0);
  bool quiet = false;
  for (;;) {
    varn_socket l = listenOn(port, &quiet);
    if (!varn_socket_valid(l)) {
      varn_sleep_ms(1000);
      continue;
    }
    quiet = false;
    std::printf("waiting for XVC connection on port %d...\n", static_cast<int>(port));
    std::fflush(stdout);
    varn_socket s = varn_accept(l, nullptr, nullptr);
    varn_close_socket(l);
    if (!varn_socket_valid(s)) {
      varn_perror("accept");
      continue;
    }
    say("XVC connected\n");
    if (varn_set_nodelay(s) != 0) varn_perror("Failed to set TCP_NODELAY on socket\n");
    if (varn_set_quickack(s) != 0) varn_perror("Failed to set TCP_QUICKACK on socket\n");
    say("Connected- starting XVC...\n");
    try {
      serveClient(link, s);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Exception in XVC loop:%s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "Unknown exception\n");
    }
    varn_close_socket(s);
  }
}
