// The stream analyser: its framer against hostile byte streams, and the
// statistics it keeps, on a simulated clock. A row per identifier, GSV and
// GSA groups per sentence and PFEC by its sub-type, is the table of
// Stat.TableAndLogOfACleanLine.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/nmea_text.h"
#include "reports/stream_stats.h"

namespace {

// An analyser on a simulated line: bytes arrive one character time apart, and
// the wall clock shows second 1000 at the start.
struct Line {
    StatFramer framer;
    StreamAnalyser analyser;
    uint64_t now_ns = 1'000'000'000;
    uint64_t char_ns;
    size_t taken = 0; // well-formed sentences
    explicit Line(uint32_t baud) : analyser(framer, baud, 1000), char_ns(10'000'000'000ULL / baud) {}

    void send(const std::string& bytes) {
        for (char byte : bytes) {
            const int64_t wall = 999 + static_cast<int64_t>(now_ns / 1'000'000'000);
            taken += analyser.feed(static_cast<uint8_t>(byte), now_ns, wall) ==
                     StreamAnalyser::Fed::SENTENCE;
            now_ns += char_ns;
        }
    }
    void wait_ms(uint64_t ms) { now_ns += ms * 1'000'000; }
};

} // namespace

TEST(StreamStats, FramerTakesWellFormedSentencesAndCountsFaults) {
    const std::string full = with_checksum("$GPXXX," + std::string(82 - 12, 'A')); // 82 with CR LF
    const std::string hdt = with_checksum("$GPHDT,1.0,T");
    const struct {
        const char* legend;
        std::string bytes;
        size_t taken;
        uint32_t frame_errors, checksum_errors;
    } cases[] = {
        {"garbage before a sentence", "xx\x80" + hdt, 1, 0, 0},
        {"82 characters, then the next one", full + hdt, 2, 0, 0},
        {"83 characters", "$GPXXX," + std::string(75, 'A') + hdt, 1, 1, 0},
        {"no checksum", "$GPHDT,1.0,T\r\n", 1, 0, 0},
        {"wrong checksum", "$GPHDT,1.0,T*00\r\n", 0, 0, 1},
        {"lower-case checksum", "$HEHDT,123.4,T*2b\r\n", 1, 0, 0},
        {"line feed in the data", "$GPHDT,1.0\n,T*00\r\n", 0, 1, 0},
        {"two carriage returns", std::string(hdt).insert(15, "\r"), 0, 1, 0},
        {"a letter after a sentence", hdt + "x", 1, 1, 0},
        {"non-hex checksum digit", "$GPHDT,1.0,T*1G\r\n", 0, 1, 0},
        {"dollar inside a sentence starts the next", "$GPHDT,1" + hdt, 1, 1, 0},
        {"address alone, no checksum", "$GP\r\n" + hdt, 2, 0, 0},
        {"line end in the address", "$GP\n" + hdt, 1, 1, 0},
    };
    for (const auto& c : cases) {
        Line line(38400);
        line.send(c.bytes);
        const LinkStats& link = line.analyser.link();
        EXPECT_EQ(std::make_tuple(line.taken, link.frame_errors, link.checksum_errors,
                                  link.syntax_errors),
                  std::make_tuple(c.taken, c.frame_errors, c.checksum_errors, 0u))
            << c.legend;
    }
    Line faulty(4800); // what the screen shows of the faults
    faulty.send("$GPHDT,1.0,T*00\r\n$GPHDT,1.0\n,T*00\r\n");
    const std::vector<std::string> counters = faulty.analyser.counter_lines();
    EXPECT_EQ(counters.at(0) + counters.at(2), "Frame err   :   1\nChecksum err:   1\n");
}

// A sentence once a second: 999 and no frequency until the second one, then
// the first interval is the minimum; a single late one is one break.
TEST(StreamStats, IntervalsLoadAndDisruptionOnASimulatedClock) {
    Line line(38400);
    const std::string rmc = with_checksum("$GPRMC,1,A,2,N,3,E,4,5,6,,");
    line.send(rmc);
    const SentenceStats& r = line.analyser.records().at(0);
    EXPECT_EQ(r.interval_min, 999u);
    EXPECT_EQ(line.analyser.table_rows()[0].substr(16, 11), "  0.0   0.0");
    for (uint64_t ms : {2000, 3000, 5500, 6500, 7500}) { // the first came at 1000
        line.now_ns = ms * 1'000'000;
        line.send(rmc);
    }
    EXPECT_EQ(std::make_tuple(r.count, r.interval_min, r.interval_max, r.breaks),
              std::make_tuple(6u, 1000u, 2500u, 1u));
    EXPECT_NEAR(r.interval_avg, 1028.8, 1.0);

    // The load of the line over the reference cycle: held off five seconds
    // after a new identifier, and right also where 32 bits would wrap (30000
    // characters at 4800 baud in a 70 s cycle are 89 %).
    Line slow(4800);
    const std::string reference = with_checksum("$GPZDA,1,2,3,4,5,6");
    const std::string filler = with_checksum("$GPTXT," + std::string(48, 'x'));
    slow.send(reference);
    slow.send(filler);
    slow.wait_ms(70'000 - 70 * 2);
    slow.send(reference); // settles: held off
    EXPECT_EQ(slow.analyser.link().utilization, 0u);
    uint64_t sent = 0;
    for (; sent < 30000; sent += filler.size())
        slow.send(filler);
    slow.wait_ms(70'000 - sent * 2083 / 1000 - reference.size() * 2083 / 1000);
    slow.send(reference);
    EXPECT_NEAR(slow.analyser.link().utilization, 30000.0 * 2083 * 100 / 70e6, 2);
    EXPECT_EQ(slow.analyser.link().utilization_max, slow.analyser.link().utilization);

    // The disruption is the largest gap inside a sentence above one and a half
    // character times.
    const std::string hdt = with_checksum("$GPHDT,1.0,T");
    slow.send(hdt.substr(0, 5));
    slow.now_ns += 3'000'000; // 3.0 ms: within 2083 + 1041 µs of slack
    slow.send(hdt.substr(5));
    EXPECT_EQ(slow.analyser.link().disruption_max_us, 0);
    slow.send(hdt.substr(0, 5));
    slow.now_ns += 7'000'000;
    slow.send(hdt.substr(5));
    EXPECT_NEAR(slow.analyser.link().disruption_max_us, 7000 - 2083, 5);
}
