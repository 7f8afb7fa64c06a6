#include "testsupport/axi/flood_client.h"

#include <vector>

#include "testsupport/axi/fake_axi_target.h"
#include "axi/varn_axi_packet.h"

namespace varnaxitest {

FloodClient::FloodClient(uint16_t port) : sock_(connectLoopback(port)) {
  varn_set_nonblocking(sock_, true);
  writer_ = std::thread([this] {
    std::vector<uint8_t> batch(64 * VARN_AXI_PACKET_SIZE);
    for (int i = 0; i < 64; ++i) _VARNAXIMakePacket(batch.data() + 16 * i, 0x02, uint8_t(i), 0x500, uint32_t(i));
    size_t at = 0;
    while (!stop_) {
      long n = varn_send(sock_, batch.data() + at, batch.size() - at);
      if (n > 0) {
        at = (at + size_t(n)) % batch.size();
        continue;
      }
      fd_set ws;
      FD_ZERO(&ws);
      FD_SET(sock_, &ws);
      varn_select(int(sock_) + 1, nullptr, &ws, 20000);
    }
  });
  reader_ = std::thread([this] {
    uint8_t buf[8192];
    while (!stop_) {
      fd_set rs;
      FD_ZERO(&rs);
      FD_SET(sock_, &rs);
      if (varn_select(int(sock_) + 1, &rs, nullptr, 20000) <= 0) continue;
      long n = varn_recv(sock_, buf, sizeof buf);
      if (n > 0) answers_ += uint64_t(n) / VARN_AXI_PACKET_SIZE;
    }
  });
}

FloodClient::~FloodClient() {
  stop_ = true;
  writer_.join();
  reader_.join();
  varn_close_socket(sock_);
}

}  // namespace varnaxitest
