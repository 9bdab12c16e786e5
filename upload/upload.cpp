#include "upload/upload.h"

#include <cstring>

#include "base/console.h"

namespace {

constexpr uint32_t HEADER_MIN_DATA = 8;

constexpr int USAGE_ERROR = 1;

// A positive decimal number of at most 32 bits, nothing else: a rate of 0 or
// one cut off at a letter would send the bootloader to an unusable speed.
bool parse_rate(const char* word, uint32_t* rate) {
    uint64_t value = 0;
    if (*word == '\0')
        return false;
    for (const char* c = word; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(*c - '0');
        if (value > UINT32_MAX)
            return false;
    }
    if (value == 0)
        return false;
    *rate = static_cast<uint32_t>(value);
    return true;
}

} // namespace

int parse_upload_words(int32_t argc, char** argv, UploadOptions& options) {
    int32_t index = 1;
    for (; index < argc && argv[index][0] == '-' && argv[index][1] != '\0'; ++index) {
        const char* word = argv[index];
        if (std::strcmp(word, "--") == 0) {
            ++index;
            break;
        }
        for (const char* letter = word + 1; *letter != '\0'; ++letter) {
            if (*letter == 'f') {
                options.force = true;
                continue;
            }
            if (*letter != 'b') {
                out_print(LEVEL_ERROR, "upload: invalid option: %c\n", *letter);
                return USAGE_ERROR;
            }
            // The rate is the rest of this word, or else the next word.
            const char* rate = letter[1] != '\0' ? letter + 1 : nullptr;
            if (!rate && index + 1 < argc)
                rate = argv[++index];
            if (!rate) {
                out_print(LEVEL_ERROR, "upload: option requires an argument: b\n");
                return USAGE_ERROR;
            }
            if (!parse_rate(rate, &options.baud)) {
                out_print(LEVEL_ERROR, "upload: Illegal argument: %s\n", rate);
                return USAGE_ERROR;
            }
            break;
        }
    }
    if (index >= argc) {
        out_print(LEVEL_ERROR, "upload: missing filename\n");
        return USAGE_ERROR;
    }
    if (index + 1 < argc) {
        out_print(LEVEL_ERROR, "upload: Illegal argument: %s\n", argv[index + 1]);
        return USAGE_ERROR;
    }
    options.path = argv[index];
    return 0;
}

const ImageRecord* find_image_record(const std::vector<ImageRecord>& records, uint32_t type,
                                     uint32_t min_data) {
    for (const ImageRecord& record : records) {
        if (record.type == type && record.data.size() >= min_data)
            return &record;
    }
    return nullptr;
}

bool image_lists_product(const std::vector<ImageRecord>& records, uint32_t product_part) {
    for (const ImageRecord& record : records) {
        if (record.type != IMAGE_RECORD_HEADER || record.data.size() < HEADER_MIN_DATA)
            continue;
        const uint32_t count = record_u16(record, 6);
        if (count == 0)
            continue;
        // The file's verification guarantees the list; reading stays in bounds anyway.
        for (uint32_t i = 0; i < count && 8 + 4 * i + 4 <= record.data.size(); ++i) {
            if (record_u32(record, 8 + 4 * i) == product_part)
                return true;
        }
        return false;
    }
    return false;
}

uint32_t bootloader_part_number(const DeviceRecord& device) {
    const uint32_t count = ident_software_count(device);
    for (uint32_t index = 0; index < count && index < 2; ++index) {
        const uint32_t part = ident_software(device, index).part_number;
        if (part_prefix(part) == PREFIX_BOOTLOADER)
            return part;
    }
    return 0;
}

bool device_runs_identity(const DeviceRecord& device, const ImageRecord& identity) {
    if (ident_software_count(device) != 2)
        return false;
    const SoftwareEntry running = ident_software(device, 0);
    const uint32_t version_word = running.version | static_cast<uint32_t>(running.build_number)
                                                        << 16;
    return running.part_number == record_u32(identity, 0) &&
           version_word == record_u32(identity, 4) &&
           running.build_word == record_u32(identity, 8) &&
           running.build_hash == record_u32(identity, 16);
}
