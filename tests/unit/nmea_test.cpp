#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "link/nmea.h"
#include "tests/nmea_text.h"

namespace {

// What the recogniser makes of the bytes: "refused", or "holds" or "fails" as
// the checksum of the one whole sentence they are (no checksum at all holds).
std::string verdict(const std::string& bytes) {
    char buffer[NMEA_MAX_SENTENCE];
    NmeaParser parser;
    nmea_parser_init(&parser, buffer, sizeof buffer);
    nmea_parser_feed(&parser, reinterpret_cast<const uint8_t*>(bytes.data()),
                     static_cast<uint32_t>(bytes.size()));
    if (nmea_parser_failed(&parser))
        return "refused";
    if (!nmea_parser_complete(&parser) || std::string(buffer, parser.count) != bytes)
        return "not one whole sentence";
    return nmea_verify_checksum(bytes.data(), static_cast<uint32_t>(bytes.size())) ? "holds"
                                                                                   : "fails";
}

using Words = std::vector<std::string>;

// What nmea_escape writes of the text from start up to limit, and how much of
// the text is left.
std::string escaped(const std::string& text, uint32_t start, uint32_t limit) {
    char buffer[NMEA_MAX_SENTENCE] = {};
    const auto* src = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t remaining = static_cast<uint32_t>(text.size());
    const uint32_t written = nmea_escape(buffer, start, limit, &src, &remaining);
    return std::string(buffer + start, written) + ", " + std::to_string(remaining) + " left";
}

// What nmea_unescape decodes into room bytes, and where it failed.
std::string unescaped(const std::string& text, uint32_t room = 16) {
    uint8_t out[16];
    uint32_t error = 99;
    const char* src = text.c_str();
    const uint32_t written =
        nmea_unescape(out, room, &src, static_cast<uint32_t>(text.size()), &error);
    return std::string(out, out + written) + (error ? ", error at " + std::to_string(error) : "");
}

Words fields(const std::string& sentence, int max = 8) {
    std::vector<char> text(sentence.begin(), sentence.end());
    text.push_back('\0');
    char* found[8];
    return Words(found, found + nmea_split_fields(text.data(), found, max));
}

std::string hex_decoded(const std::string& digits) {
    uint8_t decoded[8];
    uint8_t* out = decoded;
    const char* in = digits.c_str();
    uint32_t remaining = static_cast<uint32_t>(digits.size()), space = sizeof decoded;
    if (hex_decode(&in, &remaining, &out, &space) != 0)
        return "refused";
    return std::string(decoded, out);
}

} // namespace

