#include "sim/core/parts.h"

#include <cctype>

namespace varnsim {

namespace {

// Per-SLR IDCODEs are public only for the VU9P (seen in its multi-SLR streams); the
// other SSI parts are modelled with the device IDCODE in every SLR.
constexpr PartInfo kParts[] = {
    {"VU33P", 0x04B69093, Vendor::Xilinx, 1, 6, {0x04B69093, 0, 0, 0}, 0, "xcvu33p-fsvh2104-2-e"},
    {"VU35P", 0x04B71093, Vendor::Xilinx, 2, 12, {0x04B71093, 0x04B71093, 0, 0}, 1858, "xcvu35p-fsvh2892-2-e"},
    {"VU9P", 0x04B31093, Vendor::Xilinx, 3, 18, {0x04B31093, 0x04B22093, 0x04B24093, 0}, 0, "xcvu9p-flgb2104-2-i"},
    {"VU13P", 0x04B51093, Vendor::Xilinx, 4, 24, {0x04B51093, 0x04B51093, 0x04B51093, 0x04B51093}, 0,
     "xcvu13p-fhga2104-2-e"},
    {"GX2800-H", 0x032250DD, Vendor::Intel, 1, 10, {0x032250DD, 0, 0, 0}, 0, "1SG280HU2F50E2VG"},
    {"GX2800-L", 0x032150DD, Vendor::Intel, 1, 10, {0x032150DD, 0, 0, 0}, 0, "1SG280LU2F50E2VG"},
    {"MX2100", 0x032AC0DD, Vendor::Intel, 1, 10, {0x032AC0DD, 0, 0, 0}, 0, "1SM21BHU2F53E2VG"},
};

bool equalNoCase(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && b[i] == 0;
}

}  // namespace

const PartInfo* findPart(std::string_view name) {
  for (const auto& p : kParts)
    if (equalNoCase(name, p.name)) return &p;
  return nullptr;
}

const PartInfo* findPartByIdcode(uint32_t idcode) {
  for (const auto& p : kParts)
    if (((p.idcode ^ idcode) & 0x0FFFFFFF) == 0) return &p;
  return nullptr;
}

const PartInfo* allParts(int* count) {
  if (count) *count = static_cast<int>(sizeof(kParts) / sizeof(kParts[0]));
  return kParts;
}

}  // namespace varnsim
