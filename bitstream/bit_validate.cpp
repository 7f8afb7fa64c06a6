// Does a bitstream file suit one device of a board connection? Decided by the file
// name's extension and, for Xilinx parts, by the identification near the file's start.
#include <cstdio>
#include <cstring>

#include "app/log/varn_log.h"
#include "bitstream/bit_file.h"
#include "bitstream/bit_header_scan.h"
#include "bitstream/bitstream_internal.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"
#include "jtag/varn_jtag_handle.h"

namespace {

// Case-sensitive, and the name must be at least the extension long.
bool endsWith(const char* path, const char* ext) {
  const size_t n = std::strlen(path), e = std::strlen(ext);
  return n >= e && std::memcmp(path + n - e, ext, e) == 0;
}

// The check itself; `why` (when given) receives the reason for a refusal.
int check(VARNJtag* jtag, uint32_t device, const char* path, char* why, size_t whyCap) {
  auto say = [&](int code, const char* format, auto... values) {
    if (why) std::snprintf(why, whyCap, format, values...);
    return code;
  };
  if (jtag == nullptr || device >= jtag->deviceCount || device >= static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES))
    return say(VARN_BIT_BAD_INDEX, "%s", "there is no such device");
  const int32_t row = jtag->deviceType[device];
  if (row < 0 || row >= JTAG_DEVICE_ROWS) return say(VARN_BIT_UNKNOWN_DEVICE, "%s", "the device's part is unknown");
  if (path == nullptr) return say(VARN_BIT_MISMATCH, "%s", "no file named");

  // The Intel loader examines .rbf content itself; here only the name counts.
  if (varn_bit_is_intel(jtag, device))
    return endsWith(path, ".rbf") ? VARN_BIT_OK : say(VARN_BIT_MISMATCH, "%s", "an Intel device takes .rbf files");
  if (!endsWith(path, ".bit")) return say(VARN_BIT_MISMATCH, "%s", "a Xilinx device takes .bit files");

  BitFile file;
  if (!file.open(path)) return say(VARN_BIT_OPEN_FAILED, "cannot be opened (%s)", file.why());
  BitHeaderScan scan;
  for (uint32_t examined = 0; examined < VARN_BIT_SCAN_LIMIT; ++examined) {
    const int c = file.getByte();
    if (c < 0) break;
    if (scan.feed(static_cast<uint8_t>(c))) break;
  }

  uint32_t idcode = scan.idcode();
  if (scan.encrypted()) {
    VARNLog("Encrypted bit for %s\n", scan.partChars());
    // No row: the partial identification, if any, decides (and in practice fails).
    varn_bit_encrypted_part_idcode(scan.partChars(), &idcode);
  } else if (!scan.identified()) {
    return say(VARN_BIT_BAD_INDEX, "no part identification in its first %u bytes", VARN_BIT_SCAN_LIMIT);
  }
  if (((idcode ^ jtag->idcodes[device]) & 0x0FFFFFFFu) == 0) return VARN_BIT_OK;
  return say(VARN_BIT_MISMATCH, "made for IDCODE %08X, the device is %08X", idcode & 0x0FFFFFFFu,
             jtag->idcodes[device] & 0x0FFFFFFFu);
}

// Calls f(entry, length) for each non-empty comma-separated entry of the list, until f
// returns true. An entry too long for a path buffer cannot name a file this program
// opens and is passed over.
template <typename F>
bool forEachEntry(const char* list, F f) {
  char entry[VARN_BIT_PATH_MAX];
  for (const char* p = list;;) {
    const char* comma = std::strchr(p, ',');
    const size_t len = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
    if (len > 0 && len < sizeof entry) {
      std::memcpy(entry, p, len);
      entry[len] = '\0';
      if (f(entry, len)) return true;
    }
    if (comma == nullptr) return false;
    p = comma + 1;
  }
}

// No file of the list suits the device: each says why, so the user need not guess.
void explainRefusals(VARNJtag* jtag, uint32_t device, const char* list) {
  forEachEntry(list, [&](const char* entry, size_t) {
    char why[256] = {};
    if (check(jtag, device, entry, why, sizeof why) != VARN_BIT_OK) VARNLog("Bitstream %s refused: %s\n", entry, why);
    return false;
  });
}

}  // namespace

int VARNJtagBitstreamIsValidForDevice(VARNJtag* jtag, uint32_t device, const char* path) {
  return check(jtag, device, path, nullptr, 0);
}

int VARNBitstreamChooseFile(VARNJtag* jtag, uint32_t device, const char* list, char* chosen, size_t capacity) {
  if (chosen == nullptr || capacity == 0) return VARN_BIT_BAD_INDEX;
  chosen[0] = '\0';
  if (list == nullptr) return VARN_BIT_MISMATCH;
  auto copy = [&](const char* text, size_t len) {
    if (len >= capacity) len = capacity - 1;
    std::memcpy(chosen, text, len);
    chosen[len] = '\0';
  };
  if (std::strchr(list, ',') != nullptr) {
    const bool found = forEachEntry(list, [&](const char* entry, size_t len) {
      if (VARNJtagBitstreamIsValidForDevice(jtag, device, entry) != VARN_BIT_OK) return false;
      copy(entry, len);
      return true;
    });
    if (found) return VARN_BIT_OK;
  }
  copy(list, std::strlen(list));
  const int rc = VARNJtagBitstreamIsValidForDevice(jtag, device, chosen);
  if (rc != VARN_BIT_OK) explainRefusals(jtag, device, list);
  return rc;
}
