#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/registry/varn_registry.h"

namespace {

TEST(Registry, StepRequestsTakenWhileCountedUpAreNeverLost) {
  std::atomic<uint8_t>& counter = deviceVCCINTIncReq[5][2];
  regStore(counter, 0);
  constexpr int kSteps = 200000;
  std::atomic<bool> done{false};
  long taken = 0;
  std::thread drainer([&] {
    while (!done.load(std::memory_order_acquire)) taken += regTakeRequests(counter);
    taken += regTakeRequests(counter);
  });
  for (int i = 0; i < kSteps; ++i) {
    // A full counter refuses the step; the console view would drop that key press,
    // here it is offered again until the drainer made room.
    while (!regCountRequest(counter)) std::this_thread::yield();
  }
  done.store(true, std::memory_order_release);
  drainer.join();
  EXPECT_EQ(taken, kSteps);
  EXPECT_EQ(regLoad(counter), 0);
}

TEST(Registry, FullStepCounterHoldsInsteadOfWrapping) {
  std::atomic<uint8_t>& counter = deviceVCCHBMDecReq[0][0];
  regStore(counter, 254);
  EXPECT_TRUE(regCountRequest(counter));
  EXPECT_FALSE(regCountRequest(counter));
  EXPECT_EQ(regTakeRequests(counter), 255);
  EXPECT_EQ(regTakeRequests(counter), 0);
}

TEST(Registry, StartUpClearingCoversAllBoardsAndOnlyItsTables) {
  VARNRegistryReset();
  auto* someJtag = reinterpret_cast<VARNJtag*>(0x1000);
  auto* someLink = reinterpret_cast<_VARNAXI*>(0x2000);
  auto* someBridge = reinterpret_cast<VARNAXIBridge*>(0x3000);
  for (int b : {0, 63}) {
    for (int e : {0, 7}) {
      regStore(masters[b][e], 11);
      regStore(bridges[b][e], 12);
    }
    for (int d : {0, 3}) {
      regStore(localAXI[b][d], someLink);
      regStore(axiBridges[b][d], someBridge);
      regStore(deviceBitstreamLoadReq[b][d], 1);
      for (auto* table : {&deviceVCCINTIncReq, &deviceVCCINTDecReq, &deviceVCCBRAMIncReq, &deviceVCCBRAMDecReq,
                          &deviceVCCHBMIncReq, &deviceVCCHBMDecReq}) {
        regStore((*table)[b][d], 3);
      }
      regStore(deviceStates[b][d], ProgrammingDone);
    }
    regStore(devCounts[b], 4);
    regStore(varnJtags[b], someJtag);
    regStore(ports[b][0], 2000);
  }

  VARNRegistryClearBoardTables();
  for (int b : {0, 63}) {
    for (int e : {0, 7}) {
      EXPECT_EQ(regLoad(masters[b][e]), 0);
      EXPECT_EQ(regLoad(bridges[b][e]), 0);
    }
    for (int d : {0, 3}) {
      EXPECT_EQ(regLoad(localAXI[b][d]), nullptr);
      EXPECT_EQ(regLoad(axiBridges[b][d]), nullptr);
      EXPECT_EQ(regLoad(deviceBitstreamLoadReq[b][d]), 0);
      for (auto* table : {&deviceVCCINTIncReq, &deviceVCCINTDecReq, &deviceVCCBRAMIncReq, &deviceVCCBRAMDecReq,
                          &deviceVCCHBMIncReq, &deviceVCCHBMDecReq}) {
        EXPECT_EQ(regLoad((*table)[b][d]), 0);
      }
      EXPECT_EQ(regLoad(deviceStates[b][d]), ProgrammingDone) << "live state is not the scan's to clear";
    }
    EXPECT_EQ(regLoad(devCounts[b]), 4);
  }

  VARNRegistryClearBoardCounts();
  EXPECT_EQ(regLoad(devCounts[0]), 0);
  EXPECT_EQ(regLoad(devCounts[63]), 0);
  EXPECT_EQ(regLoad(varnJtags[63]), nullptr);

  VARNRegistryReset();
  EXPECT_EQ(regLoad(deviceStates[63][3]), 0);
  EXPECT_EQ(regLoad(ports[0][0]), 0);
}

}  // namespace
