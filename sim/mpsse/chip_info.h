// The FTDI chips a simulated board can carry, with what the vendor driver lists for
// them and the limits of their silicon: channels, FIFO sizes, USB packet size, which
// channels have an MPSSE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnsim {

enum class ChipKind { FT232H, FT2232H, FT4232H, FT232R };

struct ChipInfo {
  ChipKind kind;
  const char* name;         // as written in a board description
  uint16_t pid;
  uint32_t deviceType;      // FT_DEVICE_* value the driver reports
  int channels;
  bool highSpeed;
  size_t fifoOut;           // host -> chip, per channel
  size_t fifoIn;            // chip -> host, per channel
  size_t packetSize;        // USB bulk packet (2 status bytes + data)
  unsigned mpsseChannels;   // bit c: channel c has an MPSSE
  bool highByte;            // ACBUS pins (0x82/0x83)
  bool openDrain;           // 0x9E
  const char* description;  // default product description
};

const ChipInfo* findChip(std::string_view name);  // case-insensitive
const ChipInfo& chipInfo(ChipKind k);

}  // namespace varnsim
