// The wake-up between a thread that stores something and one that waits in
// varn_select for it: no announcement may be lost, however the two interleave.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/platform/varn_wake.h"

namespace {

TEST(Wake, EveryStoreIsSeenByTheWaiterWithoutPolling) {
  VARNWake wake;
  ASSERT_EQ(varn_wake_open(&wake), 0);
  constexpr uint32_t kStores = 200000;
  std::atomic<uint32_t> stored{0};
  std::thread producer([&] {
    for (uint32_t i = 1; i <= kStores; ++i) {
      stored.store(i, std::memory_order_release);
      varn_wake_signal(&wake);
      if (i % 64 == 0) std::this_thread::yield();  // vary the interleaving
    }
  });
  // The waiter looks only after a wake-up: a lost one leaves it waiting for ever, here
  // bounded to a failure after 10 s.
  uint32_t seen = 0;
  bool lost = false;
  while (seen < kStores && !lost) {
    fd_set read;
    FD_ZERO(&read);
    FD_SET(wake.readEnd, &read);
    const int r = varn_select(static_cast<int>(wake.readEnd) + 1, &read, nullptr, 10000000);
    if (r == 0) lost = true;
    if (r <= 0) continue;
    varn_wake_clear(&wake);
    seen = stored.load(std::memory_order_acquire);
  }
  producer.join();
  EXPECT_FALSE(lost) << "a store after " << seen << " was never announced";
  EXPECT_EQ(seen, kStores);
  varn_wake_close(&wake);
}

}  // namespace
