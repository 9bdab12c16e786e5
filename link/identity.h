// What a device says about itself: the layout of the identification answer, the
// packed part numbers and software versions in it, and the model and release
// names. Pure wire format, shared with the simulator.
#pragma once
#include <cstdint>
#include <cstring>

// Header and payload of the identification answer (type 0x11).
constexpr uint32_t IDENTIFICATION_SIZE = 4 + 68;

// Payload offsets of the identification answer.
constexpr uint32_t IDENT_MIN_VERSION = 2;
constexpr uint32_t IDENT_PART_NUMBER = 4;
constexpr uint32_t IDENT_SERIAL = 8;
constexpr uint32_t IDENT_SOFTWARE_COUNT = 19;
constexpr uint32_t IDENT_SOFTWARE_1 = 20;
constexpr uint32_t IDENT_SOFTWARE_ENTRY_SIZE = 24;

// Prefixes of software part numbers.
constexpr uint32_t PREFIX_APPLICATION = 73;
constexpr uint32_t PREFIX_APPLICATION_ALT = 71;
constexpr uint32_t PREFIX_BOOTLOADER = 70;

inline uint32_t part_prefix(uint32_t part_number) { return part_number >> 24; }
inline uint32_t part_number_low(uint32_t part_number) { return part_number & 0xFFFFFF; }
inline uint32_t make_part_number(uint32_t prefix, uint32_t low) {
    return (prefix << 24) | (low & 0xFFFFFF);
}
inline uint32_t version_major(uint32_t version) { return (version >> 7) & 127; }
inline uint32_t version_minor(uint32_t version) { return version & 127; }
inline uint32_t version_release(uint32_t version) { return (version >> 14) & 3; }
inline uint16_t make_version(uint32_t major, uint32_t minor, uint32_t release) {
    return static_cast<uint16_t>(((release & 3) << 14) | ((major & 127) << 7) | (minor & 127));
}

// Model name for a product part number, or "?".
const char* lookup_model(uint32_t part_number);
// Exact comparison of a model name (nullptr before identification) with a model.
inline bool model_is(const char* model_name, const char* model) {
    return model_name && std::strcmp(model_name, model) == 0;
}
// "Release", "Developer", "Engineering", or "Error" for any other value.
const char* release_type_name(uint32_t release_type);
