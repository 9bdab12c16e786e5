// The identity block inside an application image, by which the bootloader
// learns what it has just received: found with every word, and only when
// whole. (The file's records are read back by the image file tests.)
#include <gtest/gtest.h>

#include "link/device.h"
#include "upload/image_builder.h"

namespace {

TEST(ImageBuilder, IdentityBlockIsFoundOnlyWhenIntact) {
    ImageContents contents;
    contents.identity = {make_part_number(73, 203953), make_version(1, 7, 0) | 9u << 16, 0x77,
                         pack_tag("rc1"), 0xDEADBEEF};
    contents.code.assign(1001, 0xE7);
    std::vector<uint8_t> image = build_application_image(contents);
    ASSERT_EQ(image.size(), contents.code.size() + IDENTITY_BLOCK_SIZE);
    const std::optional<SoftwareIdentity> found = find_image_identity(image);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->part_number, contents.identity.part_number);
    EXPECT_EQ(found->version_word, contents.identity.version_word);
    EXPECT_EQ(found->build_word, 0x77u);
    EXPECT_EQ(unpack_tag(found->build_tag), "rc1");
    EXPECT_EQ(found->build_hash, 0xDEADBEEFu);

    const struct {
        const char* legend;
        std::vector<uint8_t> image;
    } damaged[] = {
        {"a changed identity word",
         [&] {
             std::vector<uint8_t> bad = image;
             bad[10] ^= 1;
             return bad;
         }()},
        {"cut short", std::vector<uint8_t>(image.begin(), image.begin() + 20)},
        {"no block",
         [&] {
             contents.embed_identity = false;
             return build_application_image(contents);
         }()},
    };
    for (const auto& row : damaged)
        EXPECT_FALSE(find_image_identity(row.image).has_value()) << row.legend;
}

} // namespace
