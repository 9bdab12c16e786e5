// The stream analyser: its framer against hostile byte streams, and the
// statistics it keeps, on a simulated clock. A row per identifier, GSV and
// GSA groups per sentence and PFEC by its sub-type, is the table of
// Stat.TableAndLogOfACleanLine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/nmea.h"
#include "tests/nmea_text.h"
#include "reports/stream_stats.h"

namespace {

// An analyser on a simulated line: bytes arrive one character time apart.
struct Line {
    StatFramer framer;
    StreamAnalyser analyser;
    uint64_t now_ns = 1'000'000'000;
    int64_t wall = 1000;
    uint64_t char_ns;
    std::vector<std::string> logged;
    explicit Line(uint32_t baud) : analyser(framer, baud, 1000), char_ns(10'000'000'000ULL / baud) {}

    void send(const std::string& bytes) {
        for (char byte : bytes) {
            if (analyser.feed(static_cast<uint8_t>(byte), now_ns, wall) ==
                StreamAnalyser::Fed::SENTENCE)
                logged.emplace_back(analyser.last_sentence());
            now_ns += char_ns;
        }
    }
    void wait_ms(uint64_t ms) { at_ns(now_ns + ms * 1'000'000); }
    void at_ns(uint64_t ns) {
        now_ns = ns;
        wall = 1000 + static_cast<int64_t>(now_ns / 1'000'000'000) - 1;
    }
    const SentenceStats* record(const char* name, uint32_t sequence = STAT_NO_SEQUENCE) const {
        for (const SentenceStats& r : analyser.records())
            if (std::strcmp(r.name, name) == 0 && r.sequence == sequence)
                return &r;
        return nullptr;
    }
};

} // namespace

// Hostile streams: which sentences are taken, and which faults are counted.
TEST(StreamStats, FramerTakesWellFormedSentencesAndCountsFaults) {
    const std::string full = with_checksum("$GPXXX," + std::string(82 - 12, 'A')); // 82 with CR LF
    ASSERT_EQ(full.size(), 82u);
    const struct {
        const char* legend;
        std::string bytes;
        size_t taken;
        uint32_t frame_errors;
        uint32_t checksum_errors;
    } cases[] = {
        {"garbage before a sentence", "xx\x80" + with_checksum("$GPHDT,1.0,T"), 1, 0, 0},
        {"82 characters, then the next one", full + with_checksum("$GPHDT,1.0,T"), 2, 0, 0},
        {"83 characters", "$GPXXX," + std::string(75, 'A') + "$" + "GPHDT,1.0,T*" +
                              with_checksum("$GPHDT,1.0,T").substr(13), 1, 1, 0},
        {"no checksum", "$GPHDT,1.0,T\r\n", 1, 0, 0},
        {"wrong checksum", "$GPHDT,1.0,T*00\r\n", 0, 0, 1},
        {"lower-case checksum", "$HEHDT,123.4,T*2b\r\n", 1, 0, 0},
        {"line feed in the data", "$GPHDT,1.0\n,T*00\r\n", 0, 1, 0},
        {"bare line feed at the end", "$GPHDT,1.0,T\n", 0, 1, 0},
        {"two carriage returns", with_checksum("$GPHDT,1.0,T").insert(15, "\r"), 0, 1, 0},
        {"a letter after a sentence", with_checksum("$GPHDT,1.0,T") + "x", 1, 1, 0},
        {"non-hex checksum digit", "$GPHDT,1.0,T*1G\r\n", 0, 1, 0},
        {"dollar inside a sentence starts the next", "$GPHDT,1" + with_checksum("$GPHDT,1.0,T"), 1, 1, 0},
        {"dollar after a checksum", with_checksum("$GPHDT,1.0,T").substr(0, 15) + with_checksum("$GPHDT,1.0,T"),
         1, 1, 0},
        {"address alone, no checksum", "$GP\r\n" + with_checksum("$GPHDT,1.0,T"), 2, 0, 0},
        {"line end in the address", "$GP\n" + with_checksum("$GPHDT,1.0,T"), 1, 1, 0},
    };
    for (const auto& c : cases) {
        Line line(38400);
        line.send(c.bytes);
        EXPECT_EQ(line.logged.size(), c.taken) << c.legend;
        EXPECT_EQ(line.analyser.link().frame_errors, c.frame_errors) << c.legend;
        EXPECT_EQ(line.analyser.link().checksum_errors, c.checksum_errors) << c.legend;
        EXPECT_EQ(line.analyser.link().syntax_errors, 0u) << c.legend;
    }
    Line faulty(4800); // what the screen shows of the faults
    faulty.send("$GPHDT,1.0,T*00\r\n$GPHDT,1.0\n,T*00\r\n");
    const std::vector<std::string> counters = faulty.analyser.counter_lines();
    ASSERT_EQ(counters.size(), 5u);
    EXPECT_EQ(counters[0], "Frame err   :   1\n");
    EXPECT_EQ(counters[2], "Checksum err:   1\n");
}

// A sentence once a second: 999 and no frequency until the second one, then
// the first interval is the minimum; a single late one is one break.
TEST(StreamStats, IntervalsAverageMinimumAndBreaks) {
    Line line(38400);
    const std::string rmc = with_checksum("$GPRMC,1,A,2,N,3,E,4,5,6,,");
    line.send(rmc);
    const SentenceStats* r = line.record("GPRMC");
    EXPECT_EQ(r->interval_min, 999u);
    EXPECT_EQ(line.analyser.table_rows()[0].substr(16, 11), "  0.0   0.0");
    uint64_t start = 1'000'000'000;
    for (uint64_t gap : {1000, 1000, 2500, 1000, 1000}) {
        start += gap * 1'000'000;
        line.at_ns(start);
        line.send(rmc);
    }
    EXPECT_EQ(r->count, 6u);
    EXPECT_EQ(r->interval_min, 1000u);
    EXPECT_EQ(r->interval_max, 2500u);
    EXPECT_EQ(r->breaks, 1u);
    EXPECT_NEAR(r->interval_avg, 1028.8, 1.0);
}

// The load of the line over the reference cycle: held off five seconds after
// a new identifier, and right also where 32 bits would wrap (30000 characters
// at 4800 baud in a 70 s cycle are 89 %).
TEST(StreamStats, UtilizationOverTheReferenceCycle) {
    Line line(4800);
    const std::string reference = with_checksum("$GPZDA,1,2,3,4,5,6");
    const std::string filler = with_checksum("$GPTXT," + std::string(48, 'x'));
    line.send(reference);
    line.send(filler);
    line.wait_ms(70'000 - 70 * 2);
    line.send(reference); // settles: held off
    EXPECT_EQ(line.analyser.link().utilization, 0u);
    uint64_t sent = 0;
    while (sent < 30000) {
        line.send(filler);
        sent += filler.size();
    }
    line.wait_ms(70'000 - sent * 2083 / 1000 - reference.size() * 2083 / 1000);
    line.send(reference);
    EXPECT_NEAR(line.analyser.link().utilization, 30000.0 * 2083 * 100 / 70e6, 2);
    EXPECT_EQ(line.analyser.link().utilization_max, line.analyser.link().utilization);
}

// A gap inside a sentence counts only above one and a half character times.
TEST(StreamStats, DisruptionIsTheLargestGapWithinASentence) {
    Line line(4800);
    const std::string hdt = with_checksum("$GPHDT,1.0,T");
    line.send(hdt.substr(0, 5));
    line.now_ns += 3'000'000; // 3.0 ms: within 2083 + 1041 µs of slack
    line.send(hdt.substr(5));
    EXPECT_EQ(line.analyser.link().disruption_max_us, 0);
    line.send(hdt.substr(0, 5));
    line.now_ns += 7'000'000;
    line.send(hdt.substr(5));
    EXPECT_NEAR(line.analyser.link().disruption_max_us, 7000 - 2083, 5);
}

// The log's time stamp keeps counting past 2^31 ms (24.8 days), where a
// 32-bit long (Windows) wrapped; the columns line up as before.
TEST(StreamStats, LogPrefixCountsPastThirtyTwoBits) {
    EXPECT_EQ(stat_log_prefix(123456, 100), "123456  100: ");
    EXPECT_EQ(stat_log_prefix(3'000'000'000ULL, 1000), "3000000000 1000: ");
}
