// The upload command's words, its decision about a file, and what it reads
// from the device's identification answer: which software runs, and which
// bootloader it is to start; the frames it talks in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/device.h"
#include "link/frame.h"
#include "upload/upload.h"

namespace {

// What the words give: the path, rate and -f, or the result and what went to
// standard error.
std::string parsed(std::vector<std::string> words) {
    words.insert(words.begin(), "upload");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    UploadOptions options{};
    testing::internal::CaptureStderr();
    const int result = parse_upload_words(static_cast<int32_t>(argv.size()), argv.data(), options);
    const std::string err = testing::internal::GetCapturedStderr();
    if (result != 0 || !err.empty())
        return std::to_string(result) + " " + err;
    return std::string(options.path) + " at " + std::to_string(options.baud) +
           (options.force ? ", forced" : "");
}

void put_le(uint8_t* at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// An identification answer as the device sends it (header + payload), with
// the part numbers of its software entries; the payload holds two entries.
DeviceRecord identified(std::vector<uint32_t> software, uint16_t payload_length = 68,
                        uint32_t part = 0, uint32_t serial = 0) {
    DeviceRecord record;
    uint8_t* payload = record.identification + 4;
    put_le(record.identification + 2, payload_length, 2);
    put_le(payload + IDENT_PART_NUMBER, part, 4);
    put_le(payload + IDENT_SERIAL, serial, 4);
    payload[IDENT_SOFTWARE_COUNT] = static_cast<uint8_t>(software.size());
    for (size_t i = 0; i < software.size() && i < 2; ++i)
        put_le(payload + IDENT_SOFTWARE_1 + i * IDENT_SOFTWARE_ENTRY_SIZE, software[i], 4);
    return record;
}

std::vector<uint8_t> sealed_frame(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    EXPECT_EQ(frame_compose(frame.data(), type, sequence, payload.data(),
                            static_cast<uint16_t>(payload.size())),
              frame.size());
    EXPECT_EQ(frame[4] | (frame[5] << 8), static_cast<int>(payload.size())); // little-endian
    return frame;
}

// What the parser makes of the bytes fed one at a time, as they come off the
// line: how many it consumed and, of a frame it completed without failing,
// the payload length and whether the CRC holds.
std::string frame_parsed(const std::vector<uint8_t>& bytes) {
    uint8_t buffer[FRAME_MAX_RECEIVED];
    FrameParser parser;
    frame_parser_init(&parser, buffer, sizeof buffer);
    uint32_t consumed = 0; // a frame complete too soon would leave bytes unconsumed
    for (const uint8_t& byte : bytes)
        consumed += frame_parser_feed(&parser, &byte, 1);
    const std::string result = std::to_string(consumed) + " consumed";
    if (frame_parser_complete(&parser) == frame_parser_failed(&parser))
        return result + ", both or neither complete and failed";
    if (frame_parser_failed(&parser))
        return result;
    return result + ", " + std::to_string(frame_payload_length(buffer)) + " bytes, CRC " +
           (frame_check(buffer) ? "holds" : "fails");
}

} // namespace

// -b and -f as words of their own are in Upload.*; a plain path is the row
// after "--".
TEST(UploadWords, OptionsPathUsageErrorsAndTheProductListOfTheFile) {
    EXPECT_EQ(parsed({"-fb115200", "fw.nci"}), "fw.nci at 115200, forced");
    EXPECT_EQ(parsed({"--", "-fw.nci"}), "-fw.nci at 0");
    EXPECT_EQ(parsed({"fw.nci", "-f"}), "1 upload: Illegal argument: -f\n"); // stops at the path
    EXPECT_EQ(parsed({"-x", "fw.nci"}), "1 upload: invalid option: x\n");
    EXPECT_EQ(parsed({"-f"}), "1 upload: missing filename\n");
    EXPECT_EQ(parsed({"-b"}), "1 upload: option requires an argument: b\n");
    // A rate that is no positive number would switch the bootloader to 0 baud.
    for (const std::string rate : {"0", "115200x", "-9600", "4294967296"})
        EXPECT_EQ(parsed({"-b", rate, "fw.nci"}), "1 upload: Illegal argument: " + rate + "\n");

    // Real files have one header; the first one that names products counts.
    const auto header = [](std::vector<uint32_t> products) {
        ImageRecord record{IMAGE_RECORD_HEADER, 0, std::vector<uint8_t>(8 + 4 * products.size())};
        record.data[6] = static_cast<uint8_t>(products.size());
        for (size_t i = 0; i < products.size(); ++i)
            put_le(&record.data[8 + 4 * i], products[i], 4);
        return record;
    };
    const std::vector<ImageRecord> records = {header({}), header({5, 7}), header({9})};
    EXPECT_TRUE(image_lists_product(records, 7));
    EXPECT_FALSE(image_lists_product(records, 9));
    EXPECT_FALSE(image_lists_product({header({})}, 0));
}

// The fields of a full answer reach the user through "ver"
// (Commands.EachLineShownAndExecutedAsTheModelTakesIt); here what is read
// from answers that lack them, which software runs, and the bootloader the
// upload starts: in either entry, the first one that is one.
TEST(DeviceRecord, ShortAnswerWhatSoftwareRunsAndWhichIsTheBootloader) {
    // A payload of 10 bytes carries the part number and half the serial only.
    const DeviceRecord record =
        identified({make_part_number(73, 1)}, 10, make_part_number(37, 204106), 0x00ABCDEF);
    EXPECT_EQ(ident_part_number(record), make_part_number(37, 204106));
    EXPECT_EQ(ident_serial(record), 0xCDEFu);
    EXPECT_FALSE(application_running(record)); // its software entries are missing

    EXPECT_TRUE(application_running(identified({make_part_number(71, 1)})));
    EXPECT_FALSE(application_running(identified({make_part_number(70, 1)})));
    EXPECT_STREQ(lookup_model(make_part_number(38, 203952)), "?"); // the prefix counts too

    const uint32_t app = make_part_number(73, 1), boot = make_part_number(70, 2);
    EXPECT_EQ(bootloader_part_number(identified({app, boot})), boot);
    EXPECT_EQ(bootloader_part_number(identified({boot})), boot); // rescue mode
    EXPECT_EQ(bootloader_part_number(identified({boot, make_part_number(70, 3)})), boot);
    EXPECT_EQ(bootloader_part_number(identified({app, make_part_number(71, 3)})), 0u);
    // A count beyond the two entries reads nothing more.
    EXPECT_EQ(bootloader_part_number(identified({app, app, boot})), 0u);
}

// The check value published for the CRC (polynomial 0x1021, initial value 0):
// whole, and in two pieces as the image file's span is summed. The table is
// made on first use.
TEST(Frame, CrcCheckValueAndFramesParsedByteByByte) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc16(digits, sizeof digits), 0x31C3);
    EXPECT_EQ(crc16_update(crc16(digits, 4), digits + 4, sizeof digits - 4), 0x31C3);

    // The parser stops after a whole frame and leaves the rest to the caller.
    std::vector<uint8_t> damaged = sealed_frame(0x12, 3, {7, 7});
    damaged.back() ^= 0x01;
    std::vector<uint8_t> followed = sealed_frame(0x11, 9, {1, 2, 3, 4, 5});
    followed.push_back(FRAME_SYNC_1); // the start of the next frame
    // An empty payload is complete only with its last CRC byte.
    EXPECT_EQ(frame_parsed(sealed_frame(0x10, 1, {})), "8 consumed, 0 bytes, CRC holds");
    EXPECT_EQ(frame_parsed(sealed_frame(0x11, 2, std::vector<uint8_t>(68, 0x5A))),
              "76 consumed, 68 bytes, CRC holds");
    // Of 77 bytes, the one that overflows is consumed and fails the frame.
    EXPECT_EQ(frame_parsed(sealed_frame(0x11, 2, std::vector<uint8_t>(69, 0x5A))), "77 consumed");
    EXPECT_EQ(frame_parsed(followed), "13 consumed, 5 bytes, CRC holds");
    EXPECT_EQ(frame_parsed(damaged), "10 consumed, 2 bytes, CRC fails");
    EXPECT_EQ(frame_parsed({FRAME_SYNC_1, 0x99}), "2 consumed"); // second sync byte wrong
    EXPECT_EQ(frame_parsed({0x00}), "1 consumed");
}
