#include <gtest/gtest.h>

#include "link/crc16.h"

// The check value published for this CRC (polynomial 0x1021, initial value 0):
// whole, and in two pieces as the image file's span is summed. The table is
// made on first use.
TEST(Crc16, CheckValueOfTheNineDigitsWholeAndInPieces) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc16(digits, sizeof digits), 0x31C3);
    EXPECT_EQ(crc16_update(crc16(digits, 4), digits + 4, sizeof digits - 4), 0x31C3);
    EXPECT_EQ(crc16(digits, 0), 0);
}
