// The 16-byte AXI packet that every user of the FPGA's AXI master speaks: layout,
// the two checksums, and a byte-stream assembler that finds packets in a stream
// with no framing other than the check field.
//
// Layout (all fields big-endian):
//   [0] command   [1] sequence   [2..9] 64-bit address   [10..13] data
//   [14..15] CRC-16/MODBUS of bytes 0..13, high byte first
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t VARN_AXI_PACKET_SIZE = 16;

// Command codes sent by the host.
constexpr uint8_t VARN_AXI_CMD_TEST = 0x00;
constexpr uint8_t VARN_AXI_CMD_READ = 0x01;
constexpr uint8_t VARN_AXI_CMD_WRITE = 0x02;
constexpr uint8_t VARN_AXI_CMD_BULK = 0x42;
constexpr uint8_t VARN_AXI_CMD_IRQ_MASK = 0xFF;
// Low nibble of a target-initiated interrupt packet.
constexpr uint8_t VARN_AXI_CMD_INTERRUPT = 0x07;
// Flags in the command byte of an answer.
constexpr uint8_t VARN_AXI_FLAG_OVERFLOW = 0x10;
constexpr uint8_t VARN_AXI_ERROR_THRESHOLD = 0x40;

// Fills bytes 0..15 and returns 16.
int _VARNAXIMakePacket(uint8_t* buf, uint8_t command, uint8_t sequence, uint64_t address, uint32_t data);

// CRC-16/MODBUS (reflected 0x8005, init 0xFFFF, no final XOR). A length below 1 gives 0xFFFF.
uint16_t ModRTU_CRC(const uint8_t* buf, int len);
// The bridge's name for the same computation.
uint16_t _ModRTU_CRC(const uint8_t* buf, int len);

// IEEE 802.3 CRC-32 (reflected 0xEDB88320, init and final XOR 0xFFFFFFFF). A length of
// 0 or less gives 0.
uint32_t crc32(const uint8_t* data, int len);
// CRC-32 of the data with every 4-byte group fed in reverse order: what a bulk write
// puts on the wire after turning host little-endian words into big-endian ones.
// Bulk writes always pass a multiple of 4; a short last group is reversed within
// itself. 0 or less gives 0.
uint32_t crc32_endian(const uint8_t* data, int len);

// Field access on a 16-byte packet.
inline uint64_t VARNAXIPacketAddress(const uint8_t* p) {
  uint64_t a = 0;
  for (int i = 2; i < 10; ++i) a = (a << 8) | p[i];
  return a;
}
inline uint32_t VARNAXIPacketData(const uint8_t* p) {
  return (uint32_t(p[10]) << 24) | (uint32_t(p[11]) << 16) | (uint32_t(p[12]) << 8) | uint32_t(p[13]);
}
inline uint16_t VARNAXIPacketCheck(const uint8_t* p) { return uint16_t((p[14] << 8) | p[15]); }
// True when bytes 14..15 hold the CRC of bytes 0..13.
bool VARNAXIPacketCheckOK(const uint8_t* p);
// Recomputes bytes 14..15 after a field was changed.
void VARNAXIPacketSeal(uint8_t* p);

// Finds packets in a byte stream one byte at a time. A 16-byte window whose check
// field is wrong is not a packet: its first byte is dropped and the other 15 start
// the next window. No allocation; carry one per stream.
struct VARNAXIAssembler {
  uint8_t window[VARN_AXI_PACKET_SIZE];
  uint8_t fill;          // bytes held in window
  uint32_t badWindows;   // windows rejected so far (for tests and statistics)
  uint32_t unlogged;     // rejected since the last line about them
  uint64_t loggedNs;     // when that line was written; 0: never
};

// A peer sending garbage costs at most one log line a second per stream: the first
// rejected window logs the caller's message, later ones are counted, and the count is
// logged (at the next window) once a second has passed since the last line.
constexpr uint64_t VARN_AXI_BAD_LOG_PERIOD_NS = 1000000000ull;

void VARNAXIAssemblerReset(VARNAXIAssembler* a);

// Consumes bytes from *data/*len until one packet is complete; then copies it to
// `packet`, advances *data/*len past it and returns true. Returns false when the
// input is used up (a partial packet stays in the window for the next feed). Rejected
// windows log `badMessage` (e.g. "Bad CRC\n"), unless it is null, as limited above.
// Bytes after a returned packet are left untouched, so a caller can take a bulk
// payload straight from the input.
bool VARNAXIAssemblerNext(VARNAXIAssembler* a, const uint8_t** data, size_t* len, uint8_t* packet,
                          const char* badMessage);
