#include <gtest/gtest.h>

#include "link/device.h"

namespace {

void put_le(uint8_t* at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Builds an identification answer as the device sends it (header + payload).
DeviceRecord identified(uint32_t part, uint32_t serial, uint32_t software_part, uint16_t version,
                        uint16_t payload_length = 68) {
    DeviceRecord record;
    uint8_t* header = record.identification;
    header[0] = 0x11;
    put_le(header + 2, payload_length, 2);
    uint8_t* payload = header + 4;
    put_le(payload + IDENT_PART_NUMBER, part, 4);
    put_le(payload + IDENT_SERIAL, serial, 4);
    payload[IDENT_SOFTWARE_COUNT] = 2;
    uint8_t* entry = payload + IDENT_SOFTWARE_1;
    put_le(entry, software_part, 4);
    put_le(entry + 4, version, 2);
    return record;
}

} // namespace

// The fields of a full answer reach the user through "ver" (System.Ver*); here
// what is read from answers that lack them, and which software is the
// bootloader.
TEST(DeviceRecord, ShortAnswerReadsMissingFieldsAsZeroAndWhatSoftwareRuns) {
    // A payload of 10 bytes carries the part number and half the serial only.
    const DeviceRecord record = identified(make_part_number(37, 204106), 0x00ABCDEF,
                                           make_part_number(73, 1), 0x0285, 10);
    EXPECT_EQ(ident_part_number(record), make_part_number(37, 204106));
    EXPECT_EQ(ident_serial(record), 0xCDEFu);
    EXPECT_EQ(ident_software(record, 0).part_number, 0u);
    EXPECT_FALSE(application_running(record));

    EXPECT_TRUE(application_running(identified(0, 0, make_part_number(71, 1), 0)));
    EXPECT_FALSE(application_running(identified(0, 0, make_part_number(70, 1), 0)));
    EXPECT_STREQ(lookup_model(make_part_number(38, 203952)), "?"); // the prefix counts too
}
