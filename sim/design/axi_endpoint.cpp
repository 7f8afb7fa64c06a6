#include "sim/design/axi_endpoint.h"

#include <algorithm>
#include <cstdio>

#include "sim/design/axi_master_app.h"

namespace varnsim {

namespace {
// Stop pulling answers out of the design while this much waits for a slow client:
// the design's own FIFO then fills and it stalls, as on a real serial link.
constexpr size_t kMaxOutgoing = 64 * 1024;
// Catch-up limit for simulated time after the process was descheduled for long.
constexpr uint64_t kMaxStepNs = 100'000'000;
}  // namespace

std::unique_ptr<AxiEndpoint> AxiEndpoint::start(const DesignOptions& options, uint16_t port, std::string* error,
                                                const char* bindAddr) {
  std::unique_ptr<AxiEndpoint> ep(new AxiEndpoint());
  std::string why;
  ep->design_ = makeDesignChecked(options, &why);
  if (!ep->design_) {
    if (error) *error = why;
    return nullptr;
  }
  varn_net_init();
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) {
    if (error) *error = "cannot create a TCP socket (error " + std::to_string(varn_error_code()) + ")";
    return nullptr;
  }
  varn_set_reuseaddr(s);
  if (varn_bind_ipv4(s, bindAddr, port) != 0 || varn_listen(s, 16) != 0) {
    int code = varn_error_code();
    varn_close_socket(s);
    if (error)
      *error = std::string("cannot listen on ") + bindAddr + ":" + std::to_string(port) + " (error " +
               std::to_string(code) + (varn_error_is_addrinuse() ? ", address in use" : "") + ")";
    return nullptr;
  }
  ep->listener_ = s;
  ep->port_ = varn_local_port(s);
  ep->lastNs_ = varn_monotonic_ns();
  ep->thread_ = std::thread([p = ep.get()] { p->run(); });
  return ep;
}

AxiEndpoint::~AxiEndpoint() { stop(); }

void AxiEndpoint::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (varn_socket_valid(client_)) varn_close_socket(client_);
  if (varn_socket_valid(listener_)) varn_close_socket(listener_);
  client_ = listener_ = VARN_INVALID_SOCKET;
  connected_ = false;
}

void AxiEndpoint::setFaults(const EndpointFaults& f) {
  std::lock_guard<std::mutex> g(mutex_);
  faults_ = f;
}

void AxiEndpoint::corruptNextByte() {
  std::lock_guard<std::mutex> g(mutex_);
  faults_.corruptAtByte = static_cast<int64_t>(taken_);
}

void AxiEndpoint::closeClient() { closeRequested_ = true; }

void AxiEndpoint::withDesign(const std::function<void(Design&)>& f) {
  std::lock_guard<std::mutex> g(mutex_);
  f(*design_);
}

void AxiEndpoint::setLogger(std::function<void(const std::string&)> log) {
  std::lock_guard<std::mutex> g(mutex_);
  log_ = std::move(log);
}

void AxiEndpoint::log(const std::string& s) {
  if (log_) log_(s);
}

void AxiEndpoint::dropClient(const char* why) {
  if (varn_socket_valid(client_)) {
    varn_shutdown_socket(client_);
    varn_close_socket(client_);
  }
  client_ = VARN_INVALID_SOCKET;
  connected_ = false;
  closeRequested_ = false;
  outgoing_.clear();
  outgoingBytes_ = 0;
  // What the last client left half-sent must not reach the next one.
  design_->channel().in.clear();
  design_->channel().out.clear();
  if (design_->axi()) design_->axi()->resetFraming();
  log(std::string("client closed: ") + why);
}

