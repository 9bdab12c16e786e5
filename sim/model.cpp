#include "sim/model.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "link/identity.h"

namespace sim {
namespace {

// Satellite compass: everything, fast heading and attitude at 38400 baud.
// Base sentences at 100 ms; the one-second sentences fill the gaps between them.
const SentenceTable nc4100_sentences = {
    {1, "HE", "HDT", 100, 0},   {2, "HE", "THS", 100, 0},   {3, "HE", "ROT", 100, 0},
    {4, "--", "att", 100, 0},   {5, "--", "hev", 100, 0},   {6, "HE", "HDG", 0, 0},
    {7, "HE", "HDM", 0, 0},     {8, "YX", "XDR", 0, 0},     {9, "WI", "MDA", 1000, 0},
    {10, "GN", "GGA", 1000, 0}, {11, "GN", "RMC", 1000, 0}, {12, "GN", "VTG", 1000, 0},
    {13, "GN", "ZDA", 1000, 0}, {14, "--", "GSV", 1000, 0}, {15, "--", "GSA", 1000, 0},
    {16, "GN", "GLL", 0, 0},    {17, "GN", "DTM", 0, 0},
};

// Heading sensor at 4800 baud: offsets keep the slower sentences out of the
// way of the heading, so nothing waits for the line.
const SentenceTable nc350_sentences = {
    {1, "HE", "HDT", 200, 0}, {2, "HE", "THS", 0, 0}, {3, "HE", "ROT", 1000, 50},
    {4, "--", "att", 0, 0},   {5, "--", "hev", 0, 0}, {6, "HE", "HDG", 1000, 100},
    {7, "HE", "HDM", 0, 0},   {8, "YX", "XDR", 0, 0}, {9, "WI", "MDA", 2000, 1025},
};

// Satellite receiver: the one-second navigation sentences.
const SentenceTable nc210_sentences = {
    {1, "GN", "GGA", 1000, 0}, {2, "GN", "RMC", 1000, 0}, {3, "GN", "VTG", 1000, 0},
    {4, "GN", "ZDA", 1000, 0}, {5, "--", "GSV", 1000, 0}, {6, "--", "GSA", 1000, 0},
    {7, "GN", "GLL", 0, 0},    {8, "GN", "DTM", 0, 0},
};

constexpr uint32_t GNSS_DEFAULT_MASK = 0x63; // GPS, SBAS, QZSS, GLONASS

const ModelProfile profiles[] = {
    {"NC-210", make_part_number(37, 204118), FEATURE_GNSS | FEATURE_N2K, 38400,
     make_part_number(73, 204120), make_part_number(70, 204121), GNSS_DEFAULT_MASK,
     nc210_sentences},
    {"NC-350", make_part_number(37, 204106),
     FEATURE_HEADING | FEATURE_N2K | FEATURE_VARIATION | FEATURE_METEO, 4800,
     make_part_number(73, 204107), make_part_number(70, 204108), 0, nc350_sentences},
    {"NC-4100", make_part_number(37, 203952),
     FEATURE_HEADING | FEATURE_GNSS | FEATURE_METEO | FEATURE_STATIC_LEVELLING, 38400,
     make_part_number(73, 203953), make_part_number(70, 203954), GNSS_DEFAULT_MASK,
     nc4100_sentences},
};

void put_le(uint8_t* at, uint32_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void put_software_entry(uint8_t* at, const SoftwareInfo& software) {
    put_le(at, software.part_number, 4);
    put_le(at + 4, software.version, 2);
    put_le(at + 6, software.build_number, 2);
    put_le(at + 8, software.build_word, 4);
    std::memcpy(at + 12, software.build_tag.data(), std::min<size_t>(4, software.build_tag.size()));
    put_le(at + 16, software.build_hash, 4);
}

bool parse_unsigned(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text.size() > 10)
        return false;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0' || text[0] < '0' || text[0] > '9' || parsed > max)
        return false;
    *value = parsed;
    return true;
}

} // namespace

const ModelProfile* find_profile_by_name(const std::string& name) {
    for (const ModelProfile& profile : profiles) {
        if (name == profile.name)
            return &profile;
    }
    return nullptr;
}

ModelProfile profile_for_part_number(uint32_t part_number) {
    for (const ModelProfile& profile : profiles) {
        if (profile.part_number == part_number)
            return profile;
    }
    ModelProfile unknown = profiles[2];
    unknown.name = "?";
    unknown.part_number = part_number;
    unknown.features |= FEATURE_N2K | FEATURE_VARIATION;
    return unknown;
}

bool parse_part_number(const std::string& text, uint32_t* part_number) {
    const size_t dash = text.find('-');
    if (dash != 2 || text.size() != 9)
        return false;
    unsigned long prefix = 0;
    unsigned long number = 0;
    if (!parse_unsigned(text.substr(0, 2), 255, &prefix) ||
        !parse_unsigned(text.substr(3), 999999, &number))
        return false;
    *part_number = make_part_number(static_cast<uint32_t>(prefix), static_cast<uint32_t>(number));
    return true;
}

bool parse_version(const std::string& text, uint16_t* version) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos || text.size() - dot != 3)
        return false;
    unsigned long major = 0;
    unsigned long minor = 0;
    if (!parse_unsigned(text.substr(0, dot), 127, &major) ||
        !parse_unsigned(text.substr(dot + 1), 99, &minor))
        return false;
    *version = make_version(static_cast<uint32_t>(major), static_cast<uint32_t>(minor), 0);
    return true;
}

