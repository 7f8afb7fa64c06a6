// Checksums of the configuration streams: CRC-32C of the UltraScale configuration
// logic (37 bits per register write: the 32 data bits then the 5 address bits, least
// significant bit first, reflected polynomial 0x82F63B78) and the IEEE CRC-32 the
// simulator's .rbf container ends with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnsim {

uint32_t crc32cConfigWord(uint32_t crc, uint32_t reg, uint32_t data);
// The same, one bit at a time, as the configuration logic's serial description has it.
uint32_t crc32cConfigWordBitwise(uint32_t crc, uint32_t reg, uint32_t data);

uint32_t crc32Ieee(uint32_t crc, const uint8_t* p, size_t n);  // crc = 0 to start
uint32_t crc32IeeeByte(uint32_t crc, uint8_t b);                 // running, pre-inverted state

}  // namespace varnsim
