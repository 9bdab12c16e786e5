#include <gtest/gtest.h>

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
    const uint32_t consumed =
        nmea_parser_feed(&parser, reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<uint32_t>(bytes.size()));
    return {nmea_parser_complete(&parser), nmea_parser_failed(&parser), consumed,
            std::string(buffer, parser.count)};
}

std::string sentence_of_length(size_t total) { // total includes CR LF and checksum
    return with_checksum("$GPXXX," + std::string(total - 12, 'A'));
}

} // namespace

// Each row: whether the recogniser takes the bytes as one whole sentence, and
// if so whether its checksum holds (no checksum at all holds). Checksums are
// as real receivers write them: "$HEHDT,123.4,T" carries 2B, and only
// upper-case digits count.
TEST(NmeaRecogniser, HostileStreamsAndTheirChecksums) {
    const struct {
        const char* legend;
        std::string bytes;
        bool complete;
        int checksum_valid;
    } cases[] = {
        {"talker sentence with upper-case checksum", "$HEHDT,123.4,T*2B\r\n", true, 1},
        {"built by us agrees", with_checksum("$HEHDT,123.4,T"), true, 1},
        {"one bit off", "$HEHDT,123.4,T*2A\r\n", true, 0},
        {"lower-case digits of the right value", "$HEHDT,123.4,T*2b\r\n", true, 0},
        {"encapsulation sentence", "!AIVDM,1*00\r\n", true, 0},
        {"no checksum", "$GPGGA,1,2\r\n", true, 1},
        {"shortest proprietary without checksum", "$PNCX\r\n", true, 1},
        {"five bytes not proprietary", "$GPGG\r\n", false, 0},
        {"four bytes and CR", "$PNC\r\n", false, 0},
        {"LF without CR", "$GPGGA,1\n", false, 0},
        {"leading garbage", "x$GPGGA,1\r\n", false, 0},
        {"TAB inside", "$GPGGA,\t1\r\n", false, 0},
        {"byte above 0x7F inside", "$GPGGA,\xb0\r\n", false, 0},
        {"DEL is accepted", "$GPGGA,\x7f\r\n", true, 1},
        {"one checksum digit", "$GPGGA,1*4\r\n", false, 0},
        {"non-hex checksum digit", "$GPGGA,1*4G\r\n", false, 0},
        {"text after checksum", "$GPGGA,1*4A0\r\n", false, 0},
        {"second $ is an ordinary body byte", "$GPGGA,$1\r\n", true, 1},
        {"82 bytes", sentence_of_length(82), true, 1},
        {"83 bytes", sentence_of_length(83), false, 0},
    };
    for (const auto& c : cases) {
        const ParseResult result = parse(c.bytes);
        EXPECT_EQ(result.complete, c.complete) << c.legend;
        EXPECT_EQ(result.failed, !c.complete) << c.legend;
        if (c.complete) {
            EXPECT_EQ(result.stored, c.bytes) << c.legend;
            EXPECT_EQ(nmea_verify_checksum(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())),
                      c.checksum_valid)
                << c.legend;
        }
    }
}

// Every data line of the real captures, as a receiver sent it: the number of
// sentences our recogniser and checksum accept equals the count of well-formed
// sentences listed with the captures, less the 22 of the Magellan receiver
// whose checksum digits are lower case, which the devices' protocol refuses.
TEST(NmeaChecksum, AcceptsExactlyTheWellFormedSentencesOfRealCaptures) {
    const std::map<std::string, int> well_formed = {
        {"beidou-bd.log", 78}, {"bundg_zeus_9.log", 4999},     {"hemi.log", 753},
        {"hp58534a.log", 13},  {"magellan-ec10.log", 76 - 22}, {"pypilot.log", 29},
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
            accepted +=
                parsed.complete && parsed.stored == sentence &&
                nmea_verify_checksum(sentence.data(), static_cast<uint32_t>(sentence.size()));
        }
        EXPECT_EQ(accepted, expected) << name;
    }
}

// The limit of one shell sentence: an escape is never split, and a body of
// reserved characters only fills a sentence ("$PNCX,SH," and 68 characters
// before the '*') with nineteen escapes. Each row: the text, where it goes
// and the limit; what is written and how much of the text is left.
TEST(NmeaEscape, ReservedCharactersAndLimitBoundary) {
    std::string nineteen_escapes;
    for (int i = 0; i < 19; ++i)
        nineteen_escapes += "^24";
    const struct {
        std::string text;
        uint32_t start, limit;
        std::string written;
        uint32_t left;
    } rows[] = {
        {"a,b\r", 0, 80, "a^2Cb^0D", 0},
        {"ab^", 10, 14, "ab", 1}, // room for two more only
        {"^", 12, 15, "^5E", 0},
        {std::string(30, '$'), 9, 68, nineteen_escapes, 11},
    };
    for (const auto& row : rows) {
        char buffer[NMEA_MAX_SENTENCE] = {};
        const auto* src = reinterpret_cast<const uint8_t*>(row.text.data());
        uint32_t remaining = static_cast<uint32_t>(row.text.size());
        const uint32_t written = nmea_escape(buffer, row.start, row.limit, &src, &remaining);
        EXPECT_EQ(std::string(buffer + row.start, written), row.written) << row.text;
        EXPECT_EQ(remaining, row.left) << row.text;
    }
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
        const uint32_t written =
            nmea_unescape(out, row.room, &src, static_cast<uint32_t>(row.text.size()), &error);
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

// Frames in sentences, encoded in pieces and decoded: the upload end to end
// (Upload.ImageAndDataBlockReachTheDeviceAndItRunsThem). Here the digits
// that must be refused.
TEST(Hex, DecodeTakesEitherCaseAndRefusesOtherDigits) {
    for (const std::string digits : {"01abFF", "0x", "g0", "1:"}) {
        uint8_t decoded[3] = {};
        const char* in = digits.c_str();
        uint32_t remaining = static_cast<uint32_t>(digits.size()), space = sizeof decoded;
        uint8_t* out = decoded;
        const int result = hex_decode(&in, &remaining, &out, &space);
        EXPECT_EQ(result, digits == "01abFF" ? 0 : 1) << digits;
        if (result == 0) {
            EXPECT_EQ(std::vector<uint8_t>(decoded, out), (std::vector<uint8_t>{0x01, 0xAB, 0xFF}));
        }
    }
}