bool parse_release_type(const std::string& text, uint32_t* release) {
    static const char* const names[] = {"release", "developer", "engineering"};
    for (uint32_t i = 0; i < 3; ++i) {
        if (equals_ignore_case(text.c_str(), names[i]) || text == std::to_string(i)) {
            *release = i;
            return true;
        }
    }
    return false;
}

SoftwareIdentity to_identity(const SoftwareInfo& software) {
    SoftwareIdentity identity;
    identity.part_number = software.part_number;
    identity.version_word = software.version | static_cast<uint32_t>(software.build_number) << 16;
    identity.build_word = software.build_word;
    identity.build_tag = pack_tag(software.build_tag.c_str());
    identity.build_hash = software.build_hash;
    return identity;
}

SoftwareInfo from_identity(const SoftwareIdentity& identity) {
    SoftwareInfo software;
    software.part_number = identity.part_number;
    software.version = static_cast<uint16_t>(identity.version_word & 0xFFFF);
    software.build_number = static_cast<uint16_t>(identity.version_word >> 16);
    software.build_word = identity.build_word;
    software.build_tag = unpack_tag(identity.build_tag);
    software.build_hash = identity.build_hash;
    return software;
}

std::array<uint8_t, IDENTIFICATION_PAYLOAD_SIZE>
build_identification(const DeviceIdentity& identity, const RunningSoftware& running) {
    std::array<uint8_t, IDENTIFICATION_PAYLOAD_SIZE> payload{};
    put_le(&payload[IDENT_MIN_VERSION], identity.min_version, 2);
    put_le(&payload[IDENT_PART_NUMBER], identity.product_part, 4);
    put_le(&payload[IDENT_SERIAL], identity.serial, 4);
    std::vector<const SoftwareInfo*> entries;
    if (running.bootloader_running) {
        entries.push_back(&identity.bootloader);
        if (running.application_valid)
            entries.push_back(&identity.application);
    } else {
        entries.push_back(&identity.application);
        entries.push_back(&identity.bootloader);
    }
    payload[IDENT_SOFTWARE_COUNT] = static_cast<uint8_t>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        put_software_entry(&payload[IDENT_SOFTWARE_1 + i * IDENT_SOFTWARE_ENTRY_SIZE], *entries[i]);
    return payload;
}

bool is_extended_version(uint16_t version) {
    return version_major(version) != 0 && version_minor(version) >= 2;
}

std::string format_part_number(uint32_t part_number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u-%06u", part_prefix(part_number),
                  part_number_low(part_number));
    return text;
}

std::string format_version(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", version_major(version), version_minor(version));
    return text;
}

const char* release_name(uint32_t release) {
    return release_type_name(release);
}

} // namespace sim
