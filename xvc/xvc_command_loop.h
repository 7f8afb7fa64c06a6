// The XVC 1.0 command loop of one client, over whatever carries its bytes: the server
// gives it a TCP connection, the fuzz target and its replay test a scripted stream.
#pragma once

#include <cstddef>
#include <cstdint>

struct _VNCoELink;

class XvcConnection {
 public:
  virtual ~XvcConnection() = default;
  // Up to len bytes (at least one); 0 when the client closed, negative on failure.
  virtual long receive(uint8_t* to, size_t len) = 0;
  // The whole reply; false when it could not be sent.
  virtual bool sendAll(const void* data, size_t len) = 0;
};

// Serves "getinfo:", "settck:" and "shift:" until the client leaves, sends a command it
// does not know or a length out of range, or a reply cannot be sent.
void varn_xvc_serve_client(_VNCoELink* link, XvcConnection& connection);
