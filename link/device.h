// The device record: what a device said about itself, the link over which it
// is reached, and the decoders for its packed part numbers and versions.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "link/serial.h"

enum LinkState : int32_t {
    LINK_INIT = 0,
    LINK_NMEA183 = 1,
    LINK_IDENTIFIED = 2,
    LINK_CONNECTED = 3,
    LINK_ACCESS_DENIED = 4,
    LINK_NOT_AVAILABLE = 5,
    LINK_NO_DATA = 6,
    LINK_COMM_ERROR = 7,
};

struct SerialLink {
    std::string port_name;
    uint32_t baud_rate = 0; // 0: try 4800, then 38400
    LinkState state = LINK_INIT;
    uint32_t list_number = 0; // number in the device table, 0 when not listed
    PortHandle port = INVALID_PORT;
};

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

struct DeviceRecord {
    const char* model_name = nullptr; // from the model table; nullptr until identified
    uint8_t identification[IDENTIFICATION_SIZE] = {};
    SerialLink link;
    int32_t protocol_version = 0; // 0 supported, -1 query failed, else the device's
};

// One software entry of the identification answer, decoded.
struct SoftwareEntry {
    uint32_t part_number = 0;
    uint16_t version = 0;
    uint16_t build_number = 0;
    uint32_t build_word = 0;
    char build_tag[5] = {}; // four characters of text, always NUL-terminated here
    uint32_t build_hash = 0;
};

// Identification fields. Bytes beyond the payload length the device sent read as 0.
uint16_t ident_min_version(const DeviceRecord& record);
uint32_t ident_part_number(const DeviceRecord& record);
uint32_t ident_serial(const DeviceRecord& record);
uint32_t ident_software_count(const DeviceRecord& record);
// index 0 is entry 1, the software running now.
SoftwareEntry ident_software(const DeviceRecord& record, uint32_t index);

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

// True when entry 1 is application software (prefix 73 or 71), false in rescue mode.
bool application_running(const DeviceRecord& record);
// Model name for a product part number, or "?".
const char* lookup_model(uint32_t part_number);
// Exact comparison of a model name (nullptr before identification) with a model.
inline bool model_is(const char* model_name, const char* model) {
    return model_name && std::strcmp(model_name, model) == 0;
}
inline bool model_is(const DeviceRecord& record, const char* model) {
    return model_is(record.model_name, model);
}
const char* release_type_name(uint32_t release_type);
const char* link_state_name(int32_t state);
