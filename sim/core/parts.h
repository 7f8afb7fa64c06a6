// The FPGA parts the simulator models, with the identity facts a board carries:
// IDCODE (version field zero), vendor, super logic regions, instruction length,
// the IDCODE each SLR's configuration logic checks, and boundary-scan length.
#pragma once

#include <cstdint>
#include <string_view>

namespace varnsim {

enum class Vendor { Xilinx, Intel };

struct PartInfo {
  const char* name;          // "VU9P", "GX2800-H", ...
  uint32_t idcode;           // version field (bits 31:28) zero
  Vendor vendor;
  int slrs;                  // super logic regions (1 for the Intel parts)
  int irLength;              // 6 per SLR (Xilinx), 10 (Intel)
  uint32_t slrIdcodes[4];    // what each SLR's configuration logic expects
  int boundaryLength;        // 0: not modelled
  const char* bitPartName;   // the part text a .bit header carries
};

// Case-insensitive lookup by name ("vu9p", "VU9P", "gx2800-h"); null when unknown.
const PartInfo* findPart(std::string_view name);
const PartInfo* findPartByIdcode(uint32_t idcode);  // version field ignored
const PartInfo* allParts(int* count);

// Xilinx UltraScale+ instruction codes (6 bits per SLR).
namespace xinst {
constexpr uint32_t kSample = 0x01;
constexpr uint32_t kUser1 = 0x02;
constexpr uint32_t kUser2 = 0x03;
constexpr uint32_t kCfgOut = 0x04;
constexpr uint32_t kCfgIn = 0x05;
constexpr uint32_t kUsercode = 0x08;
constexpr uint32_t kIdcode = 0x09;
constexpr uint32_t kJprogram = 0x0B;
constexpr uint32_t kJstart = 0x0C;
constexpr uint32_t kJshutdown = 0x0D;
constexpr uint32_t kIscNoop = 0x14;
constexpr uint32_t kFuseUser128 = 0x19;
constexpr uint32_t kUser3 = 0x22;
constexpr uint32_t kUser4 = 0x23;
constexpr uint32_t kFeedThrough = 0x24;  // what the SLRs not addressed receive
constexpr uint32_t kFuseDna = 0x32;
constexpr uint32_t kFuseUser = 0x33;
constexpr uint32_t kSysmonDrp = 0x37;
constexpr uint32_t kBypass = 0x3F;
}  // namespace xinst

// Intel Stratix 10 instruction codes (10 bits).
namespace iinst {
constexpr uint32_t kConfigIn = 0x002;
constexpr uint32_t kSample = 0x005;
constexpr uint32_t kIdcode = 0x006;
constexpr uint32_t kUsercode = 0x007;
constexpr uint32_t kSdmCommand = 0x201;
constexpr uint32_t kSdmResponse = 0x202;
constexpr uint32_t kConfigStatus = 0x208;
constexpr uint32_t kBypass = 0x3FF;
}  // namespace iinst

}  // namespace varnsim
