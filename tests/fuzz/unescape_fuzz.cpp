// Unescapes arbitrary text into buffers of every small size; the first byte picks
// the capacity so the fuzzer explores the output bound too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/nmea.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint32_t capacity = data[0] % 100;
    std::vector<uint8_t> out(capacity);
    const char* src = reinterpret_cast<const char*>(data + 1);
    const uint32_t length = static_cast<uint32_t>(size - 1);
    uint32_t error_pos = 0;
    const uint32_t written = nmea_unescape(out.data(), capacity, &src, length, &error_pos);
    if (written > capacity || error_pos > length)
        __builtin_trap();
    return 0;
}
