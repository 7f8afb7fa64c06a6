#ifdef _WIN32

#include "app/platform/varn_platform.h"

#include "app/log/varn_log.h"

#include <io.h>
#include <sys/stat.h>
#include <mstcpip.h>
#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// The last failure of a call of this layer: Winsock keeps its own error apart from
// errno, so every query below reads this.
thread_local int tLastError = 0;

int fail() {
  tLastError = WSAGetLastError();
  return -1;
}

int setIntOption(varn_socket s, int level, int name, int value) {
  return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof(value)) == 0 ? 0 : fail();
}

// An IPv4 socket address from dotted text; false (WSAEINVAL kept) when it is none.
bool addressOf(const char* dotted, uint16_t port, sockaddr_in* a) {
  *a = sockaddr_in{};
  a->sin_family = AF_INET;
  a->sin_port = htons(port);
  if (::inet_pton(AF_INET, dotted, &a->sin_addr) == 1) return true;
  tLastError = WSAEINVAL;
  return false;
}

}  // namespace

int varn_net_init() {
  WSADATA data;
  const int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) {
    tLastError = rc;
    return -1;
  }
  return 0;
}

namespace {
// Every program that links this layer (the simulators and the tests as well as the
// bridge, which also starts it first thing) gets Winsock before its first socket;
// WSAStartup counts its callers, so a second start is harmless.
const int kWinsockStarted = varn_net_init();
}  // namespace

int varn_timer_resolution_init() { return timeBeginPeriod(1) == TIMERR_NOERROR ? 0 : -1; }

varn_socket varn_tcp_socket() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) fail();
  return s;
}

int varn_close_socket(varn_socket s) { return ::closesocket(s) == 0 ? 0 : fail(); }

int varn_shutdown_socket(varn_socket s) { return ::shutdown(s, SD_BOTH) == 0 ? 0 : fail(); }

bool varn_socket_valid(varn_socket s) { return s != INVALID_SOCKET && s != 0; }

// A Windows fd_set is a list of FD_SETSIZE handles, not a bitmap indexed by value, so
// any socket fits; the callers keep far fewer than that in one set.
bool varn_socket_selectable(varn_socket s, const char* what) {
  (void)what;
  return s != INVALID_SOCKET;
}

// SO_REUSEADDR on Windows would let a second program take a port in use; a port in
// TIME_WAIT is free to bind there anyway. The exclusive option keeps a port to its
// owner, which is what the POSIX option leaves in place.
int varn_set_reuseaddr(varn_socket s) { return setIntOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1); }

int varn_set_nodelay(varn_socket s) { return setIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1); }

int varn_set_keepalive(varn_socket s) {
  tcp_keepalive k{};
  k.onoff = 1;
  k.keepalivetime = VARN_KEEPALIVE_IDLE_S * 1000u;
  k.keepaliveinterval = VARN_KEEPALIVE_INTERVAL_S * 1000u;
  DWORD returned = 0;
  if (setIntOption(s, SOL_SOCKET, SO_KEEPALIVE, 1) != 0) return -1;
  return WSAIoctl(s, SIO_KEEPALIVE_VALS, &k, sizeof(k), nullptr, 0, &returned, nullptr, nullptr) == 0 ? 0 : fail();
}

int varn_set_quickack(varn_socket s) {
  (void)s;
  return 0;
}

int varn_set_nonblocking(varn_socket s, bool on) {
  u_long mode = on ? 1 : 0;
  return ::ioctlsocket(s, FIONBIO, &mode) == 0 ? 0 : fail();
}

int varn_bind_any(varn_socket s, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? 0 : fail();
}

int varn_bind_ipv4(varn_socket s, const char* dotted, uint16_t port) {
  sockaddr_in a;
  if (!addressOf(dotted, port, &a)) return -1;
  return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? 0 : fail();
}

int varn_listen(varn_socket s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : fail(); }

varn_socket varn_accept(varn_socket s, uint32_t* peerIp, uint16_t* peerPort) {
  sockaddr_in a{};
  int len = sizeof(a);
  SOCKET c = ::accept(s, reinterpret_cast<sockaddr*>(&a), &len);
  if (c == INVALID_SOCKET) {
    fail();
    return c;
  }
  if (peerIp) *peerIp = ntohl(a.sin_addr.s_addr);
  if (peerPort) *peerPort = ntohs(a.sin_port);
  return c;
}

uint16_t varn_local_port(varn_socket s) {
  sockaddr_in a{};
  int len = sizeof(a);
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

int varn_parse_ipv4(const char* dotted, uint32_t* outNetOrder) {
  in_addr addr{};
  const int r = ::inet_pton(AF_INET, dotted, &addr);
  if (r < 0) fail();
  if (r == 1 && outNetOrder) *outNetOrder = addr.s_addr;
  return r;
}

int varn_connect_ipv4(varn_socket s, const char* dotted, uint16_t port) {
  sockaddr_in a;
  if (!addressOf(dotted, port, &a)) return -1;
  return ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? 0 : fail();
}

int varn_connect_ipv4_timeout(varn_socket s, const char* dotted, uint16_t port, int64_t timeoutUs) {
  sockaddr_in a;
  if (!addressOf(dotted, port, &a)) return -1;
  if (varn_set_nonblocking(s, true) != 0) return -1;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) return 0;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return fail();
  // Windows reports a refused connect in the exception set, not as writable.
  fd_set w, e;
  FD_ZERO(&w);
  FD_ZERO(&e);
  FD_SET(s, &w);
  FD_SET(s, &e);
  timeval tv{static_cast<long>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000)};
  const int r = ::select(0, nullptr, &w, &e, &tv);
  if (r < 0) return fail();
  if (r == 0) {
    tLastError = WSAETIMEDOUT;
    return -1;
  }
  int err = 0;
  int len = sizeof(err);
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return fail();
  if (err != 0 || FD_ISSET(s, &e)) {
    tLastError = err != 0 ? err : WSAECONNREFUSED;
    return -1;
  }
  return 0;
}

