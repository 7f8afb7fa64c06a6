// One management connection to a bridge, as varn_mgmt uses it: requests out, frames in.
#pragma once

#include <cstdint>
#include <string>

#include "app/platform/varn_platform.h"
#include "tools/varn_mgmt/mgmt_frame.h"

namespace varnmgmt {

class Connection {
 public:
  Connection() = default;
  ~Connection() { close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // false with *error set ("connect to 127.0.0.1:1999: Connection refused").
  bool open(const std::string& host, uint16_t port, double timeoutSeconds, std::string* error);
  void close();
  bool isOpen() const { return varn_socket_valid(fd_); }
  bool send(const std::string& bytes, std::string* error);
  // The next frame of any kind; false on time-out (timedOut() then says so), a closed
  // connection or a bad frame.
  bool nextFrame(Frame* out, double timeoutSeconds, std::string* error);
  bool timedOut() const { return timedOut_; }
  // The next frame of the kind, skipping frames of the other kind.
  bool waitFor(Frame::Kind kind, Frame* out, double timeoutSeconds, std::string* error);

 private:
  varn_socket fd_ = VARN_INVALID_SOCKET;
  FrameReader reader_;
  bool timedOut_ = false;
};

// "VNLB", the name's length and the name; names longer than 210 bytes are refused.
bool loadRequest(const std::string& name, std::string* request, std::string* error);

}  // namespace varnmgmt
