// What a simulated device is: its model profile (features, factory sentence
// table, default line speed), its identity (part and serial numbers, software
// entries) and the identification answer built from them.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "upload/image_builder.h"

namespace sim {

enum Feature : uint32_t {
    FEATURE_HEADING = 1u << 0,   // compass: heading, attitude, deviation, mounting offsets
    FEATURE_GNSS = 1u << 1,      // satellite receiver
    FEATURE_N2K = 1u << 2,       // NMEA 2000 bus with switchable termination
    FEATURE_VARIATION = 1u << 3, // magnetic variation source
    FEATURE_METEO = 1u << 4,     // air temperature and pressure
    // Firmware before the newer options levels by adjusting the static offsets.
    FEATURE_STATIC_LEVELLING = 1u << 5,
};

// One row of the output sentence table. A '-' in the talker means fixed.
struct SentenceSetting {
    uint32_t id = 0;
    std::string talker;
    std::string formatter;
    uint32_t interval_ms = 0;
    uint32_t offset_ms = 0;
};
using SentenceTable = std::vector<SentenceSetting>;

struct ModelProfile {
    const char* name;     // "NC-4100"; "?" for an unknown part number
    uint32_t part_number; // product part number, packed
    uint32_t features;
    uint32_t default_baud;
    uint32_t app_part; // software part numbers, packed
    uint32_t boot_part;
    uint32_t default_gnss_mask;
    SentenceTable sentences;
};

// The profile of a model name ("NC-350"), or nullptr.
const ModelProfile* find_profile_by_name(const std::string& name);
// The profile for a product part number; unknown ones get a full-featured
// profile named "?" with that part number.
ModelProfile profile_for_part_number(uint32_t part_number);

// Parses "PP-NNNNNN" into a packed part number. false when malformed.
bool parse_part_number(const std::string& text, uint32_t* part_number);
// Parses "X.YY" into a packed version (release bits 0). false when malformed.
bool parse_version(const std::string& text, uint16_t* version);
// "release", "developer", "engineering" (or 0, 1, 2) to the release type.
bool parse_release_type(const std::string& text, uint32_t* release);

struct SoftwareInfo {
    uint32_t part_number = 0;
    uint16_t version = 0; // packed, release type in bits 14-15
    uint16_t build_number = 0;
    uint32_t build_word = 0;
    std::string build_tag; // up to four characters
    uint32_t build_hash = 0;
};

SoftwareIdentity to_identity(const SoftwareInfo& software);
SoftwareInfo from_identity(const SoftwareIdentity& identity);

struct DeviceIdentity {
    uint32_t product_part = 0;
    uint32_t serial = 0;
    uint16_t min_version = 0;
    SoftwareInfo application;
    SoftwareInfo bootloader;
};

// Software entries as the device reports them: entry 1 is what runs now.
struct RunningSoftware {
    bool bootloader_running = false;
    bool application_valid = true; // false in rescue mode without an application
};

constexpr uint32_t IDENTIFICATION_PAYLOAD_SIZE = 68;
std::array<uint8_t, IDENTIFICATION_PAYLOAD_SIZE>
build_identification(const DeviceIdentity& identity, const RunningSoftware& running);

// Major not 0 and minor at least 2: firmware with the newer options.
bool is_extended_version(uint16_t version);

std::string format_part_number(uint32_t part_number); // "37-204106"
std::string format_version(uint16_t version);         // "1.05"
const char* release_name(uint32_t release);

} // namespace sim
