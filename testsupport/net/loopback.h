// Loopback endpoints for tests and benchmarks that run side by side.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago (the kernel's choice).
uint16_t freeLoopbackPort();
// An address 127.x.y.z that depends on this process and `n`, so that processes running
// at the same time use different ones.
std::string loopbackAddress(int n);

}  // namespace testsupport
