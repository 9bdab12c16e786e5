// Reading image files: damaged files must fail with their message, never
// crash, over-read or pass unverified. A whole file read in record order, pad
// bytes removed, is what Upload.ImageAndDataBlockReachTheDeviceAndItRunsThem
// sends; a missing file is in BadPromptLines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "link/crc16.h"
#include "link/identity.h"
#include "upload/image_file.h"

namespace {

// A copy of a file with a little-endian value of `size` bytes written at `at`.
std::vector<uint8_t> with_le(std::vector<uint8_t> bytes, size_t at, uint32_t value,
                             unsigned size = 4) {
    for (unsigned i = 0; i < size; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

// Magic, header, span start, identity, application, one data block, span end.
std::vector<uint8_t> sample_file() {
    ImageContents contents;
    contents.products = {make_part_number(37, 204106)};
    contents.code.assign(100, 0x5A);
    contents.data_blocks = {{0x0100, std::vector<uint8_t>(5, 1)}};
    return build_image_file(contents);
}

std::vector<uint8_t> records(std::initializer_list<std::pair<uint32_t, size_t>> types_and_sizes) {
    std::vector<uint8_t> bytes;
    for (const auto& [type, size] : types_and_sizes)
        append_image_record(bytes, type, std::vector<uint8_t>(size, 0x33));
    return bytes;
}

// A file of the usual records whose span holds `inner` (already laid out as
// records); the closing CRC is computed over them, or set to crc when given.
// A record after the span brings the count to six with one record inside.
std::vector<uint8_t> file_with_span(const std::vector<uint8_t>& inner,
                                    std::optional<uint16_t> crc = std::nullopt) {
    std::vector<uint8_t> file;
    append_image_record(file, IMAGE_RECORD_MAGIC, std::vector<uint8_t>(4));
    append_image_record(file, IMAGE_RECORD_HEADER, std::vector<uint8_t>(8)); // no products
    append_image_record(file, IMAGE_RECORD_CRC_BEGIN, {});
    file.insert(file.end(), inner.begin(), inner.end());
    const uint16_t sum = crc.value_or(crc16(inner.data(), inner.size()));
    append_image_record(file, IMAGE_RECORD_CRC_END,
                        std::vector<uint8_t>{uint8_t(sum), uint8_t(sum >> 8)});
    append_image_record(file, 9, std::vector<uint8_t>(4, 0));
    return file;
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

// What a file that cannot be parsed, or fails verification, prints.
const char UNPARSED[] = "File parse error\n";
const char UNVERIFIED[] = "File verification error\n";

} // namespace

// Cut anywhere, at a record boundary or inside a record, inside the span or
// before it (fewer than six records), a file fails verification and never
// reads past its end; a damaged file fails with its message.
TEST(ImageFile, CutOrDamagedFilesFailWithTheirMessage) {
    const std::vector<uint8_t> good = sample_file();
    for (size_t length = 0; length < good.size(); ++length)
        EXPECT_EQ(read_error({good.begin(), good.begin() + static_cast<long>(length)}), UNVERIFIED)
            << length;
    const size_t application_at = 68; // magic 12, header 20, span start 8, identity 28
    const std::vector<uint8_t> padded = records({{7, 5}}); // 8 + 5 + 3 pad bytes
    const std::vector<uint8_t> small_span = file_with_span(records({{7, 4}}));
    std::vector<uint8_t> next_header_cut = good;
    next_header_cut.insert(next_header_cut.end(), {9, 0, 0, 0});
    const std::vector<uint8_t> application = records({{IMAGE_RECORD_APPLICATION, 12}});
    const struct {
        const char* legend;
        std::vector<uint8_t> bytes;
        const char* message; // "": the file passes
    } cases[] = {
        {"application byte changed", with_le(good, application_at + 58, 0x5B, 1), UNPARSED},
        {"span CRC minus pad bytes", file_with_span(padded, crc16(padded.data(), 13)), UNPARSED},
        {"the largest record", file_with_span(records({{7, IMAGE_RECORD_MAX_LENGTH - 8}})), ""},
        {"file cut after the span, inside the next record's header", next_header_cut, ""},
        {"record length 0x100001", with_le(good, application_at + 4, 0x100001), UNPARSED},
        {"record length below 8", with_le(good, application_at + 4, 7), UNPARSED},
        // The type-3 record before the last one.
        {"type-3 record of 1 byte", with_le(small_span, small_span.size() - 20, 9), UNPARSED},
        {"first record is not the magic", with_le(good, 0, 0x0169636F), UNVERIFIED},
        {"header naming three products in 24 bytes", with_le(good, 12 + 8 + 6, 3, 1), UNVERIFIED},
        // Too short for its image size, which a 32-bit sum would wrap past the check.
        {"image size near 2^32", file_with_span(with_le(application, 16, 0xFFFFFFF0)), UNVERIFIED},
        {"identity too short", file_with_span(records({{IMAGE_RECORD_IDENTITY, 19}})), UNVERIFIED},
        {"block without id", file_with_span(records({{IMAGE_RECORD_DATA_BLOCK, 3}})), UNVERIFIED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_error(c.bytes), c.message) << c.legend;
}
