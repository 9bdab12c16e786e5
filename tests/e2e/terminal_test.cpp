// What a technician sees on a terminal (a pseudo-terminal whose screen a small
// terminal model keeps): the prompt's line editing, nav and stat; then the
// status and diagnostic reports. The monitor until ESC: Reconnect.*.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <regex>
#include <sstream>

#include "expect.h"
#include "plot/drawing.h"
#include "plot/stat_log.h"

namespace {

// A small model of the technician's terminal: the 80 by 50 grid the tool's output
// leaves on screen, so that tests read values where a person reads them.
class Screen {
  public:
    // Text (a UTF-8 character is one cell), CR, LF, backspace, ESC[r;cH, ESC[H,
    // ESC[2J, ESC[K, and the line editor's ESC[nG and ESC[n@; colours, cursor
    // visibility, the bell and the window title change nothing on the grid.
    void feed(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            const unsigned char ch = static_cast<unsigned char>(bytes[i]);
            if (ch == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                size_t end = i + 2;
                while (end < bytes.size() && !(bytes[end] >= 0x40 && bytes[end] <= 0x7e))
                    ++end;
                if (end < bytes.size())
                    escape(bytes.substr(i + 2, end - i - 1));
                i = end;
            } else if (ch == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == ']') {
                i = std::min(bytes.find('\a', i), bytes.size());
            } else if (ch == '\b') {
                column_ = std::max(0, column_ - 1);
            } else if (ch == '\r' || ch == '\n') {
                column_ = 0; // the tool's terminal maps LF to CR LF
                row_ += ch == '\n';
            } else if (ch >= 0xc0) {
                const size_t length = ch >= 0xf0 ? 4 : ch >= 0xe0 ? 3 : 2;
                put(bytes.substr(i, length));
                i += length - 1;
            } else if (ch >= 0x20) {
                put(std::string(1, static_cast<char>(ch)));
            }
        }
    }

    // A row without its trailing blanks.
    std::string row(int index) const {
        std::string text;
        for (const std::string& cell : cells_.at(static_cast<size_t>(index)))
            text += cell;
        return text.erase(text.find_last_not_of(' ') + 1);
    }

    std::string text() const { // every row, for a message
        std::string text;
        for (int r = 0; r < ROWS; ++r)
            text += row(r) + "\n";
        return text;
    }

  private:
    static constexpr int ROWS = 50, COLUMNS = 80;

    void put(const std::string& cell) {
        if (row_ < ROWS && column_ < COLUMNS)
            cells_[static_cast<size_t>(row_)][static_cast<size_t>(column_)] = cell;
        ++column_;
    }

    void escape(const std::string& sequence) {
        const char final = sequence.back();
        const int number = std::atoi(sequence.c_str());
        if (final == 'H') {
            const char* semicolon = std::strchr(sequence.c_str(), ';');
            row_ = std::max(0, number - 1);
            column_ = semicolon ? std::max(0, std::atoi(semicolon + 1) - 1) : 0;
        } else if (final == 'G') {
            column_ = std::max(0, number - 1);
        } else if (final == 'J' && sequence == "2J") {
            for (auto& line : cells_)
                std::fill(line.begin(), line.end(), " ");
        } else if ((final == '@' || final == 'K') && row_ < ROWS) {
            auto& line = cells_[static_cast<size_t>(row_)];
            const auto at = line.begin() + std::min(COLUMNS, column_);
            // Blanks inserted at the cursor shift the rest of the row; ESC[K
            // inserts as many as shift all of it away.
            const long left = line.end() - at;
            const long count = final == 'K' ? left : std::min<long>(left, std::max(1, number));
            line.insert(at, static_cast<size_t>(count), " ");
            line.resize(COLUMNS);
        }
    }

    std::vector<std::vector<std::string>> cells_ =
        std::vector<std::vector<std::string>>(ROWS, std::vector<std::string>(COLUMNS, " "));
    int row_ = 0;
    int column_ = 0;
};

const std::string ABOUT_TEXT = "NC_Service Tool, version";
const std::string UP = "\x1b[A";

// nc-service on a terminal, with its own home folder, once it shows first.
std::unique_ptr<ToolProcess> start_on_terminal(const std::string& port, const std::string& home,
                                              const std::vector<std::string>& options = {},
                                              const std::string& first = "nc> ") {
    auto tool = std::make_unique<ToolProcess>(
        concat(options, {"-p", port, "-b", "38400"}),
        std::map<std::string, std::string>{{"HOME", home}, {"NO_COLOR", "1"}}, "", /*terminal=*/true);
    EXPECT_TRUE(tool->wait_for_output(first, 15000)) << tool->out();
    return tool;
}

