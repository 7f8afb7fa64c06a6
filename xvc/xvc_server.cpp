// The XVC server's sockets: every client is awaited on a new listening socket, which
// is closed while the client is served, so a second tool cannot connect in between;
// nothing one client does carries over to the next.
#include <cstdio>
#include <exception>

#include "app/platform/varn_platform.h"
#include "coe/coe_commands.h"
#include "coe/coe_link.h"
#include "xvc/varn_xvc.h"
#include "xvc/xvc_command_loop.h"
#include "xvc/xvc_coe.h"

namespace {

class SocketConnection : public XvcConnection {
 public:
  explicit SocketConnection(varn_socket s) : s_(s) {}
  long receive(uint8_t* to, size_t len) override {
    // The kernel drops QUICKACK after a receive; without it a client that writes twice
    // and then reads (as openFPGALoader does) waits out a delayed ACK on every shift.
    varn_set_quickack(s_);
    return varn_recv(s_, to, len);
  }
  bool sendAll(const void* data, size_t len) override {
    if (len == 0) return true;
    if (varn_send_all(s_, data, len) == 0) return true;
    varn_perror("write");
    return false;
  }

 private:
  varn_socket s_;
};

void say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
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
      SocketConnection connection(s);
      varn_xvc_serve_client(link, connection);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Exception in XVC loop:%s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "Unknown exception\n");
    }
    varn_close_socket(s);
  }
}
