// Reading image files: damaged files must fail with their message, never
// crash, over-read or pass unverified. A whole file read in record order, pad
// bytes removed, is what Upload.ImageAndDataBlockReachTheDeviceAndItRunsThem
// sends; a missing file is in BadFilePaths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "link/crc16.h"
#include "link/identity.h"
#include "upload/image_file.h"

namespace {

void put_le(std::vector<uint8_t>& out, uint32_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Copies of a file with a 32-bit value or a byte changed, or cut short.
std::vector<uint8_t> with_le32(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

std::vector<uint8_t> with_byte(std::vector<uint8_t> bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

std::vector<uint8_t> first(const std::vector<uint8_t>& bytes, size_t length) {
    return {bytes.begin(), bytes.begin() + static_cast<long>(length)};
}

// Magic, header, span start, identity, application, one data block, span end.
std::vector<uint8_t> sample_file() {
    ImageContents contents;
    contents.products = {make_part_number(37, 204106)};
    contents.identity = {make_part_number(73, 204107), make_version(1, 6, 0) | 4u << 16, 0x11,
                         pack_tag("t"), 0x22};
    contents.code.assign(100, 0x5A);
    contents.data_blocks = {{0x0100, std::vector<uint8_t>(5, 1)}};
    return build_image_file(contents);
}

// A file of the usual records whose span holds `inner` (already laid out as
// records); the closing CRC is computed over them, or set to crc when given.
// A record after the span brings the count to six with one record inside.
std::vector<uint8_t> file_with_span(const std::vector<uint8_t>& inner,
                                    std::optional<uint16_t> crc = std::nullopt) {
    std::vector<uint8_t> file, header, crc_data;
    const uint8_t magic[4] = {};
    append_image_record(file, IMAGE_RECORD_MAGIC, magic);
    put_le(header, 0, 4);
    put_le(header, make_version(1, 6, 0), 2);
    put_le(header, 0, 2);
    append_image_record(file, IMAGE_RECORD_HEADER, header);
    append_image_record(file, IMAGE_RECORD_CRC_BEGIN, {});
    file.insert(file.end(), inner.begin(), inner.end());
    put_le(crc_data, crc.value_or(crc16(inner.data(), inner.size())), 2);
    append_image_record(file, IMAGE_RECORD_CRC_END, crc_data);
    append_image_record(file, 9, std::vector<uint8_t>(4, 0));
    return file;
}

std::vector<uint8_t> records(std::initializer_list<std::pair<uint32_t, size_t>> types_and_sizes) {
    std::vector<uint8_t> bytes;
    for (const auto& [type, size] : types_and_sizes)
        append_image_record(bytes, type, std::vector<uint8_t>(size, 0x33));
    return bytes;
}

// What reading the bytes as a file prints: "" when it passes.
std::string read_error(const std::vector<uint8_t>& bytes) {
    // One file per process: ctest runs the tests of this binary in parallel.
    const std::string path =
        testing::TempDir() + "image_file_test_" + std::to_string(getpid()) + ".nci";
    EXPECT_TRUE(write_file_bytes(path, bytes));
    std::vector<ImageRecord> read;
    testing::internal::CaptureStderr();
    const bool ok = read_image_file(path.c_str(), read);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, err.empty()) << err;
    return err;
}

const char PARSE_ERROR[] = "File parse error\n";
const char VERIFICATION_ERROR[] = "File verification error\n";

} // namespace

// Cut anywhere, at a record boundary or inside a record, inside the span or
// before it (fewer than six records), a file fails verification and never
// reads past its end.
TEST(ImageFile, CutAnywhereFailsVerification) {
    const std::vector<uint8_t> good = sample_file();
    for (size_t length = 0; length < good.size(); ++length)
        EXPECT_EQ(read_error(first(good, length)), VERIFICATION_ERROR) << length;
}

TEST(ImageFile, DamagedFilesFailWithTheirMessage) {
    const std::vector<uint8_t> good = sample_file();
    const size_t application_at = 68; // magic 12, header 20, span start 8, identity 28
    const std::vector<uint8_t> padded = records({{7, 5}}); // 8 + 5 + 3 pad bytes
    const std::vector<uint8_t> small_span = file_with_span(records({{7, 4}}));
    std::vector<uint8_t> next_header_cut = good;
    put_le(next_header_cut, 9, 4);
    const std::vector<uint8_t> application = records({{IMAGE_RECORD_APPLICATION, 12}});
    const struct {
        const char* legend;
        std::vector<uint8_t> bytes;
        const char* message; // "": the file passes
    } cases[] = {
        {"a data byte of the application changed", with_byte(good, application_at + 8 + 50, 0x5B),
         PARSE_ERROR},
        {"span CRC over the data without the pad bytes of its record",
         file_with_span(padded, crc16(padded.data(), 13)), PARSE_ERROR},
        {"record of the largest length",
         file_with_span(records({{7, IMAGE_RECORD_MAX_LENGTH - 8}})), ""},
        {"file cut after the span, inside the next record's header", next_header_cut, ""},
        {"record length 0x100001", with_le32(good, application_at + 4, 0x100001), PARSE_ERROR},
        {"record length below 8", with_le32(good, application_at + 4, 7), PARSE_ERROR},
        // The type-3 record before the last one.
        {"type-3 record with one data byte", with_le32(small_span, small_span.size() - 20, 9),
         PARSE_ERROR},
        {"first record is not the magic", with_le32(good, 0, 0x0169636F), VERIFICATION_ERROR},
        {"header naming three products in 24 bytes", with_byte(good, 12 + 8 + 6, 3),
         VERIFICATION_ERROR},
        {"application record shorter than its image size",
         file_with_span(with_le32(application, 8 + 8, 1)), VERIFICATION_ERROR},
        {"image size near 2^32, which a 32-bit sum would wrap past the check",
         file_with_span(with_le32(application, 8 + 8, 0xFFFFFFF0)), VERIFICATION_ERROR},
        {"identity record too short", file_with_span(records({{IMAGE_RECORD_IDENTITY, 19}})),
         VERIFICATION_ERROR},
        {"data block without its id", file_with_span(records({{IMAGE_RECORD_DATA_BLOCK, 3}})),
         VERIFICATION_ERROR},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_error(c.bytes), c.message) << c.legend;
}
