#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "config/nmea_schedule.h"

namespace {

struct Row {
    const char* formatter;
    uint32_t interval;
};

struct Scheduled {
    std::vector<uint32_t> offsets;
    std::string verbose; // level 0 goes to standard output
    std::string errors;
    size_t without_jitter = 0; // sentences listed with "jitter: 0ms"
};

// A table of the rows, scheduled at the rate with the listing on.
Scheduled schedule(const std::vector<Row>& rows, uint32_t baud) {
    std::vector<SentenceEntry> entries(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        entries[i].id = static_cast<uint32_t>(i + 1);
        std::strcpy(entries[i].talker, "HE");
        std::strcpy(entries[i].formatter, rows[i].formatter);
        entries[i].interval = rows[i].interval;
        entries[i].offset = 999; // every entry must be given an offset
        entries[i].length = nmea_sentence_length(rows[i].formatter);
    }
    verbose_mode = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    nmea_schedule(entries, baud);
    Scheduled s{{}, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    verbose_mode = 0;
    for (const SentenceEntry& entry : entries)
        s.offsets.push_back(entry.offset);
    const std::string no_jitter = "jitter: 0ms\n";
    for (size_t at = s.verbose.find(no_jitter); at != std::string::npos;
         at = s.verbose.find(no_jitter, at + 1))
        ++s.without_jitter;
    return s;
}

} // namespace

// Each row: the sentences' intervals at a rate, the offsets they are given,
// and how many sentences go without jitter (-1: not counted); none warns.
// Sentences that run over into the next slot at 4800 and an overloaded
// shortest interval, with the listing and both warnings, are seen end to end
// by Commands.Nmea0183Schedule.
TEST(NmeaSchedule, OffsetsAndJitter) {
    const struct {
        const char* legend;
        std::vector<Row> rows;
        uint32_t baud;
        std::vector<uint32_t> offsets;
        int without_jitter;
    } cases[] = {
        {"slow sentences share the free room at 38400",
         {{"HDT", 100}, {"ROT", 200}, {"HDG", 500}, {"XDR", 1000}, {"att", 1000}}, 38400,
         {0, 0, 0, 0, 25}, 5},
        // 111850 ms x 38400 baud is just above 2^32: taken modulo 2^32 the slot
        // would hold 7 characters, give a false jitter warning and move HDG.
        {"slot longer than the 32-bit product", {{"HDT", 111850}, {"ROT", 223700}, {"HDG", 223700}},
         38400, {0, 0, 0}, 3},
        {"equal shortest intervals are all base sentences",
         {{"HDT", 200}, {"XDR", 1000}, {"HDG", 200}}, 4800, {0, 100, 25}, -1},
        {"slow sentences run over into the next slot, and one not placed",
         {{"HDT", 100}, {"THS", 100}, {"ROT", 200}, {"HDG", 1000}, {"GGA", 1000}, {"VTG", 0}}, 4800,
         {0, 25, 75, 175, 0, 0}, 2},
        {"nothing placed", {{"HDT", 0}, {"GGA", 0}}, 4800, {0, 0}, -1},
        {"no link speed, no timing", {{"HDT", 100}}, 0, {0}, -1},
    };
    for (const auto& c : cases) {
        const Scheduled s = schedule(c.rows, c.baud);
        EXPECT_EQ(s.offsets, c.offsets) << c.legend;
        EXPECT_EQ(s.verbose.find("Warning"), std::string::npos) << c.legend << "\n" << s.verbose;
        EXPECT_EQ(s.errors, "") << c.legend;
        if (c.without_jitter >= 0) {
            EXPECT_EQ(s.without_jitter, static_cast<size_t>(c.without_jitter)) << c.legend;
        }
    }
}
