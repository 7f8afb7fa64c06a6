#ifndef _WIN32

#include "app/platform/varn_platform.h"

#include "app/log/varn_log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

int varn_net_init() { return 0; }
int varn_timer_resolution_init() { return 0; }

varn_socket varn_tcp_socket() { return ::socket(AF_INET, SOCK_STREAM, 0); }

int varn_close_socket(varn_socket s) { return ::close(s); }

int varn_shutdown_socket(varn_socket s) { return ::shutdown(s, SHUT_RDWR); }

bool varn_socket_valid(varn_socket s) { return s >= 0; }

bool varn_socket_selectable(varn_socket s, const char* what) {
  if (s >= 0 && s < FD_SETSIZE) return true;
  VARNLog("%s: socket %i is beyond what the wait can watch (%i)\n", what, static_cast<int>(s),
          static_cast<int>(FD_SETSIZE));
  return false;
}

static int setIntOption(varn_socket s, int level, int name, int value) {
  return ::setsockopt(s, level, name, &value, sizeof(value)) == 0 ? 0 : -1;
}

int varn_set_reuseaddr(varn_socket s) { return setIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1); }

int varn_set_nodelay(varn_socket s) { return setIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1); }

int varn_set_keepalive(varn_socket s) {
  if (setIntOption(s, SOL_SOCKET, SO_KEEPALIVE, 1) != 0) return -1;
#ifdef TCP_KEEPIDLE
  if (setIntOption(s, IPPROTO_TCP, TCP_KEEPIDLE, VARN_KEEPALIVE_IDLE_S) != 0) return -1;
#endif
  if (setIntOption(s, IPPROTO_TCP, TCP_KEEPINTVL, VARN_KEEPALIVE_INTERVAL_S) != 0) return -1;
  return setIntOption(s, IPPROTO_TCP, TCP_KEEPCNT, VARN_KEEPALIVE_PROBES);
}

int varn_set_quickack(varn_socket s) {
#ifdef TCP_QUICKACK
  return setIntOption(s, IPPROTO_TCP, TCP_QUICKACK, 1);
#else
  (void)s;
  return 0;
#endif
}

int varn_set_nonblocking(varn_socket s, bool on) {
  int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return -1;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(s, F_SETFL, flags) == 0 ? 0 : -1;
}

int varn_bind_any(varn_socket s, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? 0 : -1;
}

int varn_bind_ipv4(varn_socket s, const char* dotted, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, dotted, &a.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? 0 : -1;
}

int varn_listen(varn_socket s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : -1; }

varn_socket varn_accept(varn_socket s, uint32_t* peerIp, uint16_t* peerPort) {
  sockaddr_in a{};
  socklen_t len = sizeof(a);
  int c = ::accept(s, reinterpret_cast<sockaddr*>(&a), &len);
  if (c >= 0) {
    if (peerIp) *peerIp = ntohl(a.sin_addr.s_addr);
    if (peerPort) *peerPort = ntohs(a.sin_port);
  }
  return c;
}

uint16_t varn_local_port(varn_socket s) {
  sockaddr_in a{};
  socklen_t len = sizeof(a);
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

int varn_parse_ipv4(const char* dotted, uint32_t* outNetOrder) {
  in_addr addr{};
  int r = ::inet_pton(AF_INET, dotted, &addr);
  if (r == 1 && outNetOrder) *outNetOrder = addr.s_addr;
  return r;
}

int varn_connect_ipv4(varn_socket s, const char* dotted, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, dotted, &a.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  int r;
  do {
    r = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  } while (r != 0 && errno == EINTR);
  return r == 0 ? 0 : -1;
}

int varn_connect_ipv4_timeout(varn_socket s, const char* dotted, uint16_t port, int64_t timeoutUs) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, dotted, &a.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  if (varn_set_nonblocking(s, true) != 0) return -1;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return -1;
  uint64_t deadline = varn_monotonic_ns() + static_cast<uint64_t>(timeoutUs) * 1000u;
  for (;;) {
    uint64_t now = varn_monotonic_ns();
    if (now >= deadline) {
      errno = ETIMEDOUT;
      return -1;
    }
    if (!varn_socket_selectable(s, "connect")) {
      errno = EMFILE;
      return -1;
    }
    fd_set w;
    FD_ZERO(&w);
    FD_SET(s, &w);
    int r = varn_select(s + 1, nullptr, &w, static_cast<int64_t>((deadline - now) / 1000u));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) continue;
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return -1;
    if (err != 0) {
      errno = err;
      return -1;
    }
    return 0;
  }
}

int varn_socketpair(varn_socket out[2]) { return ::socketpair(AF_UNIX, SOCK_STREAM, 0, out) == 0 ? 0 : -1; }

long varn_send(varn_socket s, const void* data, size_t len) {
  return static_cast<long>(::send(s, data, len, MSG_NOSIGNAL));
}

long varn_recv(varn_socket s, void* data, size_t len) { return static_cast<long>(::recv(s, data, len, 0)); }

int varn_send_all(varn_socket s, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    long n = varn_send(s, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

bool varn_error_is_addrinuse() { return errno == EADDRINUSE; }
bool varn_error_is_interrupted() { return errno == EINTR; }
bool varn_error_would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }
int varn_error_code() { return errno; }
void varn_perror(const char* what) { std::perror(what); }

int varn_select(int nfds, fd_set* readSet, fd_set* writeSet, int64_t timeoutUs) {
  timespec ts{};
  timespec* tsp = nullptr;
  if (timeoutUs >= 0) {
    ts.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
    ts.tv_nsec = static_cast<long>((timeoutUs % 1000000) * 1000);
    tsp = &ts;
  }
  return ::pselect(nfds, readSet, writeSet, nullptr, tsp, nullptr);
}

varn_walltime varn_now() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return varn_walltime{static_cast<int64_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec / 1000)};
}

uint64_t varn_monotonic_ns() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void varn_sleep_us(uint64_t us) {
  timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void varn_sleep_ms(uint64_t ms) { varn_sleep_us(ms * 1000); }

bool varn_is_terminal(int stdStream) { return isatty(stdStream) == 1; }

std::FILE* varn_open_regular_file(const char* path, const char** why) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    ::close(fd);
    return nullptr;
  }
  // Reads of a regular file do not wait; the flag only kept the open from waiting.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    *why = std::strerror(errno);
    ::close(fd);
  }
  return f;
}

int varn_fseek64(std::FILE* f, int64_t offset, int whence) { return ::fseeko(f, static_cast<off_t>(offset), whence); }

int64_t varn_ftell64(std::FILE* f) { return static_cast<int64_t>(::ftello(f)); }

#endif  // !_WIN32
