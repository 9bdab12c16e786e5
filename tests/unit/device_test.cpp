#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

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
    put_le(payload + IDENT_MIN_VERSION, make_version(1, 0, 0), 2);
    put_le(payload + IDENT_PART_NUMBER, part, 4);
    put_le(payload + IDENT_SERIAL, serial, 4);
    payload[IDENT_SOFTWARE_COUNT] = 2;
    uint8_t* entry = payload + IDENT_SOFTWARE_1;
    put_le(entry, software_part, 4);
    put_le(entry + 4, version, 2);
    put_le(entry + 6, 321, 2);
    put_le(entry + 8, 0xCAFEBABE, 4);
    std::memcpy(entry + 12, "dev1", 4);
    put_le(entry + 16, 0x1234ABCD, 4);
    return record;
}

} // namespace

TEST(DeviceRecord, VersionAndPartNumberDecoding) {
    EXPECT_EQ(version_major(0x0285), 5u);
    EXPECT_EQ(version_minor(0x0285), 5u);
    EXPECT_STREQ(release_type_name(version_release(0x4285)), "Developer");
    EXPECT_STREQ(release_type_name(3), "Error");

    char text[16];
    const uint32_t part = make_part_number(37, 42);
    std::snprintf(text, sizeof text, "%02u-%06u", part_prefix(part), part_number_low(part));
    EXPECT_STREQ(text, "37-000042");
    EXPECT_STREQ(lookup_model(make_part_number(37, 203952)), "NC-4100");
    EXPECT_STREQ(lookup_model(make_part_number(38, 203952)), "?"); // prefix counts too
}

TEST(DeviceRecord, IdentificationFieldsAndRescueMode) {
    const DeviceRecord app = identified(make_part_number(37, 203952), 1234,
                                        make_part_number(73, 100200), make_version(1, 5, 1));
    EXPECT_EQ(ident_part_number(app), make_part_number(37, 203952));
    EXPECT_EQ(ident_serial(app), 1234u);
    EXPECT_EQ(ident_software_count(app), 2u);
    EXPECT_EQ(ident_min_version(app), make_version(1, 0, 0));
    const SoftwareEntry entry = ident_software(app, 0);
    EXPECT_EQ(entry.build_number, 321);
    EXPECT_EQ(entry.build_word, 0xCAFEBABEu);
    EXPECT_STREQ(entry.build_tag, "dev1");
    EXPECT_EQ(entry.build_hash, 0x1234ABCDu);
    EXPECT_TRUE(application_running(app));
    EXPECT_TRUE(application_running(identified(0, 0, make_part_number(71, 1), 0)));

    const DeviceRecord rescue =
        identified(make_part_number(37, 203952), 1, make_part_number(70, 1), 0);
    EXPECT_FALSE(application_running(rescue));
}

TEST(DeviceRecord, ShortAnswerReadsMissingFieldsAsZero) {
    // A payload of 10 bytes carries the part number and half the serial only.
    const DeviceRecord record = identified(make_part_number(37, 204106), 0x00ABCDEF,
                                           make_part_number(73, 1), 0x0285, 10);
    EXPECT_EQ(ident_part_number(record), make_part_number(37, 204106));
    EXPECT_EQ(ident_serial(record), 0xCDEFu);
    EXPECT_EQ(ident_software(record, 0).part_number, 0u);
    EXPECT_FALSE(application_running(record));
}
