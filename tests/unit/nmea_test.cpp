#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/console.h"
#include "config/nmea_schedule.h"
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

// The offsets a table of the rows (formatter, interval) is given at the rate,
// with the listing on, and after a '/' how many sentences the listing shows
// without jitter; then whatever was printed as an error, and the listing when
// it warns.
std::string scheduled(uint32_t baud, const std::vector<std::pair<const char*, uint32_t>>& rows) {
    std::vector<SentenceEntry> entries;
    for (const auto& [formatter, interval] : rows) {
        SentenceEntry& entry = entries.emplace_back();
        std::strcpy(entry.formatter, formatter);
        entry.interval = interval;
        entry.offset = 999; // every entry must be given an offset
        entry.length = nmea_sentence_length(formatter);
    }
    verbose_mode = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    nmea_schedule(entries, baud);
    const std::string listing = testing::internal::GetCapturedStdout();
    const std::string errors = testing::internal::GetCapturedStderr();
    verbose_mode = 0;
    std::string result;
    for (const SentenceEntry& entry : entries)
        result += std::to_string(entry.offset) + " ";
    int without_jitter = 0;
    for (size_t at = 0; (at = listing.find("jitter: 0ms\n", at)) != std::string::npos; ++at)
        ++without_jitter;
    result += "/ " + std::to_string(without_jitter) + errors;
    return listing.find("Warning") == std::string::npos ? result : result + "\n" + listing;
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
    EXPECT_EQ(verdict("$GPGGA,\x7f\r\n"), "holds"); // DEL is accepted
    EXPECT_EQ(verdict("$GPGGA,$1\r\n"), "holds"); // a second $ is an ordinary body byte
    // Five bytes not proprietary, four proprietary, a bare line feed, bytes
    // before the $, a control and a high byte, checksums of 1, non-hex and 3 digits.
    for (const char* bytes : {"$GPGG\r\n", "$PNC\r\n", "$GPGGA,1\n", "x$GPGGA,1\r\n",
                              "$GPGGA,\t1\r\n", "$GPGGA,\xb0\r\n", "$GPGGA,1*4\r\n",
                              "$GPGGA,1*4G\r\n", "$GPGGA,1*4A0\r\n"})
        EXPECT_EQ(verdict(bytes), "refused") << bytes;
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

// Sentences that run over into the next slot at 4800 and an overloaded
// shortest interval, with the listing and both warnings, are seen end to end
// by Commands.EachLineShownAndExecutedAsTheModelTakesIt.
TEST(NmeaSchedule, OffsetsAndJitter) {
    // Slow sentences share the free room.
    EXPECT_EQ(scheduled(38400, {{"HDT", 100}, {"ROT", 200}, {"HDG", 500}, {"XDR", 1000},
                                {"att", 1000}}), "0 0 0 0 25 / 5");
    // 111850 ms x 38400 baud is just above 2^32: taken modulo 2^32 the slot
    // would hold 7 characters, give a false jitter warning and move HDG.
    EXPECT_EQ(scheduled(38400, {{"HDT", 111850}, {"ROT", 223700}, {"HDG", 223700}}), "0 0 0 / 3");
    // Equal shortest intervals are all base sentences.
    EXPECT_EQ(scheduled(4800, {{"HDT", 200}, {"XDR", 1000}, {"HDG", 200}}), "0 100 25 / 3");
    // Slow sentences run over into the next slot, and one is not placed.
    EXPECT_EQ(scheduled(4800, {{"HDT", 100}, {"THS", 100}, {"ROT", 200}, {"HDG", 1000},
                               {"GGA", 1000}, {"VTG", 0}}), "0 25 75 175 0 0 / 2");
    EXPECT_EQ(scheduled(4800, {{"HDT", 0}, {"GGA", 0}}), "0 0 / 0"); // none placed
    EXPECT_EQ(scheduled(0, {{"HDT", 100}}), "0 / 0"); // no link speed, no timing
}
