#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "link/nmea.h"
#include "tests/nmea_text.h"

namespace {

struct ParseResult {
    bool complete;
    bool failed;
    uint32_t consumed;
    std::string stored;
};

ParseResult parse(const std::string& bytes) {
    char buffer[NMEA_MAX_SENTENCE];
    NmeaParser parser;
    nmea_parser_init(&parser, buffer, sizeof buffer);
    const uint32_t consumed = nmea_parser_feed(
        &parser, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
    return {nmea_parser_complete(&parser), nmea_parser_failed(&parser), consumed,
            std::string(buffer, parser.count)};
}

std::string sentence_of_length(size_t total) { // total includes CR LF and checksum
    return with_checksum("$GPXXX," + std::string(total - 12, 'A'));
}

} // namespace

struct RecogniserCase {
    const char* legend;
    std::string bytes;
    bool complete;
};

TEST(NmeaRecogniser, HostileStreams) {
    const RecogniserCase cases[] = {
        {"talker sentence with upper-case checksum", "$HEHDT,123.4,T*2B\r\n", true},
        {"same with lower-case checksum digits", "$GPRMC,a*1e\r\n", true},
        {"encapsulation sentence", "!AIVDM,1*00\r\n", true},
        {"no checksum", "$GPGGA,1,2\r\n", true},
        {"shortest proprietary without checksum", "$PNCX\r\n", true},
        {"five bytes not proprietary", "$GPGG\r\n", false},
        {"four bytes and CR", "$PNC\r\n", false},
        {"LF without CR", "$GPGGA,1\n", false},
        {"leading garbage", "x$GPGGA,1\r\n", false},
        {"TAB inside", "$GPGGA,\t1\r\n", false},
        {"byte above 0x7F inside", "$GPGGA,\xb0\r\n", false},
        {"DEL is accepted", "$GPGGA,\x7f\r\n", true},
        {"one checksum digit", "$GPGGA,1*4\r\n", false},
        {"non-hex checksum digit", "$GPGGA,1*4G\r\n", false},
        {"text after checksum", "$GPGGA,1*4A0\r\n", false},
        {"second $ is an ordinary body byte", "$GPGGA,$1\r\n", true},
        {"82 bytes", sentence_of_length(82), true},
        {"83 bytes", sentence_of_length(83), false},
    };
    for (const RecogniserCase& c : cases) {
        const ParseResult result = parse(c.bytes);
        EXPECT_EQ(result.complete, c.complete) << c.legend;
        EXPECT_EQ(result.failed, !c.complete) << c.legend;
        if (c.complete) {
            EXPECT_EQ(result.stored, c.bytes) << c.legend;
        }
    }
}

TEST(NmeaRecogniser, StopsAfterCompleteSentenceAndNeedsReset) {
    const std::string two = "$GPGGA,1\r\n$GPRMC,2\r\n";
    char buffer[NMEA_MAX_SENTENCE];
    NmeaParser parser;
    nmea_parser_init(&parser, buffer, sizeof buffer);
    const auto* bytes = reinterpret_cast<const uint8_t*>(two.data());
    EXPECT_EQ(nmea_parser_feed(&parser, bytes, 20), 10u);
    EXPECT_EQ(nmea_parser_feed(&parser, bytes + 10, 10), 0u);
    nmea_parser_reset(&parser);
    EXPECT_EQ(nmea_parser_feed(&parser, bytes + 10, 10), 10u);
    EXPECT_EQ(std::string(buffer, parser.count), "$GPRMC,2\r\n");
}

// Checksums written by real receivers, not by our own builder: "$HEHDT,123.4,T"
// carries 2B, and only the upper-case digits at the right place count.
TEST(NmeaChecksum, VerifiesValueCaseAndPlacement) {
    const struct {
        const char* legend;
        std::string sentence;
        int valid;
    } cases[] = {
        {"right value", "$HEHDT,123.4,T*2B\r\n", 1},
        {"built by us agrees", with_checksum("$HEHDT,123.4,T"), 1},
        {"one bit off", "$HEHDT,123.4,T*2A\r\n", 0},
        {"lower-case digits of the right value", "$HEHDT,123.4,T*2b\r\n", 0},
        {"a digit more", "$HEHDT,123.4,T*2B0\r\n", 0},
        {"no checksum at all", "$PNCX\r\n", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nmea_verify_checksum(c.sentence.data(), static_cast<uint32_t>(c.sentence.size())),
                  c.valid)
            << c.legend;
}

// Every data line of the real captures, as a receiver sent it: the number of
// sentences our recogniser and checksum accept equals the count of well-formed
// sentences listed with the captures, less the 22 of the Magellan receiver
// whose checksum digits are lower case, which the devices' protocol refuses.
TEST(NmeaChecksum, AcceptsExactlyTheWellFormedSentencesOfRealCaptures) {
    const std::map<std::string, int> well_formed = {
        {"beidou-bd.log", 78}, {"bundg_zeus_9.log", 4999}, {"hemi.log", 753},
        {"hp58534a.log", 13},  {"magellan-ec10.log", 76 - 22},  {"pypilot.log", 29},
        {"rst39.log", 152},    {"saab-r4.log", 122},
    };
    for (const auto& [name, expected] : well_formed) {
        std::ifstream file(std::string(NC_CAPTURES) + "/" + name, std::ios::binary);
        if (!file)
            GTEST_SKIP() << "captures not found at " << NC_CAPTURES;
        int accepted = 0;
        bool header = true;
        for (std::string line; std::getline(file, line);) {
            if (header && line.rfind('#', 0) == 0)
                continue;
            header = false;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string sentence = line + "\r\n";
            const ParseResult parsed = parse(sentence);
            accepted += parsed.complete && parsed.stored == sentence &&
                        nmea_verify_checksum(sentence.data(), static_cast<uint32_t>(sentence.size()));
        }
        EXPECT_EQ(accepted, expected) << name;
    }
}

TEST(NmeaEscape, ReservedCharactersAndLimitBoundary) {
    char buffer[NMEA_MAX_SENTENCE] = {};
    const std::string text = "a,b\r";
    const auto* src = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t remaining = static_cast<uint32_t>(text.size());
    EXPECT_EQ(nmea_escape(buffer, 0, 80, &src, &remaining), 8u);
    EXPECT_EQ(std::string(buffer, 8), "a^2Cb^0D");
    EXPECT_EQ(remaining, 0u);

    // Room for two more characters only: the escape is not split.
    const std::string reserved = "ab^";
    src = reinterpret_cast<const uint8_t*>(reserved.data());
    remaining = 3;
    EXPECT_EQ(nmea_escape(buffer, 10, 14, &src, &remaining), 2u);
    EXPECT_EQ(remaining, 1u);
    EXPECT_EQ(*src, '^');
    EXPECT_EQ(nmea_escape(buffer, 12, 15, &src, &remaining), 3u);
    EXPECT_EQ(std::string(buffer + 12, 3), "^5E");
}

TEST(NmeaEscape, AllReservedFillsASentenceWithNineteenEscapes) {
    char buffer[NMEA_MAX_SENTENCE];
    const std::string text(30, '$');
    const auto* src = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t remaining = 30;
    const uint32_t start = nmea_begin_pncx(buffer, "SH,");
    EXPECT_EQ(start, 9u);
    EXPECT_EQ(nmea_escape(buffer, start, 68, &src, &remaining), 57u);
    EXPECT_EQ(remaining, 11u);
}

TEST(NmeaUnescape, DecodesEscapesAndReportsWhereTheyFail) {
    const struct {
        const char* legend;
        std::string text;
        uint32_t room;
        std::string decoded;
        uint32_t error; // position after the failed escape, 0 when none
    } rows[] = {
        {"two escapes, either case", "^4a^0D", 16, "\x4a\x0d", 0},
        {"escape cut short", "ab^4", 16, "ab", 4},
        {"lone caret", "^", 16, "", 1},
        {"bad hex digit", "x^G1y", 16, "x", 4},
        {"output full: the rest is silently not decoded", "abcdef", 3, "abc", 0},
    };
    for (const auto& row : rows) {
        uint8_t out[16];
        uint32_t error = 99;
        const char* src = row.text.c_str();
        const uint32_t written = nmea_unescape(out, row.room, &src, static_cast<uint32_t>(row.text.size()), &error);
        EXPECT_EQ(std::string(out, out + written), row.decoded) << row.legend;
        EXPECT_EQ(error, row.error) << row.legend;
    }
}

TEST(NmeaFields, SplitAtCommasUpToTheChecksum) {
    const struct {
        std::string text;
        int max;
        std::vector<std::string> fields;
    } rows[] = {
        {"$GPXXX,one,two*4F\r\n", 8, {"$GPXXX", "one", "two"}},
        {"$GPXXX,one,two\r\n", 8, {"$GPXXX", "one"}}, // the last field ends at the '*'
        {"$A,,,*00", 8, {"$A", "", "", ""}},
        {"$A,b,c,d*00", 2, {"$A", "b"}},
        {"", 8, {}},
        {"$A,b,c,d*00", 0, {}},
    };
    for (const auto& row : rows) {
        std::vector<char> text(row.text.begin(), row.text.end());
        text.push_back('\0');
        char* fields[8];
        const int count = nmea_split_fields(text.data(), fields, row.max);
        EXPECT_EQ(std::vector<std::string>(fields, fields + count), row.fields)
            << testing::PrintToString(row.text) << " max " << row.max;
    }
}

TEST(NmeaFields, NextFieldCopiesAdvancesAndRefusesTooLong) {
    const char* text = "ab,,cdef";
    const char* ptr = text;
    uint32_t remaining = 8;
    char field[4];
    EXPECT_EQ(nmea_next_field(&ptr, &remaining, field, sizeof field), 0);
    EXPECT_STREQ(field, "ab");
    EXPECT_EQ(nmea_next_field(&ptr, &remaining, field, sizeof field), 0);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(nmea_next_field(&ptr, &remaining, field, sizeof field), 1);
    EXPECT_EQ(remaining, 4u); // not advanced
    char wide[8];
    EXPECT_EQ(nmea_next_field(&ptr, &remaining, wide, sizeof wide), 0);
    EXPECT_STREQ(wide, "cdef");
    EXPECT_EQ(remaining, 0u);
}

TEST(Hex, EncodeDecodeInPiecesAndRejectBadDigits) {
    const uint8_t bytes[] = {0x01, 0xAB, 0xFF};
    char text[7] = {};
    char* out = text;
    uint32_t space = 3; // room for one byte only
    const uint8_t* in = bytes;
    uint32_t remaining = 3;
    hex_encode(&out, &space, &in, &remaining, 1);
    EXPECT_EQ(remaining, 2u);
    space = 4;
    hex_encode(&out, &space, &in, &remaining, 1);
    EXPECT_STREQ(text, "01ABFF");

    uint8_t decoded[3];
    const char* digits = "01abFF";
    uint32_t digit_count = 6;
    uint8_t* dst = decoded;
    uint32_t dst_space = 3;
    EXPECT_EQ(hex_decode(&digits, &digit_count, &dst, &dst_space), 0);
    EXPECT_EQ(decoded[1], 0xAB);
    digits = "0x";
    digit_count = 2;
    dst = decoded;
    dst_space = 3;
    EXPECT_EQ(hex_decode(&digits, &digit_count, &dst, &dst_space), 1);
    int error = 0;
    EXPECT_EQ(hex_value('g', &error), -1);
    EXPECT_EQ(error, 1);
}
