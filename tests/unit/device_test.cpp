#include <gtest/gtest.h>

#include <vector>

#include "link/device.h"
#include "upload/upload.h"

namespace {

void put_le(uint8_t* at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// An identification answer as the device sends it (header + payload), with
// the part numbers of its software entries; the payload holds two entries.
DeviceRecord identified(std::vector<uint32_t> software, uint16_t payload_length = 68,
                        uint32_t part = 0, uint32_t serial = 0) {
    DeviceRecord record;
    uint8_t* header = record.identification;
    header[0] = 0x11;
    put_le(header + 2, payload_length, 2);
    uint8_t* payload = header + 4;
    put_le(payload + IDENT_PART_NUMBER, part, 4);
    put_le(payload + IDENT_SERIAL, serial, 4);
    payload[IDENT_SOFTWARE_COUNT] = static_cast<uint8_t>(software.size());
    for (size_t i = 0; i < software.size() && i < 2; ++i)
        put_le(payload + IDENT_SOFTWARE_1 + i * IDENT_SOFTWARE_ENTRY_SIZE, software[i], 4);
    return record;
}

} // namespace

// The fields of a full answer reach the user through "ver" (Commands.VerPostAndEvent); here
// what is read from answers that lack them, and which software is the
// bootloader.
TEST(DeviceRecord, ShortAnswerReadsMissingFieldsAsZeroAndWhatSoftwareRuns) {
    // A payload of 10 bytes carries the part number and half the serial only.
    const DeviceRecord record =
        identified({make_part_number(73, 1)}, 10, make_part_number(37, 204106), 0x00ABCDEF);
    EXPECT_EQ(ident_part_number(record), make_part_number(37, 204106));
    EXPECT_EQ(ident_serial(record), 0xCDEFu);
    EXPECT_EQ(ident_software(record, 0).part_number, 0u);
    EXPECT_FALSE(application_running(record));

    EXPECT_TRUE(application_running(identified({make_part_number(71, 1)})));
    EXPECT_FALSE(application_running(identified({make_part_number(70, 1)})));
    EXPECT_STREQ(lookup_model(make_part_number(38, 203952)), "?"); // the prefix counts too
}

// The bootloader the upload runs: in either entry, the first one that is one.
TEST(DeviceRecord, BootloaderPartNumberFromEitherEntry) {
    const uint32_t app = make_part_number(73, 1);
    const uint32_t boot = make_part_number(70, 2);
    EXPECT_EQ(bootloader_part_number(identified({app, boot})), boot);
    EXPECT_EQ(bootloader_part_number(identified({boot})), boot); // rescue mode
    EXPECT_EQ(bootloader_part_number(identified({boot, make_part_number(70, 3)})), boot);
    EXPECT_EQ(bootloader_part_number(identified({app, make_part_number(71, 3)})), 0u);
    EXPECT_EQ(bootloader_part_number(identified({})), 0u);
    // A count beyond the two entries reads nothing more.
    EXPECT_EQ(bootloader_part_number(identified({app, app, boot})), 0u);
}
