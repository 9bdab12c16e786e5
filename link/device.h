// The device record: what a device said about itself and the link over which it
// is reached, with the decoders of its identification answer.
#pragma once
#include <cstdint>
#include <string>

#include "link/identity.h"
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
    bool port_failed = false; // a read or write failed since the port was opened
};

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

// True when entry 1 is application software (prefix 73 or 71), false in rescue mode.
bool application_running(const DeviceRecord& record);
inline bool model_is(const DeviceRecord& record, const char* model) {
    return model_is(record.model_name, model);
}
const char* link_state_name(int32_t state);
