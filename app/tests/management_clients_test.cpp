// The management clients' frame queues over socket pairs: a client that never reads
// costs the main loop nothing (sends never block), gets whole frames or none, and is
// let go once it has taken nothing for a while; a reading client gets every frame.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/management/management_clients.h"

namespace {

TEST(ManagementClients, AClientThatNeverReadsGetsWholeFramesOrNoneAndIsLetGo) {
  auto m = std::make_unique<VARNMgmt>();
  varn_socket stuck[2], reader[2];
  ASSERT_EQ(varn_socketpair(stuck), 0);
  ASSERT_EQ(varn_socketpair(reader), 0);
  varn_set_nonblocking(reader[1], true);
  for (int i = 0; i < 2; ++i) {
    VARNMgmtClient& c = m->clients[i];
    c.socket = i == 0 ? stuck[0] : reader[0];
    c.queue.reset(new uint8_t[VARN_MGMT_QUEUE]);
    c.lastTakenNs = varn_monotonic_ns();
    varn_set_nonblocking(c.socket, true);
  }
  std::vector<uint8_t> frame(40000);
  std::string got;
  int sent = 0;
  // Far more than the stuck client's socket and queue hold; every call returns.
  for (; sent < 200 && m->clients[0].skippedFrames < 3; ++sent) {
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(sent + i);
    VARNMgmtBroadcast(m.get(), frame.data(), frame.size());
    // The reading client drains as it goes.
    char buf[65536];
    for (long n; (n = varn_recv(reader[1], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    fd_set r, w;
    FD_ZERO(&r);
    FD_ZERO(&w);
    const int nfds = VARNMgmtFillSets(m.get(), &r, &w);
    varn_select(nfds, nullptr, &w, 0);
    VARNMgmtRequests req;
    FD_ZERO(&r);
    VARNMgmtServe(m.get(), &r, &w, &req, nullptr, 0);
    for (long n; (n = varn_recv(reader[1], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  }
  ASSERT_GE(m->clients[0].skippedFrames, 3u);
  EXPECT_TRUE(varn_socket_valid(m->clients[0].socket));  // not yet: it took bytes moments ago
  // What reached the stuck client's socket and what still waits for it add up to whole
  // frames: none was cut.
  varn_set_nonblocking(stuck[1], true);
  size_t inSocket = 0;
  char drain[65536];
  for (long n; (n = varn_recv(stuck[1], drain, sizeof drain)) > 0;) inSocket += static_cast<size_t>(n);
  EXPECT_GT(inSocket, 0u);
  EXPECT_EQ((inSocket + m->clients[0].length) % frame.size(), 0u);

  // Once it has taken nothing for longer than the bound, the next frame lets it go.
  m->clients[0].lastTakenNs = varn_monotonic_ns() - VARN_MGMT_STALL_NS - 1;
  VARNMgmtBroadcast(m.get(), frame.data(), frame.size());
  EXPECT_FALSE(varn_socket_valid(m->clients[0].socket));
  EXPECT_EQ(VARNMgmtClientCount(m.get()), 1);

  // The reader got every frame, in order, whole.
  char buf[65536];
  for (int spins = 0; got.size() < (sent + 1) * frame.size() && spins < 1000; ++spins) {
    fd_set r, w;
    FD_ZERO(&r);
    FD_ZERO(&w);
    VARNMgmtFillSets(m.get(), &r, &w);
    VARNMgmtRequests req;
    FD_ZERO(&r);
    VARNMgmtServe(m.get(), &r, &w, &req, nullptr, 0);
    for (long n; (n = varn_recv(reader[1], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  }
  ASSERT_EQ(got.size(), (sent + 1) * frame.size());
  for (int k = 0; k < sent; ++k) EXPECT_EQ(static_cast<uint8_t>(got[k * frame.size()]), static_cast<uint8_t>(k)) << k;
  varn_close_socket(stuck[1]);
  varn_close_socket(reader[1]);
}

}  // namespace
