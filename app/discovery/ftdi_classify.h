// Sorting the entries of the FTDI device list: JTAG channels, UART channels and the
// rest, and matching serial numbers against the -s filter and against boards.
#pragma once

#include <cstddef>
#include <cstdint>

// A UART port: a description ending in 'B', 'C' or 'D' (the second to fourth channel
// of a multi-channel chip), or one containing "UART" on a chip whose serial begins
// with "AL" (a CVP UART).
bool VARNFtdiIsUart(const char* description, const char* serial);

// A JTAG-capable chip: USB product 0x6010, 0x6011 or 0x6014 in the low 16 bits of the
// list's ID (the vendor half is not looked at).
bool VARNFtdiIsJtag(uint32_t id);

// A CVP UART: its serial begins with "AL".
bool VARNFtdiIsCvpUart(const char* serial);

// Splits `filterList` at commas (empty pieces skipped, so ",3" matches serials
// containing "3") and looks for a piece anywhere in `serial`. On a match the first
// piece found is copied, cut to fit, into `matched` (when given) and true returned.
bool VARNSerialMatchesFilter(const char* serial, const char* filterList, char* matched, size_t matchedSize);

// Whether a UART port belongs to a board: every channel of one chip carries the chip's
// serial plus a channel letter, so the port's serial less its last character equals
// the board's stored serial (16 raw bytes, terminated only when shorter) when the
// board was listed under the bare chip serial, or equals the board's serial less its
// own letter when the board is channel A of the same chip and the port channel B, C
// or D. A board without a stored serial owns no port.
bool VARNUartBelongsToBoard(const char* boardSerial16, const char* portSerial);
