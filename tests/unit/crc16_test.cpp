#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/crc16.h"

namespace {

// Straightforward bit-by-bit form of the same CRC, independent of the table.
uint16_t crc16_bitwise(const uint8_t* data, size_t n) {
    uint16_t reg = 0;
    for (size_t i = 0; i < n; ++i) {
        reg ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000) ? static_cast<uint16_t>((reg << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(reg << 1);
    }
    return reg;
}

} // namespace

TEST(Crc16, CheckValueOfTheNineDigits) {
    crc16_init_table();
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc16(digits, sizeof digits), 0x31C3);
    EXPECT_EQ(crc16(digits, 0), 0);
}

TEST(Crc16, AgreesWithBitwiseComputationAndPiecewiseUpdate) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(random() % 600);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random());
        const uint16_t whole = crc16(data.data(), data.size());
        ASSERT_EQ(whole, crc16_bitwise(data.data(), data.size()));
        const size_t split = data.empty() ? 0 : random() % data.size();
        const uint16_t first = crc16(data.data(), split);
        EXPECT_EQ(crc16_update(first, data.data() + split, data.size() - split), whole);
    }
}
