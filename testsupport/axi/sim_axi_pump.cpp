#include "testsupport/axi/sim_axi_pump.h"

#include <vector>

namespace varnaxitest {

SimAxiPump::SimAxiPump(varn_socket s, varnsim::DesignOptions options) : sock_(s) {
  if (!options.count("app")) options["app"] = "axi";
  design_ = varnsim::makeDesignChecked(options, &error_);
  if (design_) thread_ = std::thread([this] { run(); });
}

SimAxiPump::~SimAxiPump() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  varn_close_socket(sock_);
}

void SimAxiPump::run() {
  std::vector<uint8_t> in(65536), out;
  out.reserve(65536);
  uint8_t piece[4096];
  uint64_t last = varn_monotonic_ns();
  auto drain = [&] {
    for (;;) {
      size_t n = design_->uart().fromFpga(piece, sizeof(piece));
      if (!n) break;
      out.insert(out.end(), piece, piece + n);
    }
  };
  while (!stop_) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(sock_, &rs);
    int r = varn_select(int(sock_) + 1, &rs, nullptr, 500);
    long n = 0;
    if (r > 0) {
      n = varn_recv(sock_, in.data(), in.size());
      if (n <= 0) return;
    }
    {
      std::lock_guard<std::mutex> hold(mu_);
      // Feed in pieces no larger than the answer FIFO can take, draining it between
      // them, as a host that keeps reading would.
      for (long off = 0; off < n; off += 512) {
        long len = n - off < 512 ? n - off : 512;
        design_->uart().toFpga(in.data() + off, size_t(len));
        drain();
      }
      uint64_t now = varn_monotonic_ns();
      design_->advance(now - last);
      last = now;
      drain();
    }
    if (!out.empty()) {
      if (varn_send_all(sock_, out.data(), out.size()) != 0) return;
      out.clear();
    }
  }
}

}  // namespace varnaxitest
