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

TEST(NmeaSchedule, SlowSentencesRunOverIntoTheNextSlotAt4800) {
    const Scheduled s = schedule(
        {{"HDT", 100}, {"THS", 100}, {"ROT", 200}, {"HDG", 1000}, {"GGA", 1000}, {"VTG", 0}}, 4800);
    EXPECT_EQ(s.offsets, (Offsets{0, 25, 75, 175, 0, 0}));
    EXPECT_EQ(s.verbose, "sentence: HDT, intv:  100, offset:   0ms, jitter: 0ms\n"
                         "sentence: THS, intv:  100, offset:  25ms, jitter: 0ms\n"
                         "sentence: ROT, intv:  200, offset:  75ms, jitter: 22ms\n"
                         "sentence: HDG, intv: 1000, offset: 175ms, jitter: 52ms\n");
    EXPECT_EQ(s.errors, "");
}

TEST(NmeaSchedule, SlowSentencesShareTheFreeRoomAt38400) {
    const Scheduled s =
        schedule({{"HDT", 100}, {"ROT", 200}, {"HDG", 500}, {"XDR", 1000}, {"att", 1000}}, 38400);
    EXPECT_EQ(s.offsets, (Offsets{0, 0, 0, 0, 25}));
    EXPECT_EQ(count_of(s.verbose, "jitter: 0ms\n"), 5u) << s.verbose;
    EXPECT_EQ(s.verbose.find("Warning"), std::string::npos);
}

TEST(NmeaSchedule, OverloadedShortestIntervalWarnsTwice) {
    const Scheduled s = schedule({{"HDT", 25}, {"THS", 25}, {"ROT", 25}}, 4800);
    EXPECT_EQ(s.offsets, (Offsets{0, 25, 0}));
    EXPECT_EQ(s.verbose.rfind("Warning: high frequency sentences cause 97ms jitter\n", 0), 0u)
        << s.verbose;
    EXPECT_EQ(s.errors, "Warning: too many sentences assigned to the 25ms interval\n");
}

TEST(NmeaSchedule, SlotLongerThanThe32BitProductDoesNotWrap) {
    // 111850 ms x 38400 baud is just above 2^32: taken modulo 2^32 the slot would
    // hold 7 characters, give a false jitter warning and move HDG.
    const Scheduled s = schedule({{"HDT", 111850}, {"ROT", 223700}, {"HDG", 223700}}, 38400);
    EXPECT_EQ(s.verbose.find("Warning"), std::string::npos) << s.verbose;
    EXPECT_EQ(s.offsets, (Offsets{0, 0, 0}));
    EXPECT_EQ(count_of(s.verbose, "jitter: 0ms\n"), 3u) << s.verbose;
}

TEST(NmeaSchedule, EqualShortestIntervalsAreAllBaseSentencesAndNothingPlacedGivesZeros) {
    const Scheduled base = schedule({{"HDT", 200}, {"XDR", 1000}, {"HDG", 200}}, 4800);
    EXPECT_EQ(base.offsets, (Offsets{0, 100, 25}));
    EXPECT_EQ(schedule({{"HDT", 0}, {"GGA", 0}}, 4800).offsets, (Offsets{0, 0}));
    EXPECT_EQ(schedule({{"HDT", 100}}, 0).offsets, (Offsets{0})); // no link speed, no timing
}