// The screen of what the tool wrote since it connected.
Screen screen_of(const std::string& out) {
    const size_t connected = out.find("Connected to");
    Screen screen;
    screen.feed(out.substr(connected == std::string::npos ? 0 : connected));
    return screen;
}

// The last row on screen that starts with the prompt.
std::string last_prompt_row(const std::string& out) {
    const Screen screen = screen_of(out);
    std::string row;
    for (int r = 0; r < 50; ++r)
        row = screen.row(r).rfind("nc> ", 0) == 0 ? screen.row(r) : row;
    return row;
}

// Types keys, then waits until the line being edited reads line (trailing
// blanks aside).
bool typed(ToolProcess& tool, const std::string& keys, const std::string& line) {
    tool.send(keys);
    return tool.wait_until([&](const std::string& out) { return last_prompt_row(out) == "nc> " + line; },
                           5000);
}

// Waits until the tool waits at an empty prompt: keys typed before it are
// read as a whole line, not edited.
bool wait_for_prompt(ToolProcess& tool) {
    return tool.wait_until([](const std::string& out) { return out.ends_with("nc> "); }, 5000);
}

void read_for(ToolProcess& tool, int ms) {
    tool.wait_until([](const std::string&) { return false; }, ms);
}

// Reads until shown(the output so far) holds, looking four times a second (a
// screen is costly to build), 20 s at most.
bool wait_until_shown(ToolProcess& tool, const std::function<bool(const std::string&)>& shown) {
    for (int quarter = 0; quarter < 80 && !shown(tool.out()); ++quarter)
        read_for(tool, 250);
    return shown(tool.out());
}

// Runs one command of the tool on a terminal until shown(its output) holds,
// then acts on the tool (meanwhile) and types ESC.
ToolRun watch(Simulator& sim, const std::string& baud, const std::vector<std::string>& command,
              const std::function<bool(const std::string&)>& shown,
              const std::function<void(ToolProcess&)>& meanwhile = {}) {
    ToolProcess tool(concat({"-a", "-p", sim.port(), "-b", baud}, command), {}, "",
                     /*terminal=*/true);
    EXPECT_TRUE(tool.wait_for_output("Connected to", 15000));
    EXPECT_TRUE(wait_until_shown(tool, shown)) << screen_of(tool.out()).text();
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
    for (int r = 2; r < 50; ++r) {
        if (screen.row(r).rfind(id + " ", 0) == 0) {
            std::string text = screen.row(r).substr(10);
            std::replace(text.begin(), text.end(), '-', ' ');
            std::istringstream in(text);
            return {std::istream_iterator<double>(in), std::istream_iterator<double>()};
        }
    }
    return {};
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

using Layout = std::map<int, std::string>; // what each row shows

bool shows(const Screen& screen, const Layout& layout) {
    return std::all_of(layout.begin(), layout.end(), [&](const auto& row) {
        return std::regex_match(screen.row(row.first), std::regex(row.second));
    });
}

// The log as far as the table's last refresh (drawn once a second, the log at
// every sentence): each row keeps as many sentences as its count shows.
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

} // namespace

