// The upload command's decisions that need no device: its words, and whether
// an image file suits the device that is connected.
#pragma once
#include <cstdint>
#include <vector>

#include "link/device.h"
#include "upload/image_file.h"

constexpr uint32_t UPLOAD_SEGMENT_SIZE = 192;
constexpr int UPLOAD_MAX_ATTEMPTS = 4;

struct UploadOptions {
    uint32_t baud = 0; // transfer rate given with -b; 0: the link's rate
    bool force = false;
    const char* path = nullptr;
};

// The words after "upload": "-b rate", "-f" and exactly one path. 0 when they
// are a valid use, 1 after printing the usage message at level 2. The rate
// must be a positive decimal number.
int parse_upload_words(int32_t argc, char** argv, UploadOptions& options);

// The first record of the type with at least min_data data bytes, or nullptr.
const ImageRecord* find_image_record(const std::vector<ImageRecord>& records, uint32_t type,
                                     uint32_t min_data);

// True when the first header record that names products names this one.
bool image_lists_product(const std::vector<ImageRecord>& records, uint32_t product_part);

// The part number to start the bootloader with: software entry 1, or else
// entry 2, when its prefix is the bootloader's. 0 when neither is.
uint32_t bootloader_part_number(const DeviceRecord& device);

// True when the device reports exactly two software entries and entry 1 is the
// software of the identity record (part number, version word, build word, hash).
bool device_runs_identity(const DeviceRecord& device, const ImageRecord& identity);
