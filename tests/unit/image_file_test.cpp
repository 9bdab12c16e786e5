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

ImageContents sample_contents() {
    ImageContents contents;
    contents.products = {make_part_number(37, 204106)};
    contents.identity = {make_part_number(73, 204107), make_version(1, 6, 0) | 4u << 16, 0x11,
                         pack_tag("t"), 0x22};
    contents.code.assign(100, 0x5A);
    contents.data_blocks = {{0x0100, std::vector<uint8_t>(5, 1)}};
    return contents;
}

// A file of the usual records whose span holds `inner` (already laid out as
// records); the closing CRC is computed over them, or set to crc when given.
// A record after the span brings the count to six with one record inside.
std::vector<uint8_t> file_with_span(const std::vector<uint8_t>& inner,
                                    std::optional<uint16_t> crc = std::nullopt) {
    std::vector<uint8_t> file;
    const uint8_t magic[4] = {};
    append_image_record(file, IMAGE_RECORD_MAGIC, magic);
    std::vector<uint8_t> header;
    put_le(header, 0, 4);
    put_le(header, make_version(1, 6, 0), 2);
    put_le(header, 0, 2);
    append_image_record(file, IMAGE_RECORD_HEADER, header);
    append_image_record(file, IMAGE_RECORD_CRC_BEGIN, {});
    file.insert(file.end(), inner.begin(), inner.end());
    std::vector<uint8_t> crc_data;
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

struct ReadResult {
    bool ok;
    std::string err;
    std::vector<ImageRecord> records;
};

ReadResult read_bytes(const std::vector<uint8_t>& bytes) {
    // One file per process: ctest runs the tests of this binary in parallel.
    const std::string path =
        testing::TempDir() + "image_file_test_" + std::to_string(getpid()) + ".nci";
    EXPECT_TRUE(write_file_bytes(path, bytes));
    ReadResult result;
    testing::internal::CaptureStderr();
    result.ok = read_image_file(path.c_str(), result.records);
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

} // namespace

// Cut anywhere, at a record boundary or inside a record, a file fails with
// one of the two messages and never reads past its end.
TEST(ImageFile, CutAnywhereFailsWithAMessage) {
    const std::vector<uint8_t> good = build_image_file(sample_contents());
    for (size_t length = 0; length < good.size(); ++length) {
        const ReadResult read = read_bytes(first(good, length));
        EXPECT_FALSE(read.ok) << length;
        EXPECT_TRUE(read.err == "File verification error\n" || read.err == "File parse error\n")
            << length << ": " << read.err;
    }
}

TEST(ImageFile, DamagedFilesFailWithTheirMessage) {
    const std::vector<uint8_t> good = build_image_file(sample_contents());
    const size_t application_at = 68; // magic 12, header 20, span start 8, identity 28
    const std::vector<uint8_t> padded = records({{7, 5}}); // 8 + 5 + 3 pad bytes
    const std::vector<uint8_t> small_span = file_with_span(records({{7, 4}}));
    std::vector<uint8_t> next_header_cut = good;
    put_le(next_header_cut, 9, 4);
    const std::vector<uint8_t> application = records({{IMAGE_RECORD_APPLICATION, 12}});
    const struct {
        const char* legend;
        std::vector<uint8_t> bytes;
        const char* message; // nullptr: the file passes
    } cases[] = {
        {"a data byte of the application changed", with_byte(good, application_at + 8 + 50, 0x5B),
         "File parse error\n"},
        {"span CRC over the data without the pad bytes of its record",
         file_with_span(padded, crc16(padded.data(), 13)), "File parse error\n"},
        {"record of the largest length",
         file_with_span(records({{7, IMAGE_RECORD_MAX_LENGTH - 8}})), nullptr},
        {"file cut inside the span, in the application image", first(good, 150),
         "File verification error\n"},
        {"file cut inside the closing type-3 record", first(good, good.size() - 2),
         "File verification error\n"},
        {"file cut after the span, inside the next record's header", next_header_cut, nullptr},
        {"span opened and never closed", first(good, good.size() - 12),
         "File verification error\n"},
        {"record length 0x100001", with_le32(good, application_at + 4, 0x100001),
         "File parse error\n"},
        {"record length below 8", with_le32(good, application_at + 4, 7), "File parse error\n"},
        // The type-3 record before the last one.
        {"type-3 record with one data byte", with_le32(small_span, small_span.size() - 20, 9),
         "File parse error\n"},
        {"first record is not the magic", with_le32(good, 0, 0x0169636F),
         "File verification error\n"},
        {"five valid records", first(good, 32), "File verification error\n"},
        {"header naming three products in 24 bytes", with_byte(good, 12 + 8 + 6, 3),
         "File verification error\n"},
        {"application record shorter than its image size",
         file_with_span(with_le32(application, 8 + 8, 1)), "File verification error\n"},
        {"image size near 2^32, which a 32-bit sum would wrap past the check",
         file_with_span(with_le32(application, 8 + 8, 0xFFFFFFF0)), "File verification error\n"},
        {"identity record too short", file_with_span(records({{IMAGE_RECORD_IDENTITY, 19}})),
         "File verification error\n"},
        {"data block without its id", file_with_span(records({{IMAGE_RECORD_DATA_BLOCK, 3}})),
         "File verification error\n"},
    };
    for (const auto& c : cases) {
        const ReadResult read = read_bytes(c.bytes);
        EXPECT_EQ(read.ok, c.message == nullptr) << c.legend;
        EXPECT_EQ(read.err, c.message ? c.message : "") << c.legend;
    }
}
