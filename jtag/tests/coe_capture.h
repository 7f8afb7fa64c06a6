// A test double of the CoE link, linked into unit tests in place of the link library:
// records every request and answers from a script (default: a positive empty answer).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace coecap {

struct Request {
  uint16_t command;
  uint16_t tag;
  uint16_t flags;
  std::vector<uint8_t> payload;
};

struct Answer {
  int rc = 0;                 // the link's result
  uint16_t command = 0x000A;  // 0x000E for a negative answer
  std::vector<uint8_t> data;
};

struct State {
  std::vector<Request> requests;
  std::deque<Answer> answers;  // one per request, in order; empty -> default answer
  // Optional: answer computed from the request (used when the script is empty).
  std::function<Answer(const Request&)> responder;
  bool connected = true;
  bool createFails = false;
  std::string createdAddress;
  uint16_t createdPort = 0;
  int destroyed = 0;
  // Posted requests are answered at once like transactions; their failures wait for
  // the flush, as on the real link.
  uint32_t postedFailed = 0;
  int flushes = 0;
  std::vector<uint8_t> uart[4];
};

State& state();
void reset();

}  // namespace coecap
