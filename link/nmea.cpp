#include "link/nmea.h"

#include <cstring>

const char NMEA_RESERVED[NMEA_RESERVED_COUNT] = {'\r', '\n', '$', '*', ',', '!', '\\', '^', '~', 0x7F};

namespace {

bool is_reserved(uint8_t byte) {
    return std::memchr(NMEA_RESERVED, byte, NMEA_RESERVED_COUNT) != nullptr;
}

bool is_accepted(uint8_t byte) {
    return (byte >= 0x20 && byte <= 0x7F) || byte == '\r' || byte == '\n';
}

bool is_hex(uint8_t byte) { return hex_value(byte, nullptr) >= 0; }

void store(NmeaParser* p, uint8_t byte, int32_t next_state) {
    p->buffer[p->count++] = static_cast<char>(byte);
    p->state = next_state;
}

// A CR ends a sentence without checksum only when at least five bytes are stored,
// and exactly five only for a proprietary sentence ("$P" + three-letter maker).
bool body_may_end(const NmeaParser* p) {
    return p->count > 5 || (p->count == 5 && p->buffer[1] == 'P');
}

void step(NmeaParser* p, uint8_t byte) {
    if (!is_accepted(byte) || p->count >= p->capacity) {
        p->state = NMEA_STATE_FAILED;
        return;
    }
    switch (p->state) {
    case 0:
        if (byte == '$' || byte == '!')
            store(p, byte, 1);
        else
            p->state = NMEA_STATE_FAILED;
        break;
    case 1:
        if (byte == '*')
            store(p, byte, 2);
        else if (byte == '\r')
            body_may_end(p) ? store(p, byte, 5) : void(p->state = NMEA_STATE_FAILED);
        else if (byte == '\n')
            p->state = NMEA_STATE_FAILED;
        else
            store(p, byte, 1);
        break;
    case 2:
    case 3:
        is_hex(byte) ? store(p, byte, p->state + 1) : void(p->state = NMEA_STATE_FAILED);
        break;
    case 4:
        byte == '\r' ? store(p, byte, 5) : void(p->state = NMEA_STATE_FAILED);
        break;
    case 5:
        byte == '\n' ? store(p, byte, NMEA_STATE_COMPLETE) : void(p->state = NMEA_STATE_FAILED);
        break;
    default:
        p->state = NMEA_STATE_FAILED;
        break;
    }
}

uint8_t xor_of(const char* bytes, uint32_t from, uint32_t to) {
    uint8_t sum = 0;
    for (uint32_t i = from; i < to; ++i)
        sum ^= static_cast<uint8_t>(bytes[i]);
    return sum;
}

} // namespace

char hex_digit(unsigned value, int upper) {
    return (upper ? "0123456789ABCDEF" : "0123456789abcdef")[value & 15];
}

int hex_value(int ch, int* error_flag) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (error_flag)
        *error_flag = 1;
    return -1;
}

void hex_encode(char** out, uint32_t* out_space, const uint8_t** in, uint32_t* in_remaining,
                int upper) {
    while (*in_remaining > 0 && *out_space >= 2) {
        const uint8_t byte = **in;
        (*out)[0] = hex_digit(byte >> 4, upper);
        (*out)[1] = hex_digit(byte, upper);
        *out += 2;
        *out_space -= 2;
        ++*in;
        --*in_remaining;
    }
}

int hex_decode(const char** in, uint32_t* in_remaining, uint8_t** out, uint32_t* out_space) {
    while (*in_remaining >= 2 && *out_space > 0) {
        int error = 0;
        const int high = hex_value(static_cast<uint8_t>((*in)[0]), &error);
        const int low = hex_value(static_cast<uint8_t>((*in)[1]), &error);
        if (error)
            return 1;
        **out = static_cast<uint8_t>((high << 4) | low);
        ++*out;
        --*out_space;
        *in += 2;
        *in_remaining -= 2;
    }
    return 0;
}

uint32_t nmea_begin_pncx(char* buffer, const char* tail) {
    static const char head[] = "$PNCX,";
    const uint32_t head_length = sizeof head - 1;
    // Keep room for at least one data byte, the checksum and CR LF.
    const uint32_t max_tail = NMEA_MAX_SENTENCE - head_length - 6;
    uint32_t tail_length = static_cast<uint32_t>(std::strlen(tail));
    if (tail_length > max_tail)
        tail_length = max_tail;
    std::memcpy(buffer, head, head_length);
    std::memcpy(buffer + head_length, tail, tail_length);
    return head_length + tail_length;
}

