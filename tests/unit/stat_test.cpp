// The stat command: its framer against hostile byte streams, the statistics
// it keeps on a simulated clock (the table, a row per identifier, GSV and GSA
// groups per sentence and PFEC by its sub-type, is Stat.TableAndLogOfACleanLine),
// and the picture of its log: what the log gives, where gaps and breaks are
// drawn, density and size for long logs, escaping.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "plot/drawing.h"
#include "plot/stat_log.h"
#include "plot/svg.h"
#include "reports/stream_stats.h"
#include "tests/nmea_text.h"

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

// The sentences taken from the bytes at 38400 baud, and the faults counted.
std::string framed(const std::string& bytes) {
    Line line(38400);
    line.send(bytes);
    const LinkStats& link = line.analyser.link();
    const auto counted = [](uint32_t count, const char* fault) {
        return count ? ", " + std::to_string(count) + " " + fault : std::string();
    };
    return std::to_string(line.taken) + " taken" + counted(link.frame_errors, "frame") +
           counted(link.checksum_errors, "checksum") + counted(link.syntax_errors, "syntax");
}

// A log line as stat writes it.
std::string log_line(int64_t ms, uint32_t interval, const std::string& sentence) {
    return stat_log_prefix(static_cast<uint64_t>(ms), interval) + sentence + "\r\n";
}

const std::string HDT = "$HEHDT,123.4,T*2C";
const std::string GGA = "$GNGGA,120000.00,5000.0000,N,00800.0000,E,1,08,1.0,10.0,M,0.0,M,,*6E";

std::vector<const Shape*> with_role(const Drawing& drawing, const std::string& role) {
    std::vector<const Shape*> found;
    for (const Shape& shape : drawing.shapes)
        if (shape.role == role)
            found.push_back(&shape);
    return found;
}

// HDT every 100 ms and GGA every second for ten seconds, none from 4.5 s to 7.5 s.
std::string paused_log() {
    std::string text;
    for (int64_t ms = 0; ms < 10000; ms += 100) {
        if (ms >= 4500 && ms < 7500)
            continue;
        text += log_line(ms, ms == 0 ? 0 : ms == 7500 ? 3100 : 100, HDT);
        if (ms % 1000 == 0)
            text += log_line(ms, ms == 0 ? 0 : ms == 8000 ? 4000 : 1000, GGA);
    }
    return text;
}

} // namespace

TEST(StreamStats, FramerTakesWellFormedSentencesAndCountsFaults) {
    const std::string hdt = with_checksum("$GPHDT,1.0,T");
    EXPECT_EQ(framed("xx\x80" + hdt), "1 taken"); // garbage before a sentence
    EXPECT_EQ(framed(with_checksum("$GPXXX," + std::string(70, 'A')) + hdt), "2 taken"); // 82
    EXPECT_EQ(framed("$GPXXX," + std::string(75, 'A') + hdt), "1 taken, 1 frame"); // 83
    EXPECT_EQ(framed("$GPHDT,1.0,T*00\r\n"), "0 taken, 1 checksum");
    EXPECT_EQ(framed("$HEHDT,123.4,T*2b\r\n"), "1 taken"); // lower-case checksum
    EXPECT_EQ(framed("$GPHDT,1.0\n,T*00\r\n"), "0 taken, 1 frame"); // line feed in the data
    EXPECT_EQ(framed(std::string(hdt).insert(15, "\r")), "0 taken, 1 frame"); // two CRs
    EXPECT_EQ(framed(hdt + "x"), "1 taken, 1 frame"); // a letter after a sentence
    EXPECT_EQ(framed("$GPHDT,1.0,T*1G\r\n"), "0 taken, 1 frame"); // non-hex checksum digit
    EXPECT_EQ(framed("$GPHDT,1" + hdt), "1 taken, 1 frame"); // a $ inside starts the next
    EXPECT_EQ(framed("$GP\r\n" + hdt), "2 taken"); // address alone, no checksum
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
    const auto after_gap = [&slow, hdt = with_checksum("$GPHDT,1.0,T")](uint64_t ms) {
        slow.send(hdt.substr(0, 5));
        slow.wait_ms(ms);
        slow.send(hdt.substr(5));
        return slow.analyser.link().disruption_max_us;
    };
    EXPECT_EQ(after_gap(3), 0); // 3.0 ms: within 2083 + 1041 µs of slack
    EXPECT_NEAR(after_gap(7), 7000 - 2083, 5);
}

