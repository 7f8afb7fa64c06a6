// UltraScale+ configuration packet facts: the words a bitstream is made of and the
// configuration registers they address. The configuration logic model parses them and
// the test bitstream generator (tools/varn_bitgen) writes them.
#pragma once

#include <cstdint>

namespace varnsim::xcfg {

constexpr uint32_t kSyncWord = 0xAA995566;
constexpr uint32_t kDummyWord = 0xFFFFFFFF;
constexpr uint32_t kBusWidthSync = 0x000000BB;
constexpr uint32_t kBusWidthDetect = 0x11220044;
constexpr uint32_t kNoop = 0x20000000;
constexpr int kFrameWords = 93;

// Registers (bits 17:13 of a type-1 header).
enum Reg : uint32_t {
  kRegCrc = 0,
  kRegFar = 1,
  kRegFdri = 2,
  kRegFdro = 3,
  kRegCmd = 4,
  kRegCtl0 = 5,
  kRegMask = 6,
  kRegStat = 7,
  kRegLout = 8,
  kRegCor0 = 9,
  kRegMfwr = 10,
  kRegCbc = 11,
  kRegIdcode = 12,
  kRegAxss = 13,
  kRegCor1 = 14,
  kRegWbstar = 16,
  kRegTimer = 17,
  kRegBootsts = 22,
  kRegCtl1 = 24,
  kRegSlrForward = 30,  // the stream for the next SLR down, passed through the master
  kRegBspi = 31,
};

// CMD register codes.
enum Cmd : uint32_t {
  kCmdNull = 0,
  kCmdWcfg = 1,
  kCmdMfw = 2,
  kCmdDghigh = 3,
  kCmdRcfg = 4,
  kCmdStart = 5,
  kCmdRcrc = 7,
  kCmdAghigh = 8,
  kCmdSwitch = 9,
  kCmdGrestore = 10,
  kCmdShutdown = 11,
  kCmdDesync = 13,
  kCmdIprog = 15,
};

constexpr uint32_t kCtl0Decrypt = 1u << 6;

constexpr uint32_t type1(uint32_t op, uint32_t reg, uint32_t words) {
  return (1u << 29) | ((op & 3) << 27) | ((reg & 0x1F) << 13) | (words & 0x7FF);
}
constexpr uint32_t type1Write(uint32_t reg, uint32_t words) { return type1(2, reg, words); }
constexpr uint32_t type2Write(uint32_t words) { return (2u << 29) | (2u << 27) | (words & 0x07FFFFFF); }

// The toy cipher of the simulator's encrypted streams: every word after a CTL0 write
// that sets the decrypt bit is XOR-ed with this key stream until DESYNC. It stands
// for AES-GCM only in the one way that matters here: without the device's key the
// rest of the stream is noise.
struct KeyStream {
  uint32_t s;
  explicit KeyStream(uint32_t key) : s(key ^ 0x9E3779B9u) {
    if (!s) s = 0x6D2B79F5u;
  }
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

}  // namespace varnsim::xcfg
