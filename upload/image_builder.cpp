#include "upload/image_builder.h"

#include <cstdio>
#include <cstring>

#include "link/crc16.h"

namespace {

void put_le(std::vector<uint8_t>& out, uint32_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t get_le32(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

std::vector<uint8_t> header_record_data(const ImageContents& contents) {
    std::vector<uint8_t> data;
    put_le(data, 0, 4);
    put_le(data, contents.version.value_or(contents.identity.version_word & 0xFFFF), 2);
    put_le(data, static_cast<uint32_t>(contents.products.size()), 2);
    for (uint32_t product : contents.products)
        put_le(data, product, 4);
    return data;
}

std::vector<uint8_t> application_record_data(const ImageContents& contents,
                                             const std::vector<uint8_t>& image) {
    std::vector<uint8_t> data;
    put_le(data, contents.load_address, 4);
    put_le(data, 0, 2);
    put_le(data, crc16(image.data(), image.size()), 2);
    put_le(data, static_cast<uint32_t>(image.size()), 4);
    data.insert(data.end(), image.begin(), image.end());
    return data;
}

std::vector<uint8_t> data_block_record_data(const DataBlock& block) {
    std::vector<uint8_t> data;
    put_le(data, block.id, 2);
    put_le(data, 0, 2);
    data.insert(data.end(), block.bytes.begin(), block.bytes.end());
    return data;
}

} // namespace

uint32_t pack_tag(const char* text) {
    uint32_t tag = 0;
    for (unsigned i = 0; i < 4 && text[i] != '\0'; ++i)
        tag |= static_cast<uint32_t>(static_cast<uint8_t>(text[i])) << (8 * i);
    return tag;
}

std::string unpack_tag(uint32_t tag) {
    std::string text;
    for (unsigned i = 0; i < 4; ++i) {
        const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        if (c == '\0')
            break;
        text.push_back(c);
    }
    return text;
}

std::vector<uint8_t> identity_bytes(const SoftwareIdentity& identity) {
    std::vector<uint8_t> bytes;
    put_le(bytes, identity.part_number, 4);
    put_le(bytes, identity.version_word, 4);
    put_le(bytes, identity.build_word, 4);
    put_le(bytes, identity.build_tag, 4);
    put_le(bytes, identity.build_hash, 4);
    return bytes;
}

SoftwareIdentity identity_from_bytes(std::span<const uint8_t> bytes) {
    SoftwareIdentity identity;
    if (bytes.size() < SOFTWARE_IDENTITY_SIZE)
        return identity;
    identity.part_number = get_le32(bytes, 0);
    identity.version_word = get_le32(bytes, 4);
    identity.build_word = get_le32(bytes, 8);
    identity.build_tag = get_le32(bytes, 12);
    identity.build_hash = get_le32(bytes, 16);
    return identity;
}

std::vector<uint8_t> identity_block(const SoftwareIdentity& identity) {
    std::vector<uint8_t> block;
    put_le(block, IDENTITY_BLOCK_MAGIC, 4);
    const std::vector<uint8_t> words = identity_bytes(identity);
    block.insert(block.end(), words.begin(), words.end());
    put_le(block, crc16(words.data(), words.size()), 2);
    put_le(block, 0, 2);
    return block;
}

std::vector<uint8_t> build_application_image(const ImageContents& contents) {
    std::vector<uint8_t> image;
    if (contents.embed_identity)
        image = identity_block(contents.embedded_identity.value_or(contents.identity));
    image.insert(image.end(), contents.code.begin(), contents.code.end());
    return image;
}

void append_image_record(std::vector<uint8_t>& file, uint32_t type, std::span<const uint8_t> data) {
    put_le(file, type, 4);
    put_le(file, static_cast<uint32_t>(data.size() + 8), 4);
    file.insert(file.end(), data.begin(), data.end());
    while (file.size() % 4 != 0)
        file.push_back(0);
}

std::vector<uint8_t> build_image_file(const ImageContents& contents) {
    std::vector<uint8_t> file;
    const uint8_t magic_data[4] = {};
    append_image_record(file, IMAGE_RECORD_MAGIC, magic_data);
    append_image_record(file, IMAGE_RECORD_HEADER, header_record_data(contents));
    append_image_record(file, IMAGE_RECORD_CRC_BEGIN, {});
    // The span covers everything after the type-2 record up to the type-3 header.
    const size_t span_start = file.size();
    append_image_record(file, IMAGE_RECORD_IDENTITY, identity_bytes(contents.identity));
    append_image_record(file, IMAGE_RECORD_APPLICATION,
                        application_record_data(contents, build_application_image(contents)));
    for (const DataBlock& block : contents.data_blocks)
        append_image_record(file, IMAGE_RECORD_DATA_BLOCK, data_block_record_data(block));
    const uint16_t crc = crc16(file.data() + span_start, file.size() - span_start);
    std::vector<uint8_t> crc_data;
    put_le(crc_data, contents.correct_span_crc ? crc : static_cast<uint16_t>(crc ^ 0xFFFF), 2);
    append_image_record(file, IMAGE_RECORD_CRC_END, crc_data);
    return file;
}

std::optional<SoftwareIdentity> find_image_identity(std::span<const uint8_t> image) {
    for (size_t at = 0; at + IDENTITY_BLOCK_SIZE <= image.size(); at += 4) {
        if (get_le32(image, at) != IDENTITY_BLOCK_MAGIC)
            continue;
        const std::span<const uint8_t> words = image.subspan(at + 4, SOFTWARE_IDENTITY_SIZE);
        const uint16_t stored = static_cast<uint16_t>(image[at + 24] | image[at + 25] << 8);
        if (crc16(words.data(), words.size()) == stored)
            return identity_from_bytes(words);
    }
    return std::nullopt;
}

bool write_file_bytes(const std::string& path, std::span<const uint8_t> bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}
