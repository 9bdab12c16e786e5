// nav, mon and stat against simulated devices, watched as a technician sees
// them: the tool runs on a pseudo-terminal and a terminal model keeps the
// screen. Then the status and diagnostic reports.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <regex>
#include <sstream>

#include "expect.h"
#include "plot/drawing.h"
#include "plot/stat_log.h"
#include "screen.h"

namespace {

// The screen of what the tool wrote since it connected.
Screen screen_of(const std::string& out) {
    const size_t connected = out.find("Connected to");
    Screen screen;
    screen.feed(out.substr(connected == std::string::npos ? 0 : connected));
    return screen;
}

// The screen of what the tool wrote, as text for a message.
std::string text_of(const std::string& out) {
    const Screen screen = screen_of(out);
    std::string text;
    for (int r = 0; r < 50; ++r)
        text += screen.row(r) + "\n";
    return text;
}

// Reads the tool's output until shown(the output so far) holds, looking four
// times a second, 20 s at most.
bool wait_until_shown(ToolProcess& tool, const std::function<bool(const std::string&)>& shown) {
    for (int quarter = 0; quarter < 80 && !shown(tool.out()); ++quarter)
        tool.wait_until([](const std::string&) { return false; }, 250);
    return shown(tool.out());
}

// Runs one command of the tool on a terminal until shown(its output) holds,
// then types ESC. Faults given as control lines start once the tool is
// connected; meanwhile acts on the tool before the ESC.
ToolRun watch(Simulator& sim, const std::string& baud, const std::vector<std::string>& command,
              const std::function<bool(const std::string&)>& shown,
              const std::vector<std::string>& faults = {},
              const std::function<void(ToolProcess&)>& meanwhile = {}) {
    ToolProcess tool(concat({"-a", "-p", sim.port(), "-b", baud}, command), {}, "",
                     /*terminal=*/true);
    EXPECT_TRUE(tool.wait_for_output("Connected to", 15000));
    for (const std::string& fault : faults)
        sim.control(fault);
    EXPECT_TRUE(wait_until_shown(tool, shown)) << text_of(tool.out());
    if (meanwhile)
        meanwhile(tool);
    tool.send("\x1b");
    return tool.finish(30);
}

// The row of the last cursor move (counted from 0), -1 without one.
int last_cursor_row(const std::string& out) {
    const auto moves = all_matches(out, "\x1b\\[(\\d+);\\d+H");
    return moves.empty() ? -1 : std::stoi(moves.back()[1]) - 1;
}

// The numbers of the stat table row of an identifier: lengths, freq, avg,
// intv, avg, min, max, brk, cnt; none without the row.
std::vector<double> stat_row(const Screen& screen, const std::string& id) {
    std::vector<double> values;
    for (int r = 2; r < 50 && values.empty(); ++r) {
        if (screen.row(r).rfind(id + " ", 0) != 0)
            continue;
        std::string text = screen.row(r).substr(10);
        std::replace(text.begin(), text.end(), '-', ' ');
        std::istringstream in(text);
        for (double v; in >> v;)
            values.push_back(v);
    }
    return values;
}

struct LogLine {
    long ms;
    std::string sentence;
};

// The statistics log: "%6ld %4u: " and the sentence, a line each.
std::vector<LogLine> read_stat_log(const std::string& path) {
    std::vector<LogLine> lines;
    const std::string text = read_text_file(path);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const size_t colon = std::min(text.find(": ", at), end);
        lines.push_back({std::stol(text.substr(at, 6)), text.substr(colon + 2, end - colon)});
    }
    return lines;
}

// What the rows of the live display show.
const std::string UTC = "UTC: \\d\\d:\\d\\d:\\d\\d";
const std::string GPS =
    "GPS: Fix   DGPS: (yes|no ) HDOP: +\\d+\\.\\d\\d SNR: \\[[ \\d]\\d-[ \\d]\\d\\] Sat: \\d+";
