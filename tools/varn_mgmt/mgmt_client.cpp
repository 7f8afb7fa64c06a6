#include "tools/varn_mgmt/mgmt_client.h"

#include <cstring>

namespace varnmgmt {

namespace {

uint64_t deadlineAfter(double seconds) { return varn_monotonic_ns() + static_cast<uint64_t>(seconds * 1e9); }

std::string systemError(const std::string& what) {
  return what + ": " + std::strerror(varn_error_code());
}

}  // namespace

bool Connection::open(const std::string& host, uint16_t port, double timeoutSeconds, std::string* error) {
  close();
  reader_ = FrameReader();
  fd_ = varn_tcp_socket();
  if (!varn_socket_valid(fd_)) {
    *error = systemError("socket");
    return false;
  }
  if (varn_connect_ipv4_timeout(fd_, host.c_str(), port, static_cast<int64_t>(timeoutSeconds * 1e6)) != 0) {
    *error = systemError("connect to " + host + ":" + std::to_string(port));
    close();
    return false;
  }
  varn_set_nodelay(fd_);
  return true;
}

void Connection::close() {
  if (varn_socket_valid(fd_)) varn_close_socket(fd_);
  fd_ = VARN_INVALID_SOCKET;
}

bool Connection::send(const std::string& bytes, std::string* error) {
  if (varn_send_all(fd_, bytes.data(), bytes.size()) == 0) return true;
  *error = systemError("send");
  return false;
}

bool Connection::nextFrame(Frame* out, double timeoutSeconds, std::string* error) {
  const uint64_t until = deadlineAfter(timeoutSeconds);
  timedOut_ = false;
  for (;;) {
    switch (reader_.next(out, error)) {
      case ParseResult::Frame: return true;
      case ParseResult::Error: *error = "bad frame from the bridge: " + *error; return false;
      case ParseResult::NeedMore: break;
    }
    const uint64_t now = varn_monotonic_ns();
    if (now >= until) {
      *error = "no frame from the bridge within " + std::to_string(timeoutSeconds) + " s";
      timedOut_ = true;
      return false;
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(fd_, &readSet);
    const int ready = varn_select(static_cast<int>(fd_) + 1, &readSet, nullptr, static_cast<int64_t>((until - now) / 1000));
    if (ready < 0 && !varn_error_is_interrupted()) {
      *error = systemError("select");
      return false;
    }
    if (ready <= 0) continue;
    uint8_t buffer[16384];
    const long n = varn_recv(fd_, buffer, sizeof buffer);
    if (n == 0) {
      *error = "the bridge closed the connection";
      return false;
    }
    if (n < 0) {
      if (varn_error_is_interrupted()) continue;
      *error = systemError("receive");
      return false;
    }
    reader_.feed(buffer, static_cast<size_t>(n));
  }
}

bool Connection::waitFor(Frame::Kind kind, Frame* out, double timeoutSeconds, std::string* error) {
  const uint64_t until = deadlineAfter(timeoutSeconds);
  for (;;) {
    const uint64_t now = varn_monotonic_ns();
    const double left = now >= until ? 0 : static_cast<double>(until - now) / 1e9;
    if (!nextFrame(out, left, error)) return false;
    if (out->kind == kind) return true;
  }
}

bool loadRequest(const std::string& name, std::string* request, std::string* error) {
  if (name.size() > 210) {
    *error = "bitstream name of " + std::to_string(name.size()) + " bytes; the bridge reports at most 210";
    return false;
  }
  *request = "VNLB";
  request->push_back(static_cast<char>(name.size()));
  *request += name;
  return true;
}

}  // namespace varnmgmt
