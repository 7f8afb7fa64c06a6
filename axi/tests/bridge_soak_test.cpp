// 16 clients keep one bridge busy with mixed requests; every blocking answer must come
// back to the client that asked, with the value that client wrote. VARN_SOAK_SCALE=brief
// shortens the run.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "axi/tests/bridge_rig.h"

namespace {

using varnaxitest::BridgeRig;

int requestsPerClient() {
  const char* scale = std::getenv("VARN_SOAK_SCALE");
  return (scale && std::strcmp(scale, "brief") == 0) ? 3000 : 100000;
}

TEST(AxiBridgeSoak, SixteenClientsMixedRequestsNothingLostOrMisrouted) {
  BridgeRig rig;
  const int perClient = requestsPerClient();
  std::vector<_VARNAXI*> links;
  for (int i = 0; i < 16; ++i) links.push_back(rig.link(10000));
  std::atomic<long> failures{0}, wrong{0}, sent{0};
  std::vector<std::thread> ts;
  for (int c = 0; c < 16; ++c)
    ts.emplace_back([&, c] {
      _VARNAXI* l = links[size_t(c)];
      uint32_t shadow[64] = {};
      const uint64_t base = 0x1000000 + uint64_t(c) * 0x1000;
      long mySent = 0;
      for (int k = 0; k < perClient; ++k) {
        unsigned w = unsigned(k * 13) % 64;
        uint64_t a = base + 4 * w;
        uint32_t v = (uint32_t(c) << 24) ^ uint32_t(k) * 2654435761u;
        int rc = 0;
        switch (k % 5) {
          case 0:
          case 1:
            rc = VARNAXIWrite(l, v, a, k % 5 == 0);
            if (rc == 0) shadow[w] = v;
            break;
          case 2:
          case 3: {
            uint32_t got = 0;
            rc = VARNAXIRead(l, &got, a);
            if (rc == 0 && got != shadow[w]) ++wrong;
            break;
          }
          default:
            rc = VARNAXITest(l);
            break;
        }
        ++mySent;
        if (rc != 0) ++failures;
      }
      sent += mySent;
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(wrong.load(), 0) << "an answer reached the wrong client or carried another's value";
  EXPECT_EQ(long(rig.fpga->requestCount()), sent.load()) << "each request forwarded exactly once";
  EXPECT_EQ(rig.log.count("AXI Timeout"), 0);
  EXPECT_EQ(rig.log.count("Bad"), 0);
}

}  // namespace
