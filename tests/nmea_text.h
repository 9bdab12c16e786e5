// Sentences as a device sends them, for tests: the body with its checksum and
// line end, and shell text in as many shell sentences as it needs.
#pragma once
#include <cstdint>
#include <string>

#include "link/nmea.h"

inline std::string with_checksum(const std::string& body) {
    std::string sentence = body + "*00\r\n";
    nmea_append_checksum(sentence.data(), static_cast<uint32_t>(body.size()));
    return sentence;
}

inline std::string shell_sentences(const std::string& text) {
    std::string sentences;
    const auto* src = reinterpret_cast<const uint8_t*>(text.data());
    for (uint32_t remaining = static_cast<uint32_t>(text.size()); remaining > 0;) {
        char buffer[NMEA_MAX_SENTENCE];
        sentences.append(buffer, nmea_shell_sentence(buffer, 77, &src, &remaining));
    }
    return sentences;
}
