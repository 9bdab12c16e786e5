// Reading firmware image files: the typed records in file order, with the CRC
// span and the minimum sizes of the known records checked. What the records
// mean for a device is the upload's business.
#pragma once
#include <cstdint>
#include <vector>

#include "upload/image_builder.h"

struct ImageRecord {
    uint32_t type = 0;
    uint32_t length = 0;       // as in the file: 8 + the number of data bytes
    std::vector<uint8_t> data; // length - 8 bytes, pad bytes removed
};

// Reads and verifies the file at path. records (empty on entry) receives every
// record read, in file order, also when the result is false. false after
// printing "Could not open file: ...", "File parse error" or "File verification
// error" at level 2. A file cut short, a record length out of range, a CRC span
// that is never closed or whose CRC differs, and records too short for their
// type all fail; nothing is read beyond what the file holds.
bool read_image_file(const char* path, std::vector<ImageRecord>& records);

// The size checks alone: more than five records, the magic first, each known
// type long enough for its fields. True when they pass.
bool image_records_valid(const std::vector<ImageRecord>& records);

// Little-endian fields of record data; 0 beyond the end.
uint16_t record_u16(const ImageRecord& record, uint32_t offset);
uint32_t record_u32(const ImageRecord& record, uint32_t offset);
