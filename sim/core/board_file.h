// Board descriptions: a small line-oriented text format naming the simulated boards
// (a JTAG chain of FPGAs each) and the FTDI chips wired to them. sim/README.md
// describes the format for users. The simulated D2XX library and the board
// controller simulator both read it.
//
//   board NAME [clock=sim|wall] [ns.key=value ...]
//   device PART [key=value ...]      next FPGA of the board, from TDI towards TDO
//   fault tdo=0|1 | break=N          chain fault of the board
//   ftdi CHIP serial=TEXT [description=TEXT] [pid=N] [vid=N] [usb options]
//   channel LETTER jtag=BOARD | uart=BOARD[.DEVICE] | none [channel faults]
//
// '#' starts a comment; values with spaces go in double quotes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/device_config.h"
#include "sim/core/jtag_chain.h"
#include "sim/mpsse/chip_info.h"
#include "sim/mpsse/ftdi_channel.h"

namespace varnsim {

struct DeviceSpec {
  DeviceConfig cfg;
  int line = 0;
};

struct BoardSpec {
  std::string name;
  std::vector<DeviceSpec> devices;
  ChainFault fault;
  bool wallClock = false;
  std::map<std::string, std::string> attributes;  // "namespace.key" values for other simulators
  int line = 0;
};

struct ChannelFaults {
  bool failOpen = false;
  int shortReads = 0;      // the next N reads deliver half of what was asked
  int readTimeouts = 0;    // the next N reads deliver nothing, after their time-out
  int writeFailures = 0;   // the next N writes fail with an I/O error
  int writeFailureIn = 0;  // >0: the Nth write from now fails with an I/O error (once)
};

struct ChannelSpec {
  enum class Role { None, Jtag, Uart };
  Role role = Role::None;
  std::string board;
  int device = 0;
  ChannelFaults faults;
  int line = 0;
};

struct FtdiSpec {
  const ChipInfo* chip = nullptr;
  std::string serial;
  std::string description;
  uint16_t vid = 0x0403;
  uint16_t pid = 0;
  UsbTiming timing;
  std::vector<ChannelSpec> channels;  // one per channel of the chip, A first
  int line = 0;
};

struct BoardFile {
  std::vector<BoardSpec> boards;
  std::vector<FtdiSpec> chips;
  const BoardSpec* board(const std::string& name) const;
};

// A line whose keyword the parser does not know, offered to another simulator: its
// keyword, its words (key=value split at the first '='; a bare word comes with an
// empty key and the word as value) and its line number. Return false with *error set
// to refuse it; without a handler such a line is an error.
using ExtraLine = std::function<bool(const std::string& keyword,
                                     const std::vector<std::pair<std::string, std::string>>& words,
                                     int line, BoardFile& file, std::string* error)>;

// Parses a description. On failure returns false with *error naming the line and the
// offending text.
bool parseBoardFile(const std::string& text, BoardFile* out, std::string* error, const ExtraLine& extra = {});
bool loadBoardFile(const std::string& path, BoardFile* out, std::string* error, const ExtraLine& extra = {});

}  // namespace varnsim