// The prompt: Tab completes what the connected model takes (on an NC-4100 only
// sentences follows nmea0183) and the completed line runs as typed; a line over
// 255 characters is refused whole, as from a pipe; earlier lines come back after
// a restart; Ctrl-C in the middle of an edit leaves the terminal as it was.
TEST(LineEditing, TabCompletesWhatTheModelTakesAndUpRecallsEarlierLines) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string home = temp_folder("home");
    auto tool = start_on_terminal(sim.port(), home);
    EXPECT_TRUE(typed(*tool, "nmea0\t", "nmea0183"));
    EXPECT_TRUE(typed(*tool, "\t", "nmea0183 sentences")) << tool->out();
    EXPECT_TRUE(tool->send_and_wait("\r", "HDT:", 5000)) << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    EXPECT_TRUE(tool->send_and_wait("deviation \t", "calibration  options\r\n", 5000));
    EXPECT_TRUE(typed(*tool, "", "deviation"));
    const std::string folder = temp_folder("files");
    std::filesystem::create_directory(folder + "/reports");
    std::ofstream(folder + "/my stats.log") << "";
    EXPECT_TRUE(typed(*tool, "\x15stat -l " + folder + "/my\t",
                      "stat -l \"" + folder + "/my stats.log\"")) << tool->out();
    EXPECT_TRUE(typed(*tool, "\x15" "diag " + folder + "/r\t", "diag " + folder + "/reports/"))
        << tool->out();
    EXPECT_TRUE(tool->send_and_wait("\x15" "about" + std::string(251, ' ') + "about\r",
                                    "Error: Line too long, at most 255 characters\r\n", 5000));
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    ASSERT_TRUE(tool->send_and_wait("about\r", ABOUT_TEXT, 5000));
    tool->send("quit\r");
    const ToolRun edited = tool->finish(20);
    EXPECT_EQ(edited.status, 0);
    EXPECT_EQ(count_of(edited.out, ABOUT_TEXT), 1u); // none from the long line
    tool = start_on_terminal(sim.port(), home);
    // quit is the latest line, about the one before
    EXPECT_TRUE(tool->send_and_wait(UP + UP + "\r", ABOUT_TEXT, 5000)) << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    // Ctrl-C (as SIGTERM and SIGHUP: Console.TerminatingSignal*) ends the tool
    // through its closing steps, by the signal: the shell is told goodbye, the
    // port released without its exclusive flag, and the terminal gets back
    // every setting it had.
    ASSERT_TRUE(typed(*tool, "help na", "help na")) << tool->out();
    tool->send("\x03");
    const ToolRun run = tool->finish(20);
    EXPECT_EQ(run.signal, SIGINT) << run.out << run.err;
    EXPECT_TRUE(tool->terminal_as_before());
    EXPECT_TRUE(sim.wait_for_record(R"("text":"exit\u000d")", 2000, 2)) << sim.record();
    EXPECT_TRUE(sim.wait_for_record("\"port released\"", 2000, 2)) << sim.record();
    EXPECT_FALSE(holds(sim.record(), "exclusive flag set"));
    EXPECT_EQ(run.out.find("\x1b[?25l", run.out.rfind("nc> ")), std::string::npos);
}

// -w at start-up waits for a device to appear. A hang-up while a line is being
// typed: the wait counts down, and when the device is back the line is there to
// finish. ESC ends a wait for a device that stays away, the terminal left as
// found. A wait that runs out: the rig.
TEST(LineEditing, LineBeingTypedOutlivesAHangUpAndEscEndsTheWait) {
    const std::string link = temp_path("compass");
    auto tool = start_on_terminal(link, temp_folder("home"), {"-w", "30"},
                                  "Waiting up to 30 s for a device, press ESC or Ctrl-C to stop");
    START_SIMULATOR(sim, {"--model", "NC-4100", "--link", link, "--serial", "41"});
    ASSERT_TRUE(tool->wait_for_output("nc> ", 20000)) << tool->out();
    ASSERT_TRUE(typed(*tool, "sta", "sta"));
    sim.control("hangup 1000");
    EXPECT_TRUE(tool->wait_for_output(" s left ", 5000, count_of(tool->out(), " s left ") + 1));
    ASSERT_TRUE(tool->wait_for_output("Connected to NC-4100", 15000, 2)) << tool->out();
    ASSERT_TRUE(typed(*tool, "", "sta")) << tool->out();
    ASSERT_TRUE(tool->send_and_wait("tus\r", "Baudrate              Info    38400", 15000))
        << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool));
    sim.control("hangup");
    ASSERT_TRUE(tool->wait_for_output("Waiting up to 30 s for NC-4100 (serial:00000041)", 5000, 2));
    EXPECT_TRUE(tool->send_and_wait("\x1b", "No devices found", 5000)) << tool->out();
    const ToolRun run = tool->finish(60);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(tool->terminal_as_before());
}

