// The picture of a stat log, on its shapes: what the log gives, where the
// gaps and breaks are drawn, density and size for long logs, escaping.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "plot/drawing.h"
#include "plot/stat_log.h"
#include "plot/svg.h"
#include "reports/stream_stats.h"

namespace {

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
    int64_t last[2] = {-1, -1};
    for (int64_t ms = 0; ms < 10000; ms += 100) {
        if (ms >= 4500 && ms < 7500)
            continue;
        for (int i = 0; i < (ms % 1000 == 0 ? 2 : 1); ++i) {
            const int64_t since = last[i] < 0 ? 0 : ms - last[i];
            text += log_line(ms, static_cast<uint32_t>(since), i ? GGA : HDT);
            last[i] = ms;
        }
    }
    return text;
}

} // namespace

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
    const std::vector<RowSummary> summary = summarise(log);
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(std::make_tuple(summary[0].breaks, summary[0].median_ms, summary[0].max_ms),
              std::make_tuple(1u, 100u, 3100u));
    EXPECT_EQ(std::make_tuple(summary[1].breaks, summary[1].max_ms), std::make_tuple(1u, 4000u));

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
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0]->text + ", " + labels[1]->text, "3.1 s, 4.0 s");
    EXPECT_EQ(with_role(drawing, "load").size(), 1u);

    // 100 000 sentences (hours at 38400): arrivals closer than a pixel become
    // density, every break is still drawn, and it is quick and small.
    std::string text;
    for (int64_t i = 0; i < 100000; ++i) // a break every 20000
        text += log_line(i * 100 + (i / 20000) * 400, i == 0 ? 0 : i % 20000 ? 100 : 500, HDT);
    const auto start = std::chrono::steady_clock::now();
    const Drawing long_drawing = draw_stat_log(parse_stat_log(text), {"long.log", 0});
    const std::string svg = svg_document(long_drawing);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const size_t dollar = line.rfind('$');
            if (dollar == std::string::npos || line.size() - dollar > 82 || line.find(',', dollar) == std::string::npos)
                continue;
            text += log_line(ms += 50, 50, line.substr(dollar));
        }
        if (text.empty())
            continue;
        const StatLog log = parse_stat_log(text);
        EXPECT_EQ(log.bad_lines, 0u) << entry.path() << " line " << log.first_bad_line;
        const Drawing drawing = draw_stat_log(log, {entry.path().filename().string(), 0});
        EXPECT_GE(with_role(drawing, "row-label").size(), 2 * std::min<size_t>(log.identifiers.size(), 80))
            << entry.path();
    }
}
