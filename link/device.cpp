#include "link/device.h"

#include "link/frame.h"

namespace {

const char* const link_state_names[] = {
    "Init",          "NMEA183",          "NMEA183 NC-NAV",     "Connected",
    "Access denied", "Not available",    "No data received",   "Communication error",
};

uint32_t payload_length(const DeviceRecord& record) {
    const uint32_t length = static_cast<uint32_t>(record.identification[2] |
                                                  (record.identification[3] << 8));
    return length < IDENTIFICATION_SIZE - FRAME_HEADER_SIZE ? length
                                                           : IDENTIFICATION_SIZE - FRAME_HEADER_SIZE;
}

// Little-endian field of the payload; bytes the device did not send read as 0.
uint32_t payload_field(const DeviceRecord& record, uint32_t offset, uint32_t size) {
    const uint32_t available = payload_length(record);
    const uint8_t* payload = record.identification + FRAME_HEADER_SIZE;
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i) {
        if (offset + i < available)
            value |= static_cast<uint32_t>(payload[offset + i]) << (8 * i);
    }
    return value;
}

} // namespace

uint16_t ident_min_version(const DeviceRecord& record) {
    return static_cast<uint16_t>(payload_field(record, IDENT_MIN_VERSION, 2));
}

uint32_t ident_part_number(const DeviceRecord& record) {
    return payload_field(record, IDENT_PART_NUMBER, 4);
}

uint32_t ident_serial(const DeviceRecord& record) { return payload_field(record, IDENT_SERIAL, 4); }

uint32_t ident_software_count(const DeviceRecord& record) {
    return payload_field(record, IDENT_SOFTWARE_COUNT, 1);
}

SoftwareEntry ident_software(const DeviceRecord& record, uint32_t index) {
    SoftwareEntry entry;
    if (index > 1)
        return entry;
    const uint32_t base = IDENT_SOFTWARE_1 + index * IDENT_SOFTWARE_ENTRY_SIZE;
    entry.part_number = payload_field(record, base, 4);
    entry.version = static_cast<uint16_t>(payload_field(record, base + 4, 2));
    entry.build_number = static_cast<uint16_t>(payload_field(record, base + 6, 2));
    entry.build_word = payload_field(record, base + 8, 4);
    const uint32_t tag = payload_field(record, base + 12, 4);
    for (int i = 0; i < 4; ++i)
        entry.build_tag[i] = static_cast<char>((tag >> (8 * i)) & 0xFF);
    entry.build_tag[4] = '\0';
    entry.build_hash = payload_field(record, base + 16, 4);
    return entry;
}

bool application_running(const DeviceRecord& record) {
    const uint32_t prefix = part_prefix(ident_software(record, 0).part_number);
    return prefix == PREFIX_APPLICATION || prefix == PREFIX_APPLICATION_ALT;
}

const char* link_state_name(int32_t state) {
    return state >= 0 && state < 8 ? link_state_names[state] : "Error";
}
