#include "link/crc16.h"

namespace {

uint16_t table[256];
bool table_ready = false;

} // namespace

void crc16_init_table() {
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t reg = static_cast<uint16_t>(i << 8);
        for (int round = 0; round < 8; ++round) {
            const bool carry = (reg & 0x8000) != 0;
            reg = static_cast<uint16_t>(reg << 1);
            if (carry)
                reg ^= 0x1021;
        }
        table[i] = reg;
    }
    table_ready = true;
}

uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t n) {
    if (!table_ready)
        crc16_init_table();
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

uint16_t crc16(const uint8_t* data, size_t n) { return crc16_update(0, data, n); }
