// Firmware image files: a flat run of typed, 4-byte aligned records (magic,
// header, CRC span, software identity, application image, data blocks). The
// builder writes them; the identity block embedded in an application image lets
// the bootloader learn which software it has just received.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

constexpr uint32_t IMAGE_RECORD_MAGIC = 0x0169636E; // "nci" and 0x01
constexpr uint32_t IMAGE_RECORD_HEADER = 1;
constexpr uint32_t IMAGE_RECORD_CRC_BEGIN = 2;
constexpr uint32_t IMAGE_RECORD_CRC_END = 3;
constexpr uint32_t IMAGE_RECORD_IDENTITY = 4;
constexpr uint32_t IMAGE_RECORD_APPLICATION = 5;
constexpr uint32_t IMAGE_RECORD_DATA_BLOCK = 6;
constexpr uint32_t IMAGE_RECORD_MAX_LENGTH = 0x100000;

// The software identity: the five words of a type-4 record, and the same words
// in the block inside the application image.
struct SoftwareIdentity {
    uint32_t part_number = 0;
    uint32_t version_word = 0; // version in the low half, build number in the high half
    uint32_t build_word = 0;
    uint32_t build_tag = 0; // four characters, first one in the low byte
    uint32_t build_hash = 0;
};
constexpr uint32_t SOFTWARE_IDENTITY_SIZE = 20;

// Inside an application image: "NCID", the 20 identity bytes, their CRC-16
// (little-endian) and two zero bytes, starting on a multiple of 4.
constexpr uint32_t IDENTITY_BLOCK_MAGIC = 0x4449434E; // "NCID"
constexpr uint32_t IDENTITY_BLOCK_SIZE = 28;

struct DataBlock {
    uint16_t id = 0;
    std::vector<uint8_t> bytes;
};

struct ImageContents {
    // Product part numbers the image is meant for. Must name at least one:
    // the tool refuses a file for no product (unless forced).
    std::vector<uint32_t> products;
    // Header version (packed major/minor/release); unset, the identity's
    // version (the low half of its version word), as a release build has.
    std::optional<uint16_t> version;
    SoftwareIdentity identity;                         // written as the type-4 record
    bool embed_identity = true;                        // also place the identity block in the image
    std::optional<SoftwareIdentity> embedded_identity; // block contents when they differ
    uint32_t load_address = 0x08010000;
    std::vector<uint8_t> code; // application bytes (the block is put in front)
    std::vector<DataBlock> data_blocks;
    bool correct_span_crc = true; // false writes a wrong span CRC, for tests
};

uint32_t pack_tag(const char* text); // up to four characters
std::string unpack_tag(uint32_t tag);

std::vector<uint8_t> identity_bytes(const SoftwareIdentity& identity);
SoftwareIdentity identity_from_bytes(std::span<const uint8_t> bytes); // needs 20 bytes
std::vector<uint8_t> identity_block(const SoftwareIdentity& identity);

// The application image as the bootloader receives it: the identity block
// (when asked for) followed by the code.
std::vector<uint8_t> build_application_image(const ImageContents& contents);

// The whole file.
std::vector<uint8_t> build_image_file(const ImageContents& contents);

// Appends one record (header, data, pad to 4 bytes) to a file under construction.
void append_image_record(std::vector<uint8_t>& file, uint32_t type, std::span<const uint8_t> data);

// Finds a valid identity block (right magic and CRC) at a 4-byte aligned offset.
std::optional<SoftwareIdentity> find_image_identity(std::span<const uint8_t> image);

// Writes bytes to a file; false when it cannot be created or written.
bool write_file_bytes(const std::string& path, std::span<const uint8_t> bytes);