const std::string POSITION =
    "\\d\\d°\\d\\d\\.\\d+' [NS] +\\d{3}°\\d\\d\\.\\d+' [EW] +Alt: \\d+\\.\\d M";
const std::string SOG = "SOG +\\d+\\.\\d  knots";
const std::string COG = "COG +\\d+\\.\\d  deg";
const std::string HEADING = "Heading    [TMC] +\\d+\\.\\d  deg";
const std::string ROT = "ROT        [PS] +\\d+\\.\\d+  deg/min";
const std::string HEAVE = "Heave +-?\\d+\\.\\d+  meter";
const std::string TEMP = "Temp +-?\\d+\\.\\d  °C";
const std::string PRESSURE = "Pressure +\\d+\\.\\d  hPa";

// The log as far as the table's last refresh: the table is drawn once a
// second, the log at every sentence. Each row keeps as many sentences as its
// count shows.
StatLog as_far_as_shown(StatLog log, const Screen& screen) {
    std::vector<uint32_t> left;
    for (const std::string& id : log.identifiers) {
        const std::vector<double> shown = stat_row(screen, id);
        left.push_back(shown.size() == 10 ? static_cast<uint32_t>(shown[9]) : 0);
    }
    std::erase_if(log.sentences, [&left](const LoggedSentence& s) {
        if (left[s.row] == 0)
            return true;
        --left[s.row];
        return false;
    });
    return log;
}

using Layout = std::map<int, std::string>; // what each row shows

bool shows(const Screen& screen, const Layout& layout) {
    return std::all_of(layout.begin(), layout.end(), [&](const auto& row) {
        return std::regex_match(screen.row(row.first), std::regex(row.second));
    });
}

} // namespace

