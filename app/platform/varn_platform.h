// The thin layer between the program and the operating system: sockets, readiness
// waits, clocks and sleeps. Everything above it is written once for Linux and
// Windows; only varn_platform_*.cpp differ per system. Threads, mutexes and
// condition variables come from the C++ standard library and need no wrapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using varn_socket = SOCKET;
#define VARN_INVALID_SOCKET INVALID_SOCKET
#else
#include <sys/select.h>
using varn_socket = int;
#define VARN_INVALID_SOCKET (-1)
#endif

// --- what this system offers ----------------------------------------------

// The XVC server needs the TCP behaviour only the Linux build has been proven with
// (TCP_QUICKACK among it); the Windows build refuses it.
#ifdef _WIN32
constexpr bool VARN_PLATFORM_HAS_XVC = false;
#else
constexpr bool VARN_PLATFORM_HAS_XVC = true;
#endif

// --- start-up -------------------------------------------------------------

// Starts the socket library (Winsock 2.2 on Windows; nothing elsewhere). 0 on success.
int varn_net_init();

// Asks for 1 ms timer resolution (Windows multimedia timers). 0 when granted or not
// needed, -1 when refused.
int varn_timer_resolution_init();

// --- sockets ---------------------------------------------------------------

varn_socket varn_tcp_socket();               // VARN_INVALID_SOCKET on failure
int varn_close_socket(varn_socket s);
int varn_shutdown_socket(varn_socket s);     // both directions
bool varn_socket_valid(varn_socket s);
// False, with a log line naming the descriptor and what it is for, when `s` cannot go
// into an fd_set (on POSIX, FD_SETSIZE or above: writing it would run past the set).
bool varn_socket_selectable(varn_socket s, const char* what);

int varn_set_reuseaddr(varn_socket s);       // 0 or -1 (errno set)
int varn_set_nodelay(varn_socket s);
// TCP keepalive probes after VARN_KEEPALIVE_IDLE_S idle seconds, every
// VARN_KEEPALIVE_INTERVAL_S, VARN_KEEPALIVE_PROBES of them: a client that vanished
// without closing frees its port within about two minutes. 0 or -1.
constexpr int VARN_KEEPALIVE_IDLE_S = 60;
constexpr int VARN_KEEPALIVE_INTERVAL_S = 10;
constexpr int VARN_KEEPALIVE_PROBES = 6;
int varn_set_keepalive(varn_socket s);
int varn_set_quickack(varn_socket s);        // a no-op returning 0 where the option does not exist
int varn_set_nonblocking(varn_socket s, bool on);

// Binds to INADDR_ANY:port. 0, or -1 with the system error kept for the queries below.
int varn_bind_any(varn_socket s, uint16_t port);
// Binds to a given IPv4 address text (for simulated boards on 127.0.0.x).
int varn_bind_ipv4(varn_socket s, const char* dotted, uint16_t port);
int varn_listen(varn_socket s, int backlog);
// Accepts one connection; the peer's IPv4 address (host order) and port when wanted.
varn_socket varn_accept(varn_socket s, uint32_t* peerIp, uint16_t* peerPort);
// Local port a socket is bound to (0 on failure).
uint16_t varn_local_port(varn_socket s);

// Parses dotted IPv4 text: 1 parsed, 0 not an address, -1 the conversion itself failed.
int varn_parse_ipv4(const char* dotted, uint32_t* outNetOrder);
// Connects to dotted IPv4 text. 0, or -1 (system error kept).
int varn_connect_ipv4(varn_socket s, const char* dotted, uint16_t port);
// Connects like varn_connect_ipv4 but gives up after timeoutUs (the error is then a
// time-out); the socket is left non-blocking. 0, or -1 (system error kept).
int varn_connect_ipv4_timeout(varn_socket s, const char* dotted, uint16_t port, int64_t timeoutUs);

// A connected pair of local stream sockets. 0, or -1.
int varn_socketpair(varn_socket out[2]);

// One send/recv call: bytes moved, 0 on orderly close (recv), -1 on error.
// Sends never raise SIGPIPE.
long varn_send(varn_socket s, const void* data, size_t len);
long varn_recv(varn_socket s, void* data, size_t len);
// Sends everything, looping on partial sends. 0 when all was sent, -1 otherwise.
int varn_send_all(varn_socket s, const void* data, size_t len);

// --- last system error -------------------------------------------------------

bool varn_error_is_addrinuse();
bool varn_error_is_interrupted();
bool varn_error_would_block();
int varn_error_code();
// perror() that also works for socket errors on Windows.
void varn_perror(const char* what);

// --- readiness -----------------------------------------------------------------

// Waits until a descriptor of the sets is ready (pselect on POSIX, select on Windows).
// timeoutUs < 0 waits without limit. Returns the number ready, 0 on time-out, -1 on
// error (varn_error_is_interrupted() tells a signal apart).
int varn_select(int nfds, fd_set* readSet, fd_set* writeSet, int64_t timeoutUs);

// --- clocks and sleeps -----------------------------------------------------------

struct varn_walltime {
  int64_t sec;
  int32_t usec;
};
varn_walltime varn_now();                 // wall-clock time with microseconds
uint64_t varn_monotonic_ns();             // for intervals and deadlines
void varn_sleep_us(uint64_t us);
void varn_sleep_ms(uint64_t ms);

// --- files ---------------------------------------------------------------------

// Opens a regular file for reading ("rb") without ever waiting on it (a FIFO that no
// one writes would hold the caller for ever): the stream, or nullptr with the reason
// in *why ("not a regular file" or the system's text).
std::FILE* varn_open_regular_file(const char* path, const char** why);
// 64-bit seek and tell on any file size. 0 / the position, or -1.
int varn_fseek64(std::FILE* f, int64_t offset, int whence);
int64_t varn_ftell64(std::FILE* f);

// --- console -------------------------------------------------------------------

// Whether standard input (0) or standard output (1) is a terminal.
bool varn_is_terminal(int stdStream);