// Checksums are as real receivers write them: "$HEHDT,123.4,T" carries 2B,
// and only upper-case digits count.
TEST(NmeaRecogniser, HostileStreamsAndRealCapturesAndTheirChecksums) {
    EXPECT_EQ(verdict("$HEHDT,123.4,T*2B\r\n"), "holds");
    EXPECT_EQ(verdict("$HEHDT,123.4,T*2A\r\n"), "fails"); // one bit off
    EXPECT_EQ(verdict("$HEHDT,123.4,T*2b\r\n"), "fails"); // lower-case digits of the right value
    EXPECT_EQ(verdict("!AIVDM,1*00\r\n"), "fails");       // an encapsulation sentence
    EXPECT_EQ(verdict("$GPGGA,1,2\r\n"), "holds");        // no checksum
    EXPECT_EQ(verdict("$PNCX\r\n"), "holds"); // the shortest, proprietary, without checksum
    EXPECT_EQ(verdict("$GPGG\r\n"), "refused"); // five bytes, not proprietary
    EXPECT_EQ(verdict("$PNC\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,1\n"), "refused");
    EXPECT_EQ(verdict("x$GPGGA,1\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,\t1\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,\xb0\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,\x7f\r\n"), "holds"); // DEL is accepted
    EXPECT_EQ(verdict("$GPGGA,1*4\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,1*4G\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,1*4A0\r\n"), "refused");
    EXPECT_EQ(verdict("$GPGGA,$1\r\n"), "holds"); // a second $ is an ordinary body byte
    EXPECT_EQ(verdict(with_checksum("$GPXXX," + std::string(70, 'A'))), "holds"); // 82 bytes
    EXPECT_EQ(verdict(with_checksum("$GPXXX," + std::string(71, 'A'))), "refused");

    // Every data line of the real captures, as a receiver sent it: the number
    // of sentences taken whose checksum holds equals the count of well-formed
    // sentences listed with the captures, less the 22 of the Magellan receiver
    // whose checksum digits are lower case, which the devices' protocol refuses.
    const std::map<std::string, int> well_formed = {
        {"beidou-bd.log", 78}, {"bundg_zeus_9.log", 4999},     {"hemi.log", 753},
        {"hp58534a.log", 13},  {"magellan-ec10.log", 76 - 22}, {"pypilot.log", 29},
        {"rst39.log", 152},    {"saab-r4.log", 122},
    };
    for (const auto& [name, expected] : well_formed) {
        std::ifstream file(std::string(NC_CAPTURES) + "/" + name, std::ios::binary);
        if (!file)
            GTEST_SKIP() << "captures not found at " << NC_CAPTURES;
        int accepted = 0; // of the lines, the comments at the top refused with the rest
        for (std::string line; std::getline(file, line);)
            accepted += verdict(line + (line.ends_with('\r') ? "\n" : "\r\n")) == "holds";
        EXPECT_EQ(accepted, expected) << name;
    }
}

// The limit of one shell sentence: an escape is never split, and a body of
// reserved characters only fills a sentence ("$PNCX,SH," and 68 characters
// before the '*') with nineteen escapes.
TEST(NmeaText, EscapesAtTheLimitUnescapesHexDigitsAndFields) {
    EXPECT_EQ(escaped("a,b\r", 0, 80), "a^2Cb^0D, 0 left");
    EXPECT_EQ(escaped("ab^", 10, 14), "ab, 1 left"); // room for two more only
    EXPECT_EQ(escaped("^", 12, 15), "^5E, 0 left");
    std::string nineteen_escapes;
    for (int i = 0; i < 19; ++i)
        nineteen_escapes += "^24";
    EXPECT_EQ(escaped(std::string(30, '$'), 9, 68), nineteen_escapes + ", 11 left");

    // Unescaping tells where an escape fails.
    EXPECT_EQ(unescaped("^4a^0D"), "\x4a\x0d"); // either case
    EXPECT_EQ(unescaped("ab^4"), "ab, error at 4");
    EXPECT_EQ(unescaped("^"), ", error at 1");
    EXPECT_EQ(unescaped("x^G1y"), "x, error at 4");
    EXPECT_EQ(unescaped("abcdef", 3), "abc"); // output full: the rest silently not decoded

    // Frames in sentences, encoded in pieces and decoded: the upload end to end
    // (Upload.ImageAndDataBlockReachTheDeviceAndItRunsThem). Here the digits
    // that must be refused.
    EXPECT_EQ(hex_decoded("01abFF"), "\x01\xab\xff");
    for (const char* digits : {"0x", "g0", "1:"})
        EXPECT_EQ(hex_decoded(digits), "refused") << digits;

    // Fields split at commas up to the checksum.
    EXPECT_EQ(fields("$GPXXX,one,two*4F\r\n"), (Words{"$GPXXX", "one", "two"}));
    EXPECT_EQ(fields("$GPXXX,one,two\r\n"), (Words{"$GPXXX", "one"})); // the last ends at '*'
    EXPECT_EQ(fields("$A,,,*00"), (Words{"$A", "", "", ""}));
    EXPECT_EQ(fields("$A,b,c,d*00", 2), (Words{"$A", "b"}));
}