// Each model's layout, with values where they belong; ESC leaves the cursor at
// the exit row. A resized window (NC-4100) gets the layout anew, the Heave
// label too, and the values with the next sentences.
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
    check_at_once(models, [](const auto& m) {
        SCOPED_TRACE(m.model);
        START_SIMULATOR(sim, {"--model", m.model, "--baud", m.baud});
        const auto drawn = [&m](size_t times) {
            return [&m, times](const std::string& out) {
                return count_of(out, "press ECS to interrupt") == times &&
                       shows(screen_of(out), m.layout);
            };
        };
        const ToolRun run = watch(sim, m.baud, {"nav"}, drawn(1), [&](ToolProcess& tool) {
            if (m.resized) {
                tool.signal(SIGWINCH);
                EXPECT_TRUE(wait_until_shown(tool, drawn(2))) << screen_of(tool.out()).text();
            }
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(shows(screen_of(run.out), m.layout)) << screen_of(run.out).text();
        EXPECT_EQ(last_cursor_row(run.out), m.exit_row);
    });
}

// The table at 38400 baud: a row per identifier (GSV and GSA groups per
// sentence), intervals as the device sends them, no errors on a clean line, the
// load once five seconds have passed; the log holds every sentence received.
TEST(Stat, TableAndLogOfACleanLine) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string log_path = temp_path("stat.log");
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
    const ToolRun run = watch(sim, "38400", {"stat", "-l", log_path},
                              [&](const std::string& out) { return measured(screen_of(out)); });
    const Screen s = screen_of(run.out);
    EXPECT_EQ(s.row(0), "Id       length  [freq  avg] [intv  avg  min  max] brk  cnt");
    EXPECT_EQ(stat_row(s, "GNGSA.1").size(), 10u);
    EXPECT_EQ(s.row(30), "Frame err   :   0");
    EXPECT_EQ(s.row(32), "Checksum err:   0");
    EXPECT_EQ(last_cursor_row(run.out), 37);

    // Every logged sentence is whole (which ones the framer takes:
    // StreamStats.*), and the arrivals follow the table. The log has whole
    // milliseconds; this machine stalls now and then, so the median judges and
    // the mean is reported.
    const StatLog log = parse_stat_log(read_text_file(log_path));
    EXPECT_EQ(log.bad_lines, 0u);
    ASSERT_GT(log.sentences.size(), 400u);
    std::vector<double> errors;
    std::map<size_t, int64_t> last; // arrival, by row
    for (const LoggedSentence& logged : log.sentences) {
        const auto interval = table.find(log.identifiers[logged.row]);
        if (interval != table.end() && last.count(logged.row))
            errors.push_back(std::fabs(double(logged.ms - last[logged.row]) - interval->second));
        last[logged.row] = logged.ms;
    }
    ASSERT_GT(errors.size(), 300u);
    std::sort(errors.begin(), errors.end());
    std::printf("stat at 38400: interval error over %zu intervals: mean %.2f ms, median %.2f ms\n",
                errors.size(), std::accumulate(errors.begin(), errors.end(), 0.0) / errors.size(),
                errors[errors.size() / 2]);
    EXPECT_LE(errors[errors.size() / 2], 2.0);
}

