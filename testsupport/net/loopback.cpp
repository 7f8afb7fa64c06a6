#include "testsupport/net/loopback.h"

#include <unistd.h>

#include <random>

#include "app/platform/varn_platform.h"

namespace testsupport {

uint16_t freeLoopbackPort() {
  varn_socket s = varn_tcp_socket();
  varn_bind_ipv4(s, "127.0.0.1", 0);
  const uint16_t port = varn_local_port(s);
  varn_close_socket(s);
  return port;
}

std::string loopbackAddress(int n) {
  std::mt19937 r(static_cast<unsigned>(::getpid()) * 7919u + static_cast<unsigned>(n));
  return "127." + std::to_string(100 + r() % 100) + "." + std::to_string(r() % 250) + "." + std::to_string(2 + r() % 250);
}

}  // namespace testsupport
