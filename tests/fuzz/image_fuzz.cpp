// Arbitrary bytes as a firmware image file: read, verified, and looked at as
// the upload does before it sends anything.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "upload/image_file.h"
#include "upload/upload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory where the machine has it: a disk write per run halves the pace.
    static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/nc-image-fuzz-" + std::to_string(getpid()) + ".nci";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    std::vector<ImageRecord> records;
    const bool ok = read_image_file(path.c_str(), records);
    image_records_valid(records);
    image_lists_product(records, make_part_number(37, 203952));
    for (uint32_t type = 0; type < 8; ++type) {
        if (const ImageRecord* record = find_image_record(records, type, 0))
            record_u32(*record, record_u32(*record, 0) % 64);
    }
    if (ok) {
        DeviceRecord device;
        if (const ImageRecord* identity = find_image_record(records, IMAGE_RECORD_IDENTITY, 20))
            device_runs_identity(device, *identity);
    }
    return 0;
}
