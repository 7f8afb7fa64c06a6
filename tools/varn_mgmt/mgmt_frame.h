// The management API's frames as a client reads them off the byte stream: the device
// list ("VNDL") and the telemetry ("VNTE"). Whatever the stream holds, the parser says
// "need more bytes", hands out a whole frame, or names what is wrong with it; it never
// reads past what it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnmgmt {

struct DeviceRecord {
  uint8_t dna[12] = {};
  std::string serial;  // the board's serial (up to 16 bytes, terminated where shorter)
  uint32_t idcode = 0;
  uint8_t state = 0;
  std::string bitstream;
  uint16_t port = 0;
  uint32_t txBytes = 0;
  uint32_t rxBytes = 0;
};

struct SlrReading {
  double celsius = 0;
  double vccint = 0;
};

struct TelemetryRecord {
  uint8_t dna[12] = {};
  std::string serial;
  std::vector<SlrReading> slrs;
};

struct Frame {
  enum class Kind { DeviceList, Telemetry } kind = Kind::DeviceList;
  // One entry per board, one per device in it; only the list of the frame's kind is used.
  std::vector<std::vector<DeviceRecord>> devices;
  std::vector<std::vector<TelemetryRecord>> telemetry;
};

enum class ParseResult { NeedMore, Frame, Error };

// The largest frame accepted; a bridge sends at most 64 boards of 4 devices.
constexpr size_t kMaxFrameBytes = 1 << 20;

// Parses one frame at the start of data. Frame: *out holds it and *used its length.
// NeedMore: *used is the length the data must reach before the answer can change.
// Error: *error says why (the stream cannot be resynchronised; close the connection).
ParseResult parseFrame(const uint8_t* data, size_t length, Frame* out, size_t* used, std::string* error);

// Frames from a stream fed in pieces of any size. A frame that arrives a few bytes at a
// time is parsed again only once the bytes it was waiting for are there, not on every piece.
class FrameReader {
 public:
  void feed(const uint8_t* data, size_t length) { buffer_.insert(buffer_.end(), data, data + length); }
  ParseResult next(Frame* out, std::string* error);

 private:
  std::vector<uint8_t> buffer_;
  size_t need_ = 0;
};

// "loaded", "programming", ... for a device state byte (several names when several bits are set).
std::string stateName(uint8_t state);
std::string dnaHex(const uint8_t dna[12]);

}  // namespace varnmgmt
