#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/console.h"
#include "config/nmea_schedule.h"

namespace {

// The offsets a table of the rows (formatter, interval) is given at the rate,
// with the listing on, and how many sentences the listing shows without
// jitter; then whatever was printed as an error, and the listing when it warns.
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
    result += "/ " + std::to_string(without_jitter) + " without jitter" + errors;
    return listing.find("Warning") == std::string::npos ? result : result + "\n" + listing;
}

} // namespace

// Sentences that run over into the next slot at 4800 and an overloaded
// shortest interval, with the listing and both warnings, are seen end to end
// by Commands.OffsetsScheduleCompassAndReceivers.
TEST(NmeaSchedule, OffsetsAndJitter) {
    // Slow sentences share the free room.
    EXPECT_EQ(scheduled(38400, {{"HDT", 100}, {"ROT", 200}, {"HDG", 500}, {"XDR", 1000},
                                {"att", 1000}}),
              "0 0 0 0 25 / 5 without jitter");
    // 111850 ms x 38400 baud is just above 2^32: taken modulo 2^32 the slot
    // would hold 7 characters, give a false jitter warning and move HDG.
    EXPECT_EQ(scheduled(38400, {{"HDT", 111850}, {"ROT", 223700}, {"HDG", 223700}}),
              "0 0 0 / 3 without jitter");
    // Equal shortest intervals are all base sentences.
    EXPECT_EQ(scheduled(4800, {{"HDT", 200}, {"XDR", 1000}, {"HDG", 200}}),
              "0 100 25 / 3 without jitter");
    // Slow sentences run over into the next slot, and one is not placed.
    EXPECT_EQ(scheduled(4800, {{"HDT", 100}, {"THS", 100}, {"ROT", 200}, {"HDG", 1000},
                               {"GGA", 1000}, {"VTG", 0}}),
              "0 25 75 175 0 0 / 2 without jitter");
    EXPECT_EQ(scheduled(4800, {{"HDT", 0}, {"GGA", 0}}), "0 0 / 0 without jitter"); // none placed
    EXPECT_EQ(scheduled(0, {{"HDT", 100}}), "0 / 0 without jitter"); // no link speed, no timing
}
