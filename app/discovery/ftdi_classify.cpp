#include "app/discovery/ftdi_classify.h"

#include <cstring>
#include <string_view>

bool VARNFtdiIsUart(const char* description, const char* serial) {
  std::string_view desc(description ? description : "");
  std::string_view ser(serial ? serial : "");
  if (!desc.empty()) {
    char last = desc.back();
    if (last == 'B' || last == 'C' || last == 'D') return true;
  }
  return desc.find("UART") != std::string_view::npos && ser.starts_with("AL");
}

bool VARNFtdiIsJtag(uint32_t id) {
  uint32_t product = id & 0xFFFFu;
  return product == 0x6010u || product == 0x6011u || product == 0x6014u;
}

bool VARNFtdiIsCvpUart(const char* serial) { return serial != nullptr && std::strncmp(serial, "AL", 2) == 0; }

bool VARNSerialMatchesFilter(const char* serial, const char* filterList, char* matched, size_t matchedSize) {
  if (serial == nullptr || filterList == nullptr) return false;
  std::string_view ser(serial);
  std::string_view rest(filterList);
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view piece = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (piece.empty() || ser.find(piece) == std::string_view::npos) continue;
    if (matched != nullptr && matchedSize > 0) {
      size_t n = piece.size() < matchedSize - 1 ? piece.size() : matchedSize - 1;
      std::memcpy(matched, piece.data(), n);
      matched[n] = '\0';
    }
    return true;
  }
  return false;
}

bool VARNUartBelongsToBoard(const char* boardSerial16, const char* portSerial) {
  if (boardSerial16 == nullptr || portSerial == nullptr) return false;
  size_t boardLen = strnlen(boardSerial16, 16);
  size_t portLen = std::strlen(portSerial);
  if (boardLen == 0 || portLen == 0) return false;
  if (portLen - 1 == boardLen && std::memcmp(boardSerial16, portSerial, boardLen) == 0) return true;
  // The board's own serial usually carries its channel letter too (channel A of the
  // chip that also offers the UART): then both less their letter name the same chip.
  const char boardLetter = boardSerial16[boardLen - 1];
  const char portLetter = portSerial[portLen - 1];
  return boardLen == portLen && boardLen > 1 && boardLetter == 'A' && portLetter >= 'B' && portLetter <= 'D' &&
         std::memcmp(boardSerial16, portSerial, boardLen - 1) == 0;
}
