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

std::vector<SentenceEntry> table_of(const std::vector<Row>& rows) {
    std::vector<SentenceEntry> entries;
    for (const Row& row : rows) {
        SentenceEntry entry;
        entry.id = static_cast<uint32_t>(entries.size() + 1);
        std::strcpy(entry.talker, "HE");
        std::strcpy(entry.formatter, row.formatter);
        entry.interval = row.interval;
        entry.offset = 999; // every entry must be given an offset
        entry.length = nmea_sentence_length(row.formatter);
        entries.push_back(entry);
    }
    return entries;
}

struct Scheduled {
    std::vector<uint32_t> offsets;
    std::string verbose; // level 0 goes to standard output
    std::string errors;
};

Scheduled schedule(const std::vector<Row>& rows, uint32_t baud) {
    std::vector<SentenceEntry> entries = table_of(rows);
    verbose_mode = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    nmea_schedule(entries, baud);
    Scheduled result{
        {}, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    verbose_mode = 0;
    for (const SentenceEntry& entry : entries)
        result.offsets.push_back(entry.offset);
    return result;
}

using Offsets = std::vector<uint32_t>;

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
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
        Offsets offsets;
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
            EXPECT_EQ(count_of(s.verbose, "jitter: 0ms\n"), static_cast<size_t>(c.without_jitter)) << c.legend;
        }
    }
}
