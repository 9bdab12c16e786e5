// Image files as the reader takes them apart: aligned records, magic first,
// a correct span CRC, and the identity block inside the application image.
#include <gtest/gtest.h>

#include "link/crc16.h"
#include "link/device.h"
#include "upload/image_builder.h"

namespace {

struct Record {
    uint32_t type;
    uint32_t length;
    size_t data_at;
};

uint32_t le32_at(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<Record> records_of(const std::vector<uint8_t>& file) {
    std::vector<Record> records;
    size_t at = 0;
    while (at + 8 <= file.size()) {
        const Record r{le32_at(file, at), le32_at(file, at + 4), at + 8};
        records.push_back(r);
        at += 8 + ((r.length - 5) & ~3u);
    }
    EXPECT_EQ(at, file.size());
    return records;
}

ImageContents sample_contents() {
    ImageContents contents;
    contents.products = {make_part_number(37, 203952), make_part_number(37, 204106)};
    contents.identity = {make_part_number(73, 203953), make_version(1, 7, 0) | 9u << 16, 0x77,
                         pack_tag("rc1"), 0xDEADBEEF};
    contents.code.assign(1001, 0xE7);
    contents.data_blocks = {{0x0102, std::vector<uint8_t>(5, 1)},
                            {0x0203, std::vector<uint8_t>(300, 2)}};
    return contents;
}

TEST(ImageBuilder, WritesAlignedRecordsWithTheSpanCrc) {
    const std::vector<uint8_t> file = build_image_file(sample_contents());
    const std::vector<Record> records = records_of(file);
    ASSERT_GT(records.size(), 5u);
    EXPECT_EQ(records.front().type, IMAGE_RECORD_MAGIC);
    uint16_t crc = 0;
    bool in_span = false;
    for (const Record& r : records) {
        const size_t padded = (r.length - 5) & ~3u;
        if (r.type == IMAGE_RECORD_CRC_END) {
            EXPECT_EQ(static_cast<uint16_t>(file[r.data_at] | file[r.data_at + 1] << 8), crc);
            in_span = false;
        }
        if (in_span)
            crc = crc16_update(crc, file.data() + r.data_at - 8, 8 + padded);
        if (r.type == IMAGE_RECORD_CRC_BEGIN)
            in_span = true;
        if (r.type == IMAGE_RECORD_HEADER) {
            EXPECT_GE(r.length, 16u + 4 * (le32_at(file, r.data_at + 4) >> 16));
            EXPECT_EQ(le32_at(file, r.data_at + 4) & 0xFFFF, make_version(1, 7, 0));
        }
    }
}

TEST(ImageBuilder, ApplicationRecordCarriesSizeCrcAndTheIdentityBlock) {
    const ImageContents contents = sample_contents();
    const std::vector<uint8_t> file = build_image_file(contents);
    for (const Record& r : records_of(file)) {
        if (r.type != IMAGE_RECORD_APPLICATION)
            continue;
        const uint32_t size = le32_at(file, r.data_at + 8);
        EXPECT_EQ(size, contents.code.size() + IDENTITY_BLOCK_SIZE);
        EXPECT_EQ(r.length, 20 + size);
        const std::vector<uint8_t> image(file.begin() + static_cast<long>(r.data_at) + 12,
                                         file.begin() + static_cast<long>(r.data_at) + 12 + size);
        EXPECT_EQ(static_cast<uint16_t>(file[r.data_at + 6] | file[r.data_at + 7] << 8),
                  crc16(image.data(), image.size()));
        const std::optional<SoftwareIdentity> found = find_image_identity(image);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->build_hash, 0xDEADBEEFu);
        EXPECT_EQ(unpack_tag(found->build_tag), "rc1");
    }
}

TEST(ImageBuilder, IdentityBlockMustBeIntact) {
    ImageContents contents = sample_contents();
    contents.embed_identity = false;
    EXPECT_FALSE(find_image_identity(build_application_image(contents)).has_value());

    contents.embed_identity = true;
    std::vector<uint8_t> image = build_application_image(contents);
    image[10] ^= 1; // inside the identity words
    EXPECT_FALSE(find_image_identity(image).has_value());
    EXPECT_FALSE(
        find_image_identity(std::vector<uint8_t>(image.begin(), image.begin() + 20)).has_value());
}

} // namespace