void AxiEndpoint::serveClientTurn(uint64_t nowNs) {
  if (closeRequested_) return dropClient("closed by request");

  // Answers out of the design, with the faults applied as they leave it.
  if (outgoingBytes_ < kMaxOutgoing) {
    uint8_t buf[4096];
    size_t room = std::min(sizeof buf, kMaxOutgoing - outgoingBytes_);
    if (faults_.closeAfterBytes >= 0)
      room = std::min<size_t>(room, static_cast<size_t>(std::max<int64_t>(0, faults_.closeAfterBytes - int64_t(taken_))));
    size_t n = room ? design_->uart().fromFpga(buf, room) : 0;
    if (n) {
      Chunk c{nowNs + uint64_t{faults_.answerDelayMs} * 1000000, {}, 0};
      c.bytes.reserve(n);
      for (size_t i = 0; i < n; ++i, ++taken_) {
        int64_t pos = static_cast<int64_t>(taken_);
        if (faults_.silentAfterBytes >= 0 && pos >= faults_.silentAfterBytes) continue;
        c.bytes.push_back(pos == faults_.corruptAtByte ? static_cast<uint8_t>(~buf[i]) : buf[i]);
      }
      if (!c.bytes.empty()) {
        outgoingBytes_ += c.bytes.size();
        outgoing_.push_back(std::move(c));
      }
    }
  }
  while (!outgoing_.empty() && outgoing_.front().dueNs <= nowNs) {
    Chunk& c = outgoing_.front();
    long s = varn_send(client_, c.bytes.data() + c.off, c.bytes.size() - c.off);
    if (s < 0 && (varn_error_would_block() || varn_error_is_interrupted())) break;
    if (s <= 0) return dropClient("send failed");
    c.off += static_cast<size_t>(s);
    outgoingBytes_ -= static_cast<size_t>(s);
    if (c.off < c.bytes.size()) break;
    outgoing_.pop_front();
  }
  if (faults_.closeAfterBytes >= 0 && int64_t(taken_) >= faults_.closeAfterBytes && outgoing_.empty())
    dropClient("fault: close after bytes");
}

void AxiEndpoint::run() {
  uint8_t buf[8192];
  while (!stopping_) {
    fd_set rd;
    FD_ZERO(&rd);
    int nfds = 0;
    bool haveClient = varn_socket_valid(client_);
    size_t inSpace = 0;
    {
      std::lock_guard<std::mutex> g(mutex_);
      inSpace = design_->channel().in.space();
    }
    // TCP flow control stands in for the serial line: take only what the design's
    // input FIFO can hold, so nothing a client sends is dropped here.
    if (haveClient && inSpace) {
      FD_SET(client_, &rd);
      nfds = static_cast<int>(client_) + 1;
    } else if (!haveClient) {
      FD_SET(listener_, &rd);
      nfds = static_cast<int>(listener_) + 1;
    }
    // Short waits keep simulated time moving and answers flowing without a wake-up
    // channel from the design.
    int r = varn_select(nfds, &rd, nullptr, haveClient ? 1000 : 10000);
    if (r < 0 && !varn_error_is_interrupted()) {
      std::fprintf(stderr, "varn_board_sim: wait on port %u failed (error %d)\n", port_, varn_error_code());
      varn_sleep_ms(10);
      continue;
    }
    uint64_t now = varn_monotonic_ns();
    std::lock_guard<std::mutex> g(mutex_);
    design_->advance(std::min(now - lastNs_, kMaxStepNs));
    lastNs_ = now;

    if (!haveClient) {
      if (r > 0 && FD_ISSET(listener_, &rd)) {
        uint32_t ip = 0;
        uint16_t peerPort = 0;
        varn_socket c = varn_accept(listener_, &ip, &peerPort);
        if (varn_socket_valid(c)) {
          varn_set_nodelay(c);
          varn_set_nonblocking(c, true);
          client_ = c;
          connected_ = true;
          taken_ = 0;
          ++clientsServed_;
          char msg[80];
          std::snprintf(msg, sizeof msg, "client connected from %u.%u.%u.%u:%u", ip >> 24, (ip >> 16) & 0xFF,
                        (ip >> 8) & 0xFF, ip & 0xFF, peerPort);
          log(msg);
        }
      }
      continue;
    }
    if (r > 0 && FD_ISSET(client_, &rd)) {
      long n = varn_recv(client_, buf, std::min(sizeof buf, inSpace));
      if (n == 0 || (n < 0 && !varn_error_would_block() && !varn_error_is_interrupted())) {
        dropClient(n == 0 ? "peer closed" : "receive failed");
        continue;
      }
      if (n > 0) design_->uart().toFpga(buf, static_cast<size_t>(n));
    }
    serveClientTurn(now);
  }
}

}  // namespace varnsim