// Each model's layout, with values where they belong; ESC leaves the cursor
// at the exit row. On the NC-4100 the window is resized at the end: the
// layout is drawn anew (the Heave label too) and the values come back with
// the next sentences.
TEST(Nav, LiveDisplayOfEachModel) {
    const struct {
        const char* model;
        const char* baud;
        Layout layout;
        int exit_row;
        bool resized;
    } models[] = {
        {"NC-4100", "38400",
         {{1, UTC}, {2, GPS}, {4, POSITION}, {6, HEADING}, {11, HEAVE}, {13, ROT}, {14, SOG},
          {15, COG}, {18, TEMP}, {19, PRESSURE}}, 23, true},
        {"NC-350", "4800", {{1, HEADING}, {8, ROT}, {10, TEMP}, {11, PRESSURE}}, 14, false},
        {"NC-210", "38400", {{1, UTC}, {2, GPS}, {4, POSITION}, {6, SOG}, {7, COG}}, 10, false}};
    for (const auto& m : models) {
        SCOPED_TRACE(m.model);
        START_SIMULATOR(sim, {"--model", m.model, "--baud", m.baud});
        const auto drawn = [&m](size_t times) {
            return [&m, times](const std::string& out) {
                return count_of(out, "press ECS to interrupt") == times &&
                       shows(screen_of(out), m.layout);
            };
        };
        const ToolRun run = watch(sim, m.baud, {"nav"}, drawn(1), {}, [&](ToolProcess& tool) {
            if (m.resized) {
                tool.signal(SIGWINCH);
                EXPECT_TRUE(wait_until_shown(tool, drawn(2))) << text_of(tool.out());
            }
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(shows(screen_of(run.out), m.layout)) << text_of(run.out);
        EXPECT_EQ(last_cursor_row(run.out), m.exit_row);
    }
}

TEST(Mon, ShowsTheRawStreamUntilEsc) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const ToolRun run = watch(sim, "38400", {"mon"}, [](const std::string& out) {
        return count_of(out, "$HEHDT,") >= 10 && count_of(out, "$PFEC,GPatt,") >= 10;
    });
    EXPECT_EQ(run.status, 0);
}

// The table at 38400 baud: a row per identifier (GSV and GSA groups per
// sentence), intervals as the device sends them, no errors on a clean line, the
// load once five seconds have passed; the log holds every sentence received.
TEST(Stat, TableAndLogOfACleanLine) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string log = temp_path("stat.log");
    const std::map<std::string, double> table = {
        {"HEHDT", 100},  {"HETHS", 100},  {"HEROT", 100},  {"GPatt", 100},   {"GPhev", 100},
        {"WIMDA", 1000}, {"GNGGA", 1000}, {"GNRMC", 1000}, {"GPGSV.1", 1000}};
    // Eight seconds of every sentence, at its average interval (stalls and all).
    const auto measured = [&](const Screen& s) {
        for (const auto& [id, interval] : table) {
            const std::vector<double> v = stat_row(s, id);
            if (v.size() != 10 || std::fabs(v[5] - interval) > interval / 5 ||
                v[9] < 8000 / interval)
                return false;
        }
        return std::regex_match(s.row(34),
                                std::regex("Utilization :  *[1-9]\\d* % \\[\\d+-\\d+\\]"));
    };
    const ToolRun run = watch(sim, "38400", {"stat", "-l", log},
                              [&](const std::string& out) { return measured(screen_of(out)); });
    const Screen s = screen_of(run.out);
    EXPECT_EQ(s.row(0), "Id       length  [freq  avg] [intv  avg  min  max] brk  cnt");
    EXPECT_TRUE(measured(s)) << text_of(run.out);
    EXPECT_EQ(stat_row(s, "GNGSA.1").size(), 10u);
    EXPECT_EQ(s.row(30), "Frame err   :   0");
    EXPECT_EQ(s.row(32), "Checksum err:   0");
    EXPECT_EQ(last_cursor_row(run.out), 37);

    // Every logged sentence is whole (which ones the framer takes:
    // StreamStats.*); their intervals follow the table.
    const std::vector<LogLine> lines = read_stat_log(log);
    ASSERT_GT(lines.size(), 400u);
    std::map<std::string, std::vector<long>> starts;
    for (const LogLine& line : lines) {
        EXPECT_TRUE(line.sentence[0] == '$' && line.sentence.ends_with("\r\n")) << line.sentence;
        starts[line.sentence.substr(line.sentence.rfind("$PFEC", 0) == 0 ? 6 : 1, 5)].push_back(
            line.ms);
    }
    // The log has whole milliseconds; this machine stalls now and then, so
    // the median judges and the mean is reported.
    std::vector<double> errors;
    for (const auto& [id, interval] : table) {
        const std::vector<long>& t = starts[id.substr(0, 5)];
        for (size_t i = 1; i < t.size() && id.find('.') == std::string::npos; ++i)
            errors.push_back(std::fabs(static_cast<double>(t[i] - t[i - 1]) - interval));
    }
    ASSERT_GT(errors.size(), 300u);
    std::sort(errors.begin(), errors.end());
    std::printf("stat at 38400: interval error against the device's table over %zu intervals: "
                "mean %.2f ms, median %.2f ms\n",
                errors.size(), std::accumulate(errors.begin(), errors.end(), 0.0) / errors.size(),
                errors[errors.size() / 2]);
    EXPECT_LE(errors[errors.size() / 2], 2.0);
}

