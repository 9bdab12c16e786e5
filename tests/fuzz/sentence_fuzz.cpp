// Feeds arbitrary bytes through the sentence recogniser the way the transport
// does, and takes every sentence it completes apart.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/nmea.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char sentence[NMEA_MAX_SENTENCE];
    NmeaParser parser;
    nmea_parser_init(&parser, sentence, sizeof sentence);
    while (size > 0) {
        const uint32_t chunk = size > 0xFFFF ? 0xFFFF : static_cast<uint32_t>(size);
        const uint32_t used = nmea_parser_feed(&parser, data, chunk);
        data += used;
        size -= used;
        if (nmea_parser_complete(&parser)) {
            nmea_verify_checksum(sentence, parser.count);
            char text[NMEA_MAX_SENTENCE + 1];
            std::memcpy(text, sentence, parser.count);
            text[parser.count] = '\0';
            char* fields[NMEA_MAX_SENTENCE];
            const int count = nmea_split_fields(text, fields, NMEA_MAX_SENTENCE);
            for (int i = 0; i < count; ++i)
                (void)std::strlen(fields[i]);
        }
        if (nmea_parser_complete(&parser) || nmea_parser_failed(&parser))
            nmea_parser_reset(&parser);
    }
    return 0;
}
