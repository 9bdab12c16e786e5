// CRC-16 with polynomial 0x1021, MSB first, no reflection, no final XOR
// (check value 0x31C3 for "123456789" from an initial value of 0).
#pragma once
#include <cstddef>
#include <cstdint>

// Fills the lookup table. Start-up calls it once; the CRC functions also fill it
// on first use, so a forgotten call cannot produce wrong checksums.
void crc16_init_table();

// CRC of n bytes with initial value 0 (0 for n == 0).
uint16_t crc16(const uint8_t* data, size_t n);

// Continues a CRC from the given register value, for data processed in pieces.
uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t n);