// The picture of a stat log: a 3 s pause of the stream is a marked gap of
// about 3 s on every row, and the breaks are those stat counted, corrupted
// sentences and all. The picture renders with a real SVG renderer. Real
// captures drawn: StatPlot.RealCapturesDrawWithoutWarnings.
TEST(StatPlot, PauseAndBreaksOfALiveStreamArePictured) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string log_path = temp_path("paused.log");
    const auto pause_now = [&sim](ToolProcess& tool) {
        sim.control("corrupt 0.1");
        tool.wait_until([](const std::string&) { return false; }, 2000);
        sim.control("clear");
        sim.control("nmea off");
        tool.wait_until([](const std::string&) { return false; }, 3000);
        sim.control("nmea on");
        tool.wait_until([](const std::string&) { return false; }, 3500);
    };
    const ToolRun run = watch(sim, "38400", {"stat", "-l", log_path},
                              [](const std::string& out) { return screen_of(out).row(2).size() > 20; }, {}, pause_now);
    const Screen screen = screen_of(run.out);
    const StatLog log = parse_stat_log(read_text_file(log_path));
    ASSERT_GT(log.identifiers.size(), 8u);
    const std::vector<RowSummary> summary = summarise(log);
    const std::vector<RowSummary> summary_shown = summarise(as_far_as_shown(log, screen));
    const std::vector<Gap> gaps = find_gaps(log);
    // The pause, as the fastest sentence saw it, and on every row a marked gap
    // that spans it: a slower sentence may come back up to an interval later
    // (two, when the last one before the pause was corrupted).
    const size_t fastest = static_cast<size_t>(
        std::find(log.identifiers.begin(), log.identifiers.end(), "HEHDT") - log.identifiers.begin());
    const auto pause = std::max_element(gaps.begin(), gaps.end(), [&](const Gap& a, const Gap& b) {
        return (a.row == fastest ? a.length_ms : 0) < (b.row == fastest ? b.length_ms : 0);
    });
    ASSERT_EQ(pause->row, fastest);
    EXPECT_GE(pause->length_ms, 2800u);
    EXPECT_LE(pause->length_ms, 4500u);
    const int64_t pause_from = pause->end_ms - pause->length_ms;
    for (size_t row = 0; row < log.identifiers.size(); ++row) {
        const std::string& id = log.identifiers[row];
        const bool spanned = std::any_of(gaps.begin(), gaps.end(), [&](const Gap& gap) {
            return gap.row == row && gap.end_ms - gap.length_ms <= pause_from + 200 &&
                   gap.end_ms >= pause->end_ms - 200 &&
                   gap.length_ms <= pause->length_ms + 2 * summary[row].median_ms + 500;
        });
        EXPECT_TRUE(spanned) << id;
        const std::vector<double> shown = stat_row(screen, id);
        ASSERT_EQ(shown.size(), 10u) << id;
        EXPECT_EQ(summary_shown[row].breaks, static_cast<uint32_t>(shown[8])) << id;
        EXPECT_EQ(summary_shown[row].count, static_cast<uint32_t>(shown[9])) << id;
    }
    const std::string svg = temp_path("paused.svg");
    const ToolRun plotted = run_tool({log_path, "-o", svg}, "", {}, 30, NC_STAT_PLOT_PATH);
    EXPECT_EQ(plotted.status, 0);
    EXPECT_EQ(plotted.err, ""); // no warnings
    const std::string png = temp_path("paused.png");
    ASSERT_EQ(std::system(("rsvg-convert -o '" + png + "' '" + svg + "'").c_str()), 0);
    EXPECT_EQ(read_text_file(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

// Which lines each model's report holds, and what they say.
TEST(Status, LinesOfEachModel) {
    const char* const labels[] = {
        "System status", "Power On self Test", "Deviation calibration", "Deviation options",
        "Magnetic Deviation", "Magnetic variation", "GNSS  ", "Heading offset", "Roll offset",
        "Pitch offset", "Vertical offset", "Attitude filter", "NMEA-2000 bus", "Baudrate"};
    const struct {
        const char* model;
        const char* baud;
        const char* present; // of the labels
    } models[] = {{"NC-4100", "38400", "11111011111101"}, {"NC-350", "4800", "11111101111111"},
                  {"NC-210", "38400", "11000010000011"}, {"37-000042", "38400", "11000000000001"}};
    check_at_once(models, [&labels](const auto& m) {
        START_SIMULATOR(sim, {"--model", m.model, "--baud", m.baud});
        const ToolRun run = run_tool({"-a", "-q", "-p", sim.port(), "-b", m.baud, "status"});
        EXPECT_EQ(run.status, 0);
        std::string present;
        for (const char* label : labels)
            present += run.out.find(std::string("\n") + label) != std::string::npos ? "1" : "0";
        EXPECT_EQ(present, m.present) << m.model << run.out;
        EXPECT_TRUE(holds(run.out, "\nSystem status         OK\nPower On self Test    OK\n"));
        EXPECT_TRUE(
            holds(run.out, std::string("\nBaudrate              Info    ") + m.baud + "\n"));
    });
}

// Early NC-4100 software keeps the levelling in its static offsets: the total
// counts it once. An "event" that is not answered is no "OK": its label stays
// open, as the self test's does.
TEST(Status, OldSoftwareTotalsAndAnUnansweredEventQuery) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400", "--sw-version", "1.01"});
    START_AT_PROMPT(tool, {"-a", "-p", sim.port(), "-b", "38400"});
    tool.send("roll offset 1.5\n");
    ASSERT_TRUE(tool.wait_for_output("Static roll offset set to: 1.50 degrees\n\nnc> ", 10000));
    sim.control("drop 1");
    tool.send("status\nquit\n");
    const ToolRun run = tool.finish(60);
    EXPECT_TRUE(holds(run.out, "Roll offset           Info       1.50 degrees (static: 1.50, "
                               "autolevel: 1.50)\n"));
    EXPECT_TRUE(holds(run.out, "\nSystem status         Power On self Test    OK\n"));
    EXPECT_FALSE(holds(run.out, "Attitude filter"));
}

// The report file: named by model, serial and time, in the directory given
// (its name has a space), with the header, the status report, a block per
// answered command and a few seconds of the device's output; -q takes the
// dots away but not the result.
TEST(Diag, ReportFileInTheGivenDirectory) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400", "--serial", "4711"});
    const std::string dir = temp_folder("diag reports");
    const ToolRun quiet = run_tool({"-a", "-q", "-p", sim.port(), "-b", "38400", "diag", dir});
    std::smatch name;
    ASSERT_TRUE(std::regex_search(
        quiet.out, name, std::regex("\rDiagnostic report written to: (NC-4100_00004711_\\d{6}-\\d{6}\\.log)\n")))
        << quiet.out;
    const std::string text = read_text_file(dir + "/" + name[1].str());
    EXPECT_TRUE(std::regex_search(text, std::regex("^Diagnostic report, generated by NC-Service Tool, "
                                                   "version 1\\.5, at \\w{3} \\w{3} [ \\d]\\d "
                                                   "\\d\\d:\\d\\d:\\d\\d \\d{4}\n\n\nSystem status  ")))
        << text.substr(0, 200);
    EXPECT_TRUE(holds(text, "Baudrate              Info    38400\n\n> ver\r\n"));
    EXPECT_GE(count_of(text, "\n> "), 40u);
    // Five seconds of the default table.
    EXPECT_GE(all_matches(text, "\n\\d+: \\$[^\r\n]*\r\n").size(), 100u);
    EXPECT_TRUE(sim.wait_for_record(R"("text":"uptime r")", 1000));

    const ToolRun loud = run_tool({"-a", "-p", sim.port(), "-b", "38400", "diag", dir});
    EXPECT_TRUE(holds(loud.out, std::string(42, '.')));
    EXPECT_TRUE(holds(loud.out, "\rDiagnostic report written to: NC-4100_00004711_"));
}

// A report that cannot be written whole (here: the file size limit) ends
// with the error, never with "written to". Folders that are no folders:
// bad_file_paths_test.cpp.
TEST(Diag, FailedWriteIsReportedNotClaimedWritten) {
    START_SIMULATOR(sim, {"--model", "NC-210", "--baud", "38400"});
    const std::string dir = temp_folder("diag-small");
    const ToolRun full = run_tool(
        {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" -a -p \"$1\" -b 38400 diag \"$2\"",
         NC_SERVICE_PATH, sim.port(), dir}, "", {}, 60, "/bin/sh");
    EXPECT_TRUE(std::regex_search(full.err, std::regex("Error: writing NC-210_\\S+\\.log failed: File too large\n")))
        << full.err;
    EXPECT_FALSE(holds(full.out, "written to"));
}
