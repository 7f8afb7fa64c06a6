// A link connected to a fake AXI target over loopback TCP, with the log captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "testsupport/axi/fake_axi_target.h"
#include "testsupport/log_capture.h"
#include "axi/varn_axi.h"
#include "axi/varn_axi_handle.h"

namespace varnaxitest {

struct LinkRig {
  LinkRig() {
    uint16_t port = 0;
    listener = listenLoopback(&port);
    EXPECT_TRUE(varn_socket_valid(listener));
    link = VARNAXICreate(0, "127.0.0.1", port);
    EXPECT_NE(link, nullptr);
    varn_socket s = varn_accept(listener, nullptr, nullptr);
    EXPECT_TRUE(varn_socket_valid(s));
    target = std::make_unique<FakeAxiTarget>(s);
  }
  ~LinkRig() {
    VARNAXIDestroy(&link);
    target.reset();
    varn_close_socket(listener);
  }
  LogCapture log;  // first, so it outlives every thread that logs
  varn_socket listener = VARN_INVALID_SOCKET;
  _VARNAXI* link = nullptr;
  std::unique_ptr<FakeAxiTarget> target;
};

inline uint64_t msSince(uint64_t startNs) { return (varn_monotonic_ns() - startNs) / 1000000u; }

}  // namespace varnaxitest