TEST(StatPlot, LogLinesWhatIsLeftOutAndEscaped) {
    const std::string text = log_line(1000, 0, HDT) + "garbage\r\n" + log_line(1100, 100, HDT) +
                             log_line(1050, 100, GGA) + // back in time
                             log_line(1200, 0, "$GPGSV,3,2,12,01,40,083,46*7E") +
                             log_line(1300, 0, "$PFEC,GPatt,123.4,1.0,2.0*50") +
                             "99999999999999 1: $HEHDT,1*00\r\n" + "\r\n" + log_line(1400, 100, HDT);
    const StatLog log = parse_stat_log(text);
    EXPECT_EQ(log.identifiers, (std::vector<std::string>{"HEHDT", "GPGSV.2", "GPatt"}));
    EXPECT_EQ(log.sentences.size(), 5u);
    EXPECT_EQ(log.sentences[0].length, HDT.size() + 2);
    // Garbage and a time beyond a year are bad lines, a blank line is no fault.
    EXPECT_EQ(
        std::make_tuple(log.bad_lines, log.first_bad_line, log.backwards, log.first_backwards_line),
        std::make_tuple(2u, 2u, 1u, 4u));
    EXPECT_EQ(parse_stat_log(text, 1.15, 1.35).sentences.size(), 2u); // the window
    // The time stamp keeps counting past 2^31 ms (24.8 days), where a 32-bit
    // long (Windows) wrapped; the columns line up as before.
    EXPECT_EQ(stat_log_prefix(123456, 100), "123456  100: ");
    EXPECT_EQ(stat_log_prefix(3'000'000'000ULL, 1000), "3000000000 1000: ");

    // Text from the log is escaped in the picture.
    EXPECT_EQ(svg_escaped("<script>&\"'"), "&lt;script&gt;&amp;&quot;&apos;");
    EXPECT_EQ(svg_escaped("a\x01\x1b[2Jb"), "a??[2Jb");
    EXPECT_EQ(svg_escaped("\xc3\xb0 \xb0 \xe2\x82"), "\xc3\xb0 ? ??"); // valid, lone and cut UTF-8
    const std::string odd = "$<b>&,1*00";
    const StatLog odd_log = parse_stat_log(log_line(0, 0, odd) + log_line(100, 100, odd));
    const std::string svg = svg_document(draw_stat_log(odd_log, {"</svg><script>.log", 0}));
    EXPECT_EQ(svg.find("<script"), std::string::npos);
    EXPECT_NE(svg.find("&lt;b&gt;&amp;"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);
}

// A pause of 3 s in a stream of 100 ms and one of 1 s sentences: one break
// per row, drawn over the gap where it was, labelled with its length, and
// counted as stat counts breaks.
TEST(StatPlot, BreaksAreMarkedOnEveryRowAlsoInTheDensityOfALongLog) {
    const StatLog log = parse_stat_log(paused_log());
    std::string summary; // breaks, median and longest interval of each row
    for (const RowSummary& row : summarise(log))
        summary += std::to_string(row.breaks) + " " + std::to_string(row.median_ms) + " " +
                   std::to_string(row.max_ms) + "; ";
    EXPECT_EQ(summary, "1 100 3100; 1 1000 4000; ");

    const Drawing drawing = draw_stat_log(log, {"pause.log", 38400});
    const auto breaks = with_role(drawing, "break");
    ASSERT_EQ(breaks.size(), 2u);
    // The time axis spans the log: 0 ms to 9900 ms over the plot's width.
    const double per_ms = (789.0 - 94.0) / 9900.0;
    EXPECT_NEAR(breaks[0]->x1, 94 + 4400 * per_ms, 0.01);
    EXPECT_NEAR(breaks[0]->x2, 3100 * per_ms, 0.01);
    EXPECT_NEAR(breaks[1]->x1, 94 + 4000 * per_ms, 0.01);
    EXPECT_LT(breaks[0]->y1, breaks[1]->y1); // each on its own row
    const auto labels = with_role(drawing, "gap-label");
    EXPECT_EQ(labels.at(0)->text + ", " + labels.at(1)->text, "3.1 s, 4.0 s");
    EXPECT_EQ(with_role(drawing, "load").size(), 1u);

    // 100 000 sentences (hours at 38400): arrivals closer than a pixel become
    // density, every break is still drawn, and it is quick and small.
    std::string text;
    for (int64_t i = 0; i < 100000; ++i) // a break every 20000
        text += log_line(i * 100 + (i / 20000) * 400, i == 0 ? 0 : i % 20000 ? 100 : 500, HDT);
    // Processor time: the suite runs many tests at once on few cores.
    const std::clock_t start = std::clock();
    const Drawing long_drawing = draw_stat_log(parse_stat_log(text), {"long.log", 0});
    const std::string svg = svg_document(long_drawing);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_LT(seconds, 5.0); // well under a second in an optimised build
    EXPECT_LT(svg.size(), 1000000u);
    EXPECT_EQ(with_role(long_drawing, "break").size(), 4u);
    EXPECT_FALSE(with_role(long_drawing, "tick-densest").empty());
}

// The real captures, logged as stat would log them at one sentence every
// 50 ms: each draws without a line left out.
TEST(StatPlot, RealCapturesDrawWithoutWarnings) {
    if (!std::filesystem::exists(NC_CAPTURES))
        GTEST_SKIP() << "no captures at " << NC_CAPTURES;
    for (const auto& entry : std::filesystem::directory_iterator(NC_CAPTURES)) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::string text;
        int64_t ms = 0;
        for (std::string line; std::getline(file, line);) {
            const size_t end = line.find_last_not_of('\r') + 1; // 0 for an empty line
            const size_t dollar = std::min(line.rfind('$'), end);
            const std::string sentence = line.substr(dollar, end - dollar);
            if (sentence.size() <= 82 && sentence.find(',') != std::string::npos)
                text += log_line(ms += 50, 50, sentence);
        }
        const StatLog log = parse_stat_log(text);
        EXPECT_EQ(log.bad_lines, 0u) << entry.path() << " line " << log.first_bad_line;
        const Drawing drawing = draw_stat_log(log, {entry.path().filename().string(), 0});
        EXPECT_GE(with_role(drawing, "row-label").size(), 2 * std::min<size_t>(log.identifiers.size(), 80))
            << entry.path();
    }
}