// Windows has no socketpair: a listener on loopback, one connect, one accept. The
// accepted end must come from that connect, not from another local program that
// raced to the port, so its peer port is checked against the connecting end's.
int varn_socketpair(varn_socket out[2]) {
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return fail();
  SOCKET a = INVALID_SOCKET, b = INVALID_SOCKET;
  sockaddr_in addr{};
  int len = sizeof(addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int ok = ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
           ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && ::listen(listener, 1) == 0;
  if (ok) {
    a = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ok = a != INVALID_SOCKET && ::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  }
  if (ok) {
    sockaddr_in mine{}, peer{};
    int mineLen = sizeof(mine), peerLen = sizeof(peer);
    b = ::accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLen);
    ok = b != INVALID_SOCKET && ::getsockname(a, reinterpret_cast<sockaddr*>(&mine), &mineLen) == 0 &&
         mine.sin_port == peer.sin_port;
  }
  if (!ok) {
    fail();
    if (a != INVALID_SOCKET) ::closesocket(a);
    if (b != INVALID_SOCKET) ::closesocket(b);
    ::closesocket(listener);
    return -1;
  }
  ::closesocket(listener);
  setIntOption(a, IPPROTO_TCP, TCP_NODELAY, 1);
  setIntOption(b, IPPROTO_TCP, TCP_NODELAY, 1);
  out[0] = a;
  out[1] = b;
  return 0;
}

long varn_send(varn_socket s, const void* data, size_t len) {
  const int chunk = len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(len);
  const int n = ::send(s, static_cast<const char*>(data), chunk, 0);
  if (n == SOCKET_ERROR) return fail();
  return n;
}

long varn_recv(varn_socket s, void* data, size_t len) {
  const int chunk = len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(len);
  const int n = ::recv(s, static_cast<char*>(data), chunk, 0);
  if (n == SOCKET_ERROR) return fail();
  return n;
}

int varn_send_all(varn_socket s, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    const long n = varn_send(s, p, len);
    if (n <= 0) return -1;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

// A port held with SO_EXCLUSIVEADDRUSE (as this program holds its own) refuses a second
// bind with WSAEACCES, and so do the ranges Windows reserves for itself: either way the
// port is taken and the next one should be tried.
bool varn_error_is_addrinuse() { return tLastError == WSAEADDRINUSE || tLastError == WSAEACCES; }
bool varn_error_is_interrupted() { return tLastError == WSAEINTR; }
bool varn_error_would_block() { return tLastError == WSAEWOULDBLOCK; }
int varn_error_code() { return tLastError; }

void varn_perror(const char* what) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(tLastError),
                 0, text, sizeof text, nullptr);
  for (char* c = text; *c; ++c) {
    if (*c == '\r' || *c == '\n') *c = ' ';
  }
  std::fprintf(stderr, "%s: %s(error %i)\n", what, text, tLastError);
}

int varn_select(int nfds, fd_set* readSet, fd_set* writeSet, int64_t timeoutUs) {
  (void)nfds;  // Windows ignores it
  const bool none = (readSet == nullptr || readSet->fd_count == 0) && (writeSet == nullptr || writeSet->fd_count == 0);
  // select with no socket at all fails at once on Windows instead of waiting.
  if (none) {
    if (timeoutUs < 0) {
      for (;;) Sleep(INFINITE);
    }
    varn_sleep_us(static_cast<uint64_t>(timeoutUs));
    return 0;
  }
  timeval tv{};
  timeval* tvp = nullptr;
  if (timeoutUs >= 0) {
    tv.tv_sec = static_cast<long>(timeoutUs / 1000000);
    tv.tv_usec = static_cast<long>(timeoutUs % 1000000);
    tvp = &tv;
  }
  const int r = ::select(0, readSet, writeSet, nullptr, tvp);
  return r == SOCKET_ERROR ? fail() : r;
}

varn_walltime varn_now() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  // 100 ns ticks since 1601-01-01.
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const uint64_t unixTicks = ticks - 116444736000000000ull;
  return varn_walltime{static_cast<int64_t>(unixTicks / 10000000u), static_cast<int32_t>((unixTicks % 10000000u) / 10u)};
}

uint64_t varn_monotonic_ns() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const uint64_t count = static_cast<uint64_t>(c.QuadPart);
  return count / frequency * 1000000000ull + count % frequency * 1000000000ull / frequency;
}

void varn_sleep_us(uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

void varn_sleep_ms(uint64_t ms) { Sleep(static_cast<DWORD>(ms)); }

bool varn_is_terminal(int stdStream) { return _isatty(stdStream) != 0; }

std::FILE* varn_open_regular_file(const char* path, const char** why) {
  struct _stat64 st {};
  if (_stat64(path, &st) != 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  if ((st.st_mode & _S_IFMT) != _S_IFREG) {
    *why = "not a regular file";
    return nullptr;
  }
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) *why = std::strerror(errno);
  return f;
}

int varn_fseek64(std::FILE* f, int64_t offset, int whence) { return _fseeki64(f, offset, whence); }

int64_t varn_ftell64(std::FILE* f) { return _ftelli64(f); }

#endif  // _WIN32
