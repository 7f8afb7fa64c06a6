#include "sim/mpsse/chip_info.h"

#include <cctype>

namespace varnsim {

namespace {

// FT_DEVICE codes of the vendor driver: 5 = 232R, 6 = 2232H, 7 = 4232H, 8 = 232H.
constexpr ChipInfo kChips[] = {
    {ChipKind::FT232H, "FT232H", 0x6014, 8, 1, true, 1024, 1024, 512, 0x1, true, true, "Single RS232-HS"},
    {ChipKind::FT2232H, "FT2232H", 0x6010, 6, 2, true, 4096, 4096, 512, 0x3, true, false, "Dual RS232-HS"},
    {ChipKind::FT4232H, "FT4232H", 0x6011, 7, 4, true, 2048, 2048, 512, 0x3, false, false, "Quad RS232-HS"},
    {ChipKind::FT232R, "FT232R", 0x6001, 5, 1, false, 128, 256, 64, 0x0, false, false, "FT232R USB UART"},
};

}  // namespace

const ChipInfo* findChip(std::string_view name) {
  for (const auto& c : kChips) {
    std::string_view n = c.name;
    if (n.size() != name.size()) continue;
    bool eq = true;
    for (size_t i = 0; i < n.size() && eq; ++i)
      eq = std::toupper(static_cast<unsigned char>(name[i])) == n[i];
    if (eq) return &c;
  }
  return nullptr;
}

const ChipInfo& chipInfo(ChipKind k) {
  for (const auto& c : kChips)
    if (c.kind == k) return c;
  return kChips[1];
}

}  // namespace varnsim
