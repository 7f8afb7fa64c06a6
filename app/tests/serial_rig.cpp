#include "app/tests/serial_rig.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace serialrig {

size_t soakBytes(size_t full) {
  const char* scale = std::getenv("VARN_SOAK_SCALE");
  if (scale != nullptr && std::string(scale) == "brief") return full / 64;
  if (scale != nullptr && std::atof(scale) > 0) return static_cast<size_t>(double(full) * std::atof(scale));
  return full;
}

EchoRun echoBulk(uint16_t port, size_t total, double limitSeconds) {
  EchoRun run;
  rig::Client c(port);
  if (!c.connected()) return run;
  std::string data(total, '\0');
  std::mt19937 gen(static_cast<unsigned>(total));
  for (char& ch : data) ch = static_cast<char>(gen());
  auto t0 = std::chrono::steady_clock::now();
  std::thread writer([&] {
    const size_t piece = 16384;
    bool ok = true;
    for (size_t at = 0; at < total && ok; at += piece) ok = c.send(data.data() + at, std::min(piece, total - at));
    run.sentAll = ok;
  });
  std::string got = c.receive(total, limitSeconds);
  writer.join();
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.received = got.size();
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] != data[i]) {
      run.firstMismatch = i;
      break;
    }
  }
  return run;
}

void expectEcho(const EchoRun& r, size_t total, const char* route) {
  EXPECT_TRUE(r.sentAll) << route;
  EXPECT_EQ(r.received, total) << route << ": bytes came back in " << r.seconds << " s";
  EXPECT_EQ(r.firstMismatch, std::string::npos) << route << ": first changed byte";
  std::printf("[ %s ] %zu bytes each way in %.2f s (%.1f KB/s)\n", route, total, r.seconds,
              double(total) / r.seconds / 1000.0);
}

}  // namespace serialrig