// The picture of a stat log: a 3 s pause of the stream is a marked gap of about
// 3 s on every row, the breaks are those stat counted, corrupted sentences and
// all, and a real SVG renderer takes it. Real captures: StatPlot.RealCaptures*.
TEST(StatPlot, PauseAndBreaksOfALiveStreamArePictured) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string log_path = temp_path("paused.log");
    const auto pause_now = [&sim](ToolProcess& tool) {
        sim.control("corrupt 0.1");
        read_for(tool, 2000);
        sim.control("clear");
        sim.control("nmea off");
        read_for(tool, 3000);
        sim.control("nmea on");
        read_for(tool, 3500);
    };
    const ToolRun run = watch(sim, "38400", {"stat", "-l", log_path}, [](const std::string& out) {
        return screen_of(out).row(2).size() > 20;
    }, pause_now);
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
        EXPECT_TRUE(std::any_of(gaps.begin(), gaps.end(), [&](const Gap& gap) {
            return gap.row == row && gap.end_ms - gap.length_ms <= pause_from + 200 &&
                   gap.end_ms >= pause->end_ms - 200 &&
                   gap.length_ms <= pause->length_ms + 2 * summary[row].median_ms + 500;
        })) << id;
        const std::vector<double> shown = stat_row(screen, id);
        ASSERT_EQ(shown.size(), 10u) << id;
        EXPECT_EQ(summary_shown[row].breaks, static_cast<uint32_t>(shown[8])) << id;
        EXPECT_EQ(summary_shown[row].count, static_cast<uint32_t>(shown[9])) << id;
    }
    const std::string svg = temp_path("paused.svg"), png = temp_path("paused.png");
    const ToolRun plotted = run_tool({log_path, "-o", svg}, "", {}, 30, NC_STAT_PLOT_PATH);
    EXPECT_EQ(plotted.status, 0);
    EXPECT_EQ(plotted.err, ""); // no warnings
    ASSERT_EQ(std::system(("rsvg-convert -o '" + png + "' '" + svg + "'").c_str()), 0);
    EXPECT_EQ(read_text_file(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

// Which lines each model's report holds, and what they say. Early NC-4100
// software keeps the levelling in its static offsets: the total counts it once.
// An unanswered "event" is no "OK": its label stays open, as the self test's.
TEST(Status, LinesOfEachModel) {
    const char* const labels[] = {
        "System status", "Power On self Test", "Deviation calibration", "Deviation options",
        "Magnetic Deviation", "Magnetic variation", "GNSS  ", "Heading offset", "Roll offset",
        "Pitch offset", "Vertical offset", "Attitude filter", "NMEA-2000 bus", "Baudrate"};
    const std::string all_ok = "\nSystem status         OK\nPower On self Test    OK\n";
    const struct {
        std::vector<std::string> sim;
        const char* present; // of the labels
        std::vector<std::string> lines = {};
        bool old = false; // with a roll offset, and the event query unanswered
    } models[] = {
        {{"--model", "NC-4100"}, "11111011111101", {all_ok}},
        {{"--model", "NC-350", "--baud", "38400"}, "11111101111111", {all_ok}},
        {{"--model", "NC-210"}, "11000010000011", {all_ok}},
        {{"--model", "37-000042"}, "11000000000001", {all_ok}},
        {{"--model", "NC-4100", "--sw-version", "1.01"}, "10101011111001",
         {"\nSystem status         Power On self Test    OK\n",
          "Roll offset           Info       1.50 degrees (static: 1.50, autolevel: 1.50)\n"}, true},
    };
    check_at_once(models, [&labels](const auto& m) {
        START_SIMULATOR(sim, m.sim);
        START_AT_PROMPT(tool, {"-a", "-q", "-p", sim.port(), "-b", "38400"});
        if (m.old) {
            ASSERT_TRUE(tool.send_and_wait("roll offset 1.5\n", "nc> ", 10000, 2));
            sim.control("drop 1");
        }
        tool.send("status\nquit\n");
        const ToolRun run = tool.finish(60);
        std::string present;
        for (const char* label : labels)
            present += holds(run.out, std::string("\n") + label) ? "1" : "0";
        EXPECT_EQ(present, m.present) << m.sim[1] << run.out;
        for (const std::string& line : concat(m.lines, {"\nBaudrate              Info    38400\n"}))
            EXPECT_TRUE(holds(run.out, line));
    });
}

// The report file: named by model, serial and time, in the directory given (with
// a space), holding the header, the status report, a block per answered command
// and seconds of the device's output; -q takes the dots away, not the result. A
// report cut by the file size limit ends in the error. Bad folders: BadPromptLines.*.
TEST(Diag, ReportFileInTheGivenDirectory) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400", "--serial", "4711"});
    const std::string dir = temp_folder("diag reports");
    const ToolRun quiet = run_tool({"-a", "-q", "-p", sim.port(), "-b", "38400", "diag", dir});
    const auto written = all_matches(
        quiet.out, "\rDiagnostic report written to: (NC-4100_00004711_\\d{6}-\\d{6}\\.log)\n");
    ASSERT_EQ(written.size(), 1u) << quiet.out;
    const std::string text = read_text_file(dir + "/" + written[0][1]);
    EXPECT_TRUE(matches(text, "^Diagnostic report, generated by NC-Service Tool, version 1\\.5, at "
                              "\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n\n\n"
                              "System status  "));
    EXPECT_TRUE(holds(text, "Baudrate              Info    38400\n\n> ver\r\n"));
    EXPECT_GE(count_of(text, "\n> "), 40u);
    // Five seconds of the default table.
    EXPECT_GE(all_matches(text, "\n\\d+: \\$[^\r\n]*\r\n").size(), 100u);
    EXPECT_TRUE(sim.wait_for_record(R"("text":"uptime r")", 1000));
    const ToolRun loud = run_tool({"-a", "-p", sim.port(), "-b", "38400", "diag", dir});
    EXPECT_TRUE(holds(loud.out, std::string(42, '.')));
    EXPECT_TRUE(holds(loud.out, "\rDiagnostic report written to: NC-4100_00004711_"));
    const ToolRun full = run_tool(
        {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" -a -p \"$1\" -b 38400 diag \"$2\"",
         NC_SERVICE_PATH, sim.port(), dir}, "", {}, 60, "/bin/sh");
    EXPECT_TRUE(matches(full.err, "Error: writing NC-4100_\\S+\\.log failed: File too large\n"));
    EXPECT_FALSE(holds(full.out, "written to"));
}
