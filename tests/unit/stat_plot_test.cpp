// The picture of a stat log, on its shapes: what the log gives, where the
// gaps and breaks are drawn, density and size for long logs, escaping.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "plot/drawing.h"
#include "plot/stat_log.h"
#include "plot/svg.h"
#include "reports/stream_stats.h"

namespace {

// A log line as stat writes it.
std::string log_line(int64_t ms, uint32_t interval, const std::string& sentence) {
    return stat_log_prefix(static_cast<uint64_t>(ms), interval) + sentence + "\r\n";
}

// Each identifier at its interval over seconds, with no arrivals in [pause_from, pause_to).
std::string steady_log(const std::vector<std::pair<std::string, uint32_t>>& streams, int64_t seconds,
                       int64_t pause_from = -1, int64_t pause_to = -1) {
    std::vector<std::pair<int64_t, std::string>> lines;
    for (const auto& [sentence, interval] : streams) {
        int64_t last = -1;
        for (int64_t ms = 0; ms < seconds * 1000; ms += interval) {
            if (ms >= pause_from && ms < pause_to)
                continue;
            lines.emplace_back(ms, log_line(ms, last < 0 ? 0 : static_cast<uint32_t>(ms - last), sentence));
            last = ms;
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& line : lines)
        text += line.second;
    return text;
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

} // namespace

TEST(StatPlot, LogLinesAndWhatIsLeftOut) {
    const std::string text = log_line(1000, 0, HDT) + "garbage\r\n" + log_line(1100, 100, HDT) +
                             log_line(1050, 100, GGA) + // back in time
                             log_line(1200, 0, "$GPGSV,3,2,12,01,40,083,46*7E") +
                             log_line(1300, 0, "$PFEC,GPatt,123.4,1.0,2.0*50") +
                             "99999999999999 1: $HEHDT,1*00\r\n" + "\r\n" + log_line(1400, 100, HDT);
    const StatLog log = parse_stat_log(text);
    EXPECT_EQ(log.identifiers, (std::vector<std::string>{"HEHDT", "GPGSV.2", "GPatt"}));
    EXPECT_EQ(log.sentences.size(), 5u);
    EXPECT_EQ(log.sentences[0].length, HDT.size() + 2);
    EXPECT_EQ(log.bad_lines, 2u); // garbage and a time beyond a year; a blank line is no fault
    EXPECT_EQ(log.first_bad_line, 2u);
    EXPECT_EQ(log.backwards, 1u);
    EXPECT_EQ(log.first_backwards_line, 4u);
    EXPECT_EQ(parse_stat_log(text, 1.15, 1.35).sentences.size(), 2u); // the window
}

// A pause of 3 s in a stream of 100 ms and one of 1 s sentences: one break
// per row, drawn over the gap where it was, labelled with its length, and
// counted as stat counts breaks.
TEST(StatPlot, PauseIsAMarkedBreakOnEveryRow) {
    const StatLog log = parse_stat_log(steady_log({{HDT, 100}, {GGA, 1000}}, 10, 4500, 7500));
    const std::vector<RowSummary> summary = summarise(log);
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(summary[0].breaks, 1u);
    EXPECT_EQ(summary[1].breaks, 1u);
    EXPECT_EQ(summary[0].median_ms, 100u);
    EXPECT_EQ(summary[0].max_ms, 3100u);
    EXPECT_EQ(summary[1].max_ms, 4000u);

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
    EXPECT_EQ(labels[0]->text, "3.1 s");
    EXPECT_EQ(labels[1]->text, "4.0 s");
    EXPECT_EQ(with_role(drawing, "load").size(), 1u);
}

// 100 000 sentences (hours at 38400): arrivals closer than a pixel become
// density, every break is still drawn, and it is quick and small.
TEST(StatPlot, LongLogIsDensityYetEveryBreakIsDrawn) {
    std::string text;
    for (int64_t i = 0, last = 0; i < 100000; ++i) {
        const int64_t ms = i * 100 + (i / 20000) * 400; // a break every 20000
        text += log_line(ms, i ? static_cast<uint32_t>(ms - last) : 0, HDT);
        last = ms;
    }
    const auto start = std::chrono::steady_clock::now();
    const StatLog log = parse_stat_log(text);
    const Drawing drawing = draw_stat_log(log, {"long.log", 0});
    const std::string svg = svg_document(drawing);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("100000 sentences drawn in %.3f s, %zu bytes of SVG\n", seconds, svg.size());
    EXPECT_LT(seconds, 5.0); // well under a second in an optimised build
    EXPECT_LT(svg.size(), 1000000u);
    EXPECT_EQ(summarise(log)[0].breaks, 4u);
    EXPECT_EQ(with_role(drawing, "break").size(), 4u);
    EXPECT_FALSE(with_role(drawing, "tick-densest").empty());
}

TEST(StatPlot, TextFromTheLogIsEscaped) {
    const struct {
        std::string raw, escaped;
    } rows[] = {
        {"<script>&\"'", "&lt;script&gt;&amp;&quot;&apos;"},
        {"a\x01\x1b[2Jb", "a??[2Jb"},
        {"\xc3\xb0 \xb0 \xe2\x82", "\xc3\xb0 ? ??"}, // valid, lone and cut UTF-8
    };
    for (const auto& row : rows)
        EXPECT_EQ(svg_escaped(row.raw), row.escaped) << row.raw;
    const StatLog log = parse_stat_log(log_line(0, 0, "$<b>&,1*00") + log_line(100, 100, "$<b>&,1*00"));
    const std::string svg = svg_document(draw_stat_log(log, {"</svg><script>.log", 0}));
    EXPECT_EQ(svg.find("<script"), std::string::npos);
    EXPECT_NE(svg.find("&lt;b&gt;&amp;"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);
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
