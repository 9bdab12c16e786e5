// Sentences as a device sends them, for tests: the body with its checksum and
// line end.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "link/nmea.h"

inline std::string with_checksum(const std::string& body) {
    std::string sentence(body.size() + 5, '\0');
    std::memcpy(sentence.data(), body.data(), body.size());
    uint32_t length = static_cast<uint32_t>(body.size());
    length += nmea_append_checksum(sentence.data(), length);
    length += nmea_append_crlf(sentence.data(), length);
    sentence.resize(length);
    return sentence;
}
