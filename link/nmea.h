// NMEA 0183 sentences: hex coding, building PNCX sentences with escapes and
// checksum, the byte-stream recogniser, checksum test and field cutting.
// Pure: works on caller buffers, allocates nothing, prints nothing.
#pragma once
#include <cstdint>

constexpr uint32_t NMEA_MAX_SENTENCE = 82; // start character to LF inclusive
constexpr uint32_t NMEA_RESERVED_COUNT = 10;
// CR, LF, '$', '*', ',', '!', '\', '^', '~', DEL: sent as '^' + two hex digits.
extern const char NMEA_RESERVED[NMEA_RESERVED_COUNT];

// Digit of value & 15, lower or upper case.
char hex_digit(unsigned value, int upper);
// 0..15 for a hex digit of either case; -1 otherwise, and *error_flag = 1 if given.
int hex_value(int ch, int* error_flag);
// Writes two digits per byte while bytes remain and two characters of space are
// left. All four arguments advance in place, so a buffer can be encoded in pieces.
void hex_encode(char** out, uint32_t* out_space, const uint8_t** in, uint32_t* in_remaining,
                int upper);
// Turns digit pairs into bytes while two digits remain and output space is left.
// Returns 0, or 1 at the first non-hex pair (the caller discards the output).
int hex_decode(const char** in, uint32_t* in_remaining, uint8_t** out, uint32_t* out_space);

// Writes "$PNCX," and tail (no NUL) and returns the length. buffer holds
// NMEA_MAX_SENTENCE bytes; a tail that would leave no room for data is cut.
uint32_t nmea_begin_pncx(char* buffer, const char* tail);
// Copies source bytes to buffer[start...], escaping reserved characters. A plain
// byte needs start + written < limit, an escape start + written + 3 <= limit; the
// first byte that does not fit stays unconsumed. Returns characters written.
uint32_t nmea_escape(char* buffer, uint32_t start, uint32_t limit, const uint8_t** src,
                     uint32_t* src_remaining);
// Writes '*' and the XOR of bytes 1..length-1 as two upper-case digits. Returns 3.
uint32_t nmea_append_checksum(char* buffer, uint32_t length);
// Writes CR LF at buffer[length]. Returns 2.
uint32_t nmea_append_crlf(char* buffer, uint32_t length);
// Builds one whole "$PNCX,SH," sentence (checksum and CR LF included) from the
// next bytes of a shell text, escaped up to the index limit; src and remaining
// advance past what it took. Returns the sentence's length.
uint32_t nmea_shell_sentence(char* buffer, uint32_t limit, const uint8_t** src,
                             uint32_t* remaining);

// Recognises one sentence at a time in a byte stream.
// States: 0 start, 1 body, 2-3 checksum digits, 4 CR, 5 LF, 6 complete, 7 failed.
struct NmeaParser {
    char* buffer;
    uint32_t capacity;
    uint32_t count;
    int32_t state;
};
constexpr int32_t NMEA_STATE_COMPLETE = 6;
constexpr int32_t NMEA_STATE_FAILED = 7;

void nmea_parser_init(NmeaParser* parser, char* buffer, uint32_t capacity);
void nmea_parser_reset(NmeaParser* parser);
// Consumes bytes up to and including the one that completes or fails the
// sentence; returns the number consumed (0 once complete or failed).
uint32_t nmea_parser_feed(NmeaParser* parser, const uint8_t* bytes, uint32_t n);
bool nmea_parser_complete(const NmeaParser* parser);
bool nmea_parser_failed(const NmeaParser* parser);

// 1 when the sentence has no '*' or a '*' with exactly two upper-case digits of
// the right XOR followed by CR LF; 0 otherwise.
int nmea_verify_checksum(const char* sentence, uint32_t length);

// Copies the bytes up to the next ',' (or the end) into dst with a NUL and
// advances past the comma. Returns 1, copying nothing, when it does not fit.
int nmea_next_field(const char** ptr, uint32_t* remaining, char* dst, uint32_t dst_capacity);

// Copies src_length bytes into dst, turning '^' + two hex digits into one byte,
// until the input or dst_capacity is used up. *error_pos is 0, or the index just
// past a short or non-hex escape, where decoding stopped. Returns bytes written.
uint32_t nmea_unescape(uint8_t* dst, uint32_t dst_capacity, const char** src,
                       uint32_t src_length, uint32_t* error_pos);

// Splits a NUL-terminated sentence in place at every ',' and '*'; stores the
// start of each field ended by one of them (the address keeps its '$').
// Returns the number of fields stored, at most max_fields.
int nmea_split_fields(char* text, char** fields, int max_fields);
