// XVC shifts as board-controller requests: raw TMS/TDI shifts (0x100E), TDI-only shifts
// for long runs of TMS 0 (0x100F with flag 0x20), each split to what one request and
// its answer can carry, the answers concatenated in order.
#pragma once

#include <cstdint>
#include <vector>

struct _VNCoELink;

// Bits per request: the answer (TDO) must fit the largest packet the controller sends.
constexpr uint32_t VARN_XVC_CHUNK_BITS = (4096 - 8) * 8;
// More than this many TMS-zero bytes in a row go out as a TDI-only shift.
constexpr uint32_t VARN_XVC_LONG_RUN_BYTES = 8;

// One request with the server's next tag; the answer's bytes (empty when it failed).
std::vector<uint8_t> DoCoE(_VNCoELink* link, uint16_t command, const std::vector<uint8_t>& payload);
// `bits` bits from byte 0 of tms/tdi, as one 0x100E (TDI byte, TMS byte pairs).
std::vector<uint8_t> CoE_ShiftTMS(_VNCoELink* link, const uint8_t* tms, const uint8_t* tdi, uint32_t bits);
// The same with TMS 0 throughout, as one 0x100F; throws std::runtime_error when a TMS
// byte is not 0 (a caller bug).
std::vector<uint8_t> CoE_ShiftChain(_VNCoELink* link, const uint8_t* tms, const uint8_t* tdi, uint32_t bits);
void AppendVector(std::vector<uint8_t>& to, const std::vector<uint8_t>& from);

// A whole XVC shift of `bits` bits (tms and tdi hold (bits + 7) / 8 bytes each): the
// TDO bytes of every request, in order. Fewer than (bits + 7) / 8 when a request failed.
std::vector<uint8_t> varn_xvc_shift(_VNCoELink* link, const uint8_t* tms, const uint8_t* tdi, uint32_t bits);

// The tag the next request takes: 17, 18, ..., 32767, then 16 again.
uint16_t varn_xvc_next_tag();
