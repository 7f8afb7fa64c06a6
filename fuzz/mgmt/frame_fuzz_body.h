// The body of the management-frame fuzzer, shared with a replay test: the input is
// parsed whole, then fed to a FrameReader in pieces of every size from 1 up; every way
// must give the same frames and end the same way (so the reader's waiting for the bytes
// a frame needs skips no answer), and the parser must stay inside what it was given
// (ASan checks that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/varn_mgmt/mgmt_frame.h"

struct VarnFrameFuzzResult {
  bool consistent = true;
  size_t frames = 0;
};

inline VarnFrameFuzzResult varnFrameFuzzOne(const uint8_t* data, size_t size) {
  using namespace varnmgmt;
  VarnFrameFuzzResult result;
  // Whole: frames one after the other until more is needed or an error.
  std::vector<size_t> lengths;
  bool wholeError = false;
  for (size_t at = 0;;) {
    Frame f;
    size_t used = 0;
    std::string error;
    const ParseResult r = parseFrame(data + at, size - at, &f, &used, &error);
    if (r == ParseResult::Frame) {
      if (used == 0 || used > size - at) return {false, 0};
      lengths.push_back(used);
      at += used;
      continue;
    }
    wholeError = r == ParseResult::Error;
    if (wholeError && error.empty()) return {false, 0};
    if (r == ParseResult::NeedMore && used <= size - at) return {false, 0};
    break;
  }
  result.frames = lengths.size();
  const size_t maxPiece = size < 64 ? size : 64;
  for (size_t piece = 1; piece <= maxPiece; ++piece) {
    FrameReader reader;
    size_t frames = 0;
    bool error = false;
    for (size_t at = 0; at < size && !error; at += piece) {
      reader.feed(data + at, size - at < piece ? size - at : piece);
      for (;;) {
        Frame f;
        std::string why;
        const ParseResult r = reader.next(&f, &why);
        if (r == ParseResult::Frame) {
          ++frames;
          continue;
        }
        error = r == ParseResult::Error;
        break;
      }
    }
    if (frames != lengths.size() || error != wholeError) result.consistent = false;
  }
  return result;
}