uint32_t nmea_escape(char* buffer, uint32_t start, uint32_t limit, const uint8_t** src,
                     uint32_t* src_remaining) {
    uint32_t written = 0;
    while (*src_remaining > 0) {
        const uint8_t byte = **src;
        const uint32_t at = start + written;
        if (is_reserved(byte)) {
            if (at + 3 > limit)
                break;
            buffer[at] = '^';
            buffer[at + 1] = hex_digit(byte >> 4, 1);
            buffer[at + 2] = hex_digit(byte, 1);
            written += 3;
        } else {
            if (at >= limit)
                break;
            buffer[at] = static_cast<char>(byte);
            written += 1;
        }
        ++*src;
        --*src_remaining;
    }
    return written;
}

uint32_t nmea_append_checksum(char* buffer, uint32_t length) {
    const uint8_t sum = length > 1 ? xor_of(buffer, 1, length) : 0;
    buffer[length] = '*';
    buffer[length + 1] = hex_digit(sum >> 4, 1);
    buffer[length + 2] = hex_digit(sum, 1);
    return 3;
}

uint32_t nmea_append_crlf(char* buffer, uint32_t length) {
    buffer[length] = '\r';
    buffer[length + 1] = '\n';
    return 2;
}

uint32_t nmea_shell_sentence(char* buffer, uint32_t limit, const uint8_t** src,
                             uint32_t* remaining) {
    uint32_t length = nmea_begin_pncx(buffer, "SH,");
    length += nmea_escape(buffer, length, limit, src, remaining);
    length += nmea_append_checksum(buffer, length);
    return length + nmea_append_crlf(buffer, length);
}

void nmea_parser_init(NmeaParser* parser, char* buffer, uint32_t capacity) {
    parser->buffer = buffer;
    parser->capacity = capacity;
    nmea_parser_reset(parser);
}

void nmea_parser_reset(NmeaParser* parser) {
    parser->count = 0;
    parser->state = 0;
}

uint32_t nmea_parser_feed(NmeaParser* parser, const uint8_t* bytes, uint32_t n) {
    uint32_t consumed = 0;
    while (consumed < n && parser->state != NMEA_STATE_COMPLETE &&
           parser->state != NMEA_STATE_FAILED) {
        step(parser, bytes[consumed]);
        ++consumed;
    }
    return consumed;
}

bool nmea_parser_complete(const NmeaParser* parser) {
    return parser->state == NMEA_STATE_COMPLETE;
}

bool nmea_parser_failed(const NmeaParser* parser) { return parser->state == NMEA_STATE_FAILED; }

int nmea_verify_checksum(const char* sentence, uint32_t length) {
    const void* star = length > 1 ? std::memchr(sentence + 1, '*', length - 1) : nullptr;
    if (!star)
        return 1;
    const uint32_t at = static_cast<uint32_t>(static_cast<const char*>(star) - sentence);
    if (length - at != 5)
        return 0;
    const uint8_t sum = xor_of(sentence, 1, at);
    return sentence[at + 1] == hex_digit(sum >> 4, 1) && sentence[at + 2] == hex_digit(sum, 1);
}

int nmea_next_field(const char** ptr, uint32_t* remaining, char* dst, uint32_t dst_capacity) {
    const void* comma = std::memchr(*ptr, ',', *remaining);
    const uint32_t length =
        comma ? static_cast<uint32_t>(static_cast<const char*>(comma) - *ptr) : *remaining;
    if (length + 1 > dst_capacity)
        return 1;
    std::memcpy(dst, *ptr, length);
    dst[length] = '\0';
    const uint32_t skip = comma ? length + 1 : length;
    *ptr += skip;
    *remaining -= skip;
    return 0;
}

uint32_t nmea_unescape(uint8_t* dst, uint32_t dst_capacity, const char** src,
                       uint32_t src_length, uint32_t* error_pos) {
    *error_pos = 0;
    const char* in = *src;
    uint32_t pos = 0;
    uint32_t written = 0;
    while (pos < src_length && written < dst_capacity) {
        if (in[pos] != '^') {
            dst[written++] = static_cast<uint8_t>(in[pos++]);
            continue;
        }
        if (src_length - pos < 3) {
            *error_pos = src_length;
            break;
        }
        int error = 0;
        const int high = hex_value(static_cast<uint8_t>(in[pos + 1]), &error);
        const int low = hex_value(static_cast<uint8_t>(in[pos + 2]), &error);
        pos += 3;
        if (error) {
            *error_pos = pos;
            break;
        }
        dst[written++] = static_cast<uint8_t>((high << 4) | low);
    }
    *src = in + pos;
    return written;
}

int nmea_split_fields(char* text, char** fields, int max_fields) {
    int stored = 0;
    char* field_start = text;
    for (char* p = text; *p != '\0' && stored < max_fields; ++p) {
        if (*p == ',' || *p == '*') {
            *p = '\0';
            fields[stored++] = field_start;
            field_start = p + 1;
        }
    }
    return stored;
}
