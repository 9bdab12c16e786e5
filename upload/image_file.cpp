#include "upload/image_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include "base/console.h"
#include "link/crc16.h"

namespace {

constexpr uint32_t RECORD_HEADER_SIZE = 8;
constexpr uint32_t MIN_RECORD_COUNT = 6;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

uint32_t get_le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The data with its pad bytes: the data length rounded up to a multiple of 4.
uint32_t padded_data_size(uint32_t length) {
    return (length - 5) & ~3u;
}

enum class ReadOutcome { END_OF_FILE, BAD_FILE };

// The running CRC covers the records between a type-2 and a type-3 record.
// span_open stays set from a type-2 record until a type-3 record's CRC has been
// compared, so a file that ends inside its span is not taken as verified.
struct SpanCheck {
    uint16_t crc = 0;
    bool summing = false;
    bool span_open = false;
};

ReadOutcome read_records(std::FILE* file, std::vector<ImageRecord>& records, SpanCheck& span) {
    for (;;) {
        uint8_t header[RECORD_HEADER_SIZE];
        if (std::fread(header, 1, sizeof header, file) != sizeof header)
            break;
        ImageRecord record;
        record.type = get_le32(header);
        record.length = get_le32(header + 4);
        if (record.type == IMAGE_RECORD_CRC_END)
            span.summing = false;
        else if (span.summing)
            span.crc = crc16_update(span.crc, header, sizeof header);
        if (record.length > IMAGE_RECORD_MAX_LENGTH || record.length < RECORD_HEADER_SIZE)
            return ReadOutcome::BAD_FILE;
        std::vector<uint8_t> padded(padded_data_size(record.length));
        if (std::fread(padded.data(), 1, padded.size(), file) != padded.size())
            break; // the incomplete record is dropped
        if (span.summing)
            span.crc = crc16_update(span.crc, padded.data(), padded.size());
        padded.resize(record.length - RECORD_HEADER_SIZE);
        record.data = std::move(padded);
        records.push_back(std::move(record));
        const ImageRecord& added = records.back();
        if (added.type == IMAGE_RECORD_CRC_BEGIN) {
            span.summing = true;
            span.span_open = true;
        } else if (added.type == IMAGE_RECORD_CRC_END) {
            if (added.data.size() < 2 || record_u16(added, 0) != span.crc)
                return ReadOutcome::BAD_FILE;
            span.span_open = false;
        }
    }
    return std::feof(file) && !std::ferror(file) ? ReadOutcome::END_OF_FILE : ReadOutcome::BAD_FILE;
}

bool record_long_enough(const ImageRecord& record) {
    const uint64_t length = record.length;
    switch (record.type) {
    case IMAGE_RECORD_MAGIC:
        return length >= 8;
    case IMAGE_RECORD_HEADER:
        return length >= 16 && length >= 16 + 4ull * record_u16(record, 6);
    case IMAGE_RECORD_IDENTITY:
        return length >= 28;
    case IMAGE_RECORD_APPLICATION:
        // In 64 bits: an image size near 2^32 must not wrap around and pass.
        return length >= 20 && length >= 20ull + record_u32(record, 8);
    case IMAGE_RECORD_DATA_BLOCK:
        return length >= 12;
    default:
        return true;
    }
}

} // namespace

uint16_t record_u16(const ImageRecord& record, uint32_t offset) {
    if (offset > record.data.size() || record.data.size() - offset < 2)
        return 0;
    return static_cast<uint16_t>(record.data[offset] | record.data[offset + 1] << 8);
}

uint32_t record_u32(const ImageRecord& record, uint32_t offset) {
    if (offset > record.data.size() || record.data.size() - offset < 4)
        return 0;
    return get_le32(record.data.data() + offset);
}

bool image_records_valid(const std::vector<ImageRecord>& records) {
    if (records.size() < MIN_RECORD_COUNT || records.front().type != IMAGE_RECORD_MAGIC)
        return false;
    for (const ImageRecord& record : records) {
        if (!record_long_enough(record))
            return false;
    }
    return true;
}

bool read_image_file(const char* path, std::vector<ImageRecord>& records) {
    // A folder opens like a file on some systems and then fails to read:
    // it is a file that cannot be opened, on every system alike.
    std::error_code error;
    const bool folder = std::filesystem::is_directory(path, error);
    const FileHandle file(folder ? nullptr : std::fopen(path, "rb"));
    if (!file) {
        out_print(LEVEL_ERROR, "Could not open file: %s\n", path);
        return false;
    }
    SpanCheck span;
    ReadOutcome outcome = ReadOutcome::BAD_FILE;
    try {
        outcome = read_records(file.get(), records, span);
    } catch (const std::bad_alloc&) {
        outcome = ReadOutcome::BAD_FILE; // a file larger than the memory
    }
    if (outcome == ReadOutcome::BAD_FILE) {
        out_print(LEVEL_ERROR, "File parse error\n");
        return false;
    }
    if (span.span_open || !image_records_valid(records)) {
        out_print(LEVEL_ERROR, "File verification error\n");
        return false;
    }
    return true;
}
