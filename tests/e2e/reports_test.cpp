// nav, mon and stat against simulated devices, watched as a technician sees
// them: the tool runs on a pseudo-terminal and a terminal model keeps the
// screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "harness.h"
#include "screen.h"

namespace {

const std::string CAPTURES = std::string(NC_SOURCE_DIR) + "/../shared/data/nmea";

struct Watched {
    Screen screen;
    ToolRun run;
};

// Runs one command of the tool on a terminal for about seconds, then ESC.
// Faults given as control lines start once the tool is connected.
Watched watch(Simulator& sim, const std::string& baud, std::vector<std::string> command,
              double seconds, const std::function<void(ToolProcess&)>& meanwhile = {},
              const std::vector<std::string>& faults = {}) {
    std::vector<std::string> args = {"-a", "-p", sim.port(), "-b", baud};
    args.insert(args.end(), command.begin(), command.end());
    ToolProcess tool(args, {}, "", /*terminal=*/true);
    EXPECT_TRUE(tool.wait_for_output("Connected to", 15000));
    for (const std::string& fault : faults)
        sim.control(fault);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
    if (meanwhile)
        meanwhile(tool);
    tool.send("\x1b");
    Watched watched;
    watched.run = tool.finish(30);
    const size_t connected = watched.run.out.find("Connected to");
    watched.screen.feed(watched.run.out.substr(connected == std::string::npos ? 0 : connected));
    return watched;
}

// The row of the last cursor move (counted from 0), -1 without one.
int last_cursor_row(const std::string& out) {
    const std::regex move("\x1b\\[(\\d+);\\d+H");
    int row = -1;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), move); it != std::sregex_iterator(); ++it)
        row = std::stoi((*it)[1]) - 1;
    return row;
}

int row_starting(const Screen& screen, const std::string& start) {
    for (int r = 0; r < 50; ++r)
        if (screen.row(r).rfind(start, 0) == 0)
            return r;
    return -1;
}

// The numbers of a stat table row after its Id.
std::vector<double> numbers_of(const std::string& row) {
    std::vector<double> values;
    std::string text = row.substr(10);
    for (char& ch : text)
        if (ch == '-')
            ch = ' ';
    std::istringstream in(text);
    for (double v; in >> v;)
        values.push_back(v);
    return values;
}

bool well_formed(const std::string& sentence) {
    if (sentence.size() < 5 || sentence.size() > 82 || sentence[0] != '$' ||
        sentence.substr(sentence.size() - 2) != "\r\n")
        return false;
    const std::string body = sentence.substr(1, sentence.size() - 3);
    const size_t star = body.find('*');
    unsigned sum = 0;
    for (size_t i = 0; i < std::min(star, body.size()); ++i) {
        const unsigned char ch = static_cast<unsigned char>(body[i]);
        if (ch < 0x20 || ch > 0x7e || ch == '$')
            return false;
        sum ^= ch;
    }
    if (star == std::string::npos)
        return true;
    return body.size() == star + 3 && std::isxdigit(static_cast<unsigned char>(body[star + 1])) &&
           std::isxdigit(static_cast<unsigned char>(body[star + 2])) &&
           std::stoul(body.substr(star + 1, 2), nullptr, 16) == sum;
}

struct LogLine {
    long ms;
    std::string sentence;
};

std::vector<LogLine> read_stat_log(const std::string& path) {
    std::vector<LogLine> lines;
    const std::string text = read_text_file(path);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            break;
        const std::string line = text.substr(at, end + 2 - at);
        const size_t colon = line.find(": ");
        if (colon == std::string::npos)
            break;
        lines.push_back({std::stol(line.substr(0, 6)), line.substr(colon + 2)});
        at = end + 2;
    }
    return lines;
}

} // namespace

// Each model's layout, with values where they belong; ESC leaves the cursor
// at the exit row. On the NC-4100 the window is resized at the end: the
// layout is drawn anew and the values come back with the next sentences.
TEST(Nav, LiveDisplayOfEachModel) {
    struct {
        const char* model;
        const char* baud;
        int heading_row, rot_row, sog_row, meteo_row, exit_row;
        bool resized;
    } models[] = {{"NC-4100", "38400", 6, 13, 14, 18, 23, true},
                  {"NC-350", "4800", 1, 8, 0, 10, 14, false},
                  {"NC-210", "38400", 0, 0, 6, 0, 10, false}};
    for (const auto& m : models) {
        Simulator sim({"--model", m.model, "--baud", m.baud});
        ASSERT_TRUE(sim.running());
        const Watched w = watch(sim, m.baud, {"nav"}, m.resized ? 1.5 : 3.5, [&](ToolProcess& tool) {
            if (m.resized) { // two cycles of the slowest sentences to fill the new layout
                tool.signal(SIGWINCH);
                std::this_thread::sleep_for(std::chrono::milliseconds(2000));
            }
        });
        const Screen& s = w.screen;
        SCOPED_TRACE(m.model);
        EXPECT_EQ(w.run.status, 0) << w.run.out;
        if (m.sog_row) {
            EXPECT_TRUE(std::regex_match(s.row(1), std::regex("UTC: \\d\\d:\\d\\d:\\d\\d"))) << s.row(1);
            EXPECT_TRUE(std::regex_match(s.row(2), std::regex("GPS: Fix   DGPS: (yes|no ) HDOP: +\\d+\\.\\d\\d SNR: \\[[ \\d]\\d-[ \\d]\\d\\] Sat: \\d+")))
                << s.row(2);
            EXPECT_TRUE(std::regex_search(s.row(4), std::regex("^\\d\\d°\\d\\d\\.\\d+' [NS] +\\d{3}°\\d\\d\\.\\d+' [EW] +Alt: \\d+\\.\\d M$")))
                << s.row(4);
            EXPECT_TRUE(std::regex_match(s.row(m.sog_row), std::regex("SOG +\\d+\\.\\d  knots")))
                << s.row(m.sog_row);
            EXPECT_TRUE(std::regex_match(s.row(m.sog_row + 1), std::regex("COG +\\d+\\.\\d  deg")))
                << s.row(m.sog_row + 1);
        }
        if (m.heading_row) {
            EXPECT_TRUE(std::regex_match(s.row(m.heading_row), std::regex("Heading    [TMC] +\\d+\\.\\d  deg")))
                << s.row(m.heading_row);
            EXPECT_TRUE(std::regex_match(s.row(m.rot_row), std::regex("ROT        [PS] +\\d+\\.\\d+  deg/min")))
                << s.row(m.rot_row);
            EXPECT_TRUE(std::regex_match(s.row(m.meteo_row), std::regex("Temp +-?\\d+\\.\\d  °C")))
                << s.row(m.meteo_row);
            EXPECT_TRUE(std::regex_match(s.row(m.meteo_row + 1), std::regex("Pressure +\\d+\\.\\d  hPa")))
                << s.row(m.meteo_row + 1);
        }
        EXPECT_EQ(last_cursor_row(w.run.out), m.exit_row);
        EXPECT_EQ(count_of(w.run.out, "press ECS to interrupt"), m.resized ? 2u : 1u);
    }
}

TEST(Mon, ShowsTheRawStreamUntilEsc) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400"});
    ASSERT_TRUE(sim.running());
    const Watched w = watch(sim, "38400", {"mon"}, 2);
    EXPECT_EQ(w.run.status, 0);
    EXPECT_GE(count_of(w.run.out, "$HEHDT,"), 10u);
    EXPECT_GE(count_of(w.run.out, "$PFEC,GPatt,"), 10u);
}

// The table at 38400 baud: a row per identifier (GSV and GSA groups per
// sentence), intervals as the device sends them, no errors on a clean line, the
// load once five seconds have passed; the log holds every sentence received.
TEST(Stat, TableAndLogOfACleanLine) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400"});
    ASSERT_TRUE(sim.running());
    const std::string log = temp_path("stat.log");
    const Watched w = watch(sim, "38400", {"stat", "-l", log}, 10.5);
    const Screen& s = w.screen;
    EXPECT_EQ(s.row(0), "Id       length  [freq  avg] [intv  avg  min  max] brk  cnt");
    const std::map<std::string, double> table = {{"HEHDT", 100}, {"HETHS", 100}, {"HEROT", 100},
                                                 {"GPatt", 100}, {"GPhev", 100}, {"WIMDA", 1000},
                                                 {"GNGGA", 1000}, {"GNRMC", 1000}, {"GPGSV.1", 1000}};
    for (const auto& [id, interval] : table) {
        const int r = row_starting(s, id + " ");
        ASSERT_GE(r, 2) << id;
        const std::vector<double> v = numbers_of(s.row(r)); // lengths, freq, avg, intv, avg, min, max, brk, cnt
        ASSERT_EQ(v.size(), 10u) << s.row(r);
        EXPECT_NEAR(v[5], interval, interval / 5) << s.row(r); // the average, stalls and all
        EXPECT_GE(v[9], 7000 / interval) << s.row(r);
    }
    EXPECT_GE(row_starting(s, "GNGSA.1 "), 2);
    EXPECT_EQ(s.row(30), "Frame err   :   0");
    EXPECT_EQ(s.row(32), "Checksum err:   0");
    EXPECT_TRUE(std::regex_match(s.row(34), std::regex("Utilization :  *[1-9]\\d* % \\[\\d+-\\d+\\]")))
        << s.row(34);
    EXPECT_EQ(last_cursor_row(w.run.out), 37);

    // Every logged sentence is well formed; its intervals follow the table.
    const std::vector<LogLine> lines = read_stat_log(log);
    ASSERT_GT(lines.size(), 400u);
    std::map<std::string, std::vector<long>> starts;
    for (const LogLine& line : lines) {
        EXPECT_TRUE(well_formed(line.sentence)) << line.sentence;
        const std::string id = line.sentence.rfind("$PFEC", 0) == 0 ? line.sentence.substr(6, 5)
                                                                   : line.sentence.substr(1, 5);
        starts[id].push_back(line.ms);
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
    double sum = 0;
    for (double e : errors)
        sum += e;
    std::sort(errors.begin(), errors.end());
    std::printf("stat at 38400: interval error against the device's table over %zu intervals: "
                "mean %.2f ms, median %.2f ms\n",
                errors.size(), sum / errors.size(), errors[errors.size() / 2]);
    EXPECT_LE(errors[errors.size() / 2], 2.0);
}

// Faults on the line are counted, not entered in the table: sentences with a
// wrong checksum, and noise that breaks sentences apart; at 4800 baud.
TEST(Stat, FaultsAreCountedAt4800) {
    Simulator sim({"--model", "NC-350", "--baud", "4800"});
    ASSERT_TRUE(sim.running());
    const std::string log = temp_path("stat-faults.log");
    const Watched w = watch(sim, "4800", {"stat", "-l", log}, 6, {}, {"corrupt 0.2", "noise 0.2"});
    const Screen& s = w.screen;
    const int hdt = row_starting(s, "HEHDT ");
    ASSERT_GE(hdt, 2) << w.run.out;
    EXPECT_GE(numbers_of(s.row(hdt))[9], 10) << s.row(hdt); // counted despite the faults
    EXPECT_TRUE(std::regex_match(s.row(30), std::regex("Frame err   : *[1-9]\\d*"))) << s.row(30);
    EXPECT_TRUE(std::regex_match(s.row(32), std::regex("Checksum err: *[1-9]\\d*"))) << s.row(32);
    for (const LogLine& line : read_stat_log(log))
        EXPECT_TRUE(well_formed(line.sentence)) << line.sentence;
}

// Receivers' real output replayed by the simulator: the statistics log holds
// exactly the sentences a correct framer takes from it, in order.
TEST(Stat, ReplayedCapturesAreLoggedSentenceForSentence) {
    if (!std::filesystem::exists(CAPTURES))
        GTEST_SKIP() << "no captures at " << CAPTURES;
    for (const char* name : {"beidou-bd.log", "bundg_zeus_9.log", "gp-320fw-2019-04-07-coldboot.log",
                             "hemi.log", "hp58534a.log", "magellan-ec10.log", "pypilot.log", "rst39.log",
                             "saab-r4.log", "skytraq-PX1172RH_DS.log"}) {
        SCOPED_TRACE(name);
        const std::string capture = CAPTURES + "/" + name;
        // What goes on the line, and what of it a correct framer takes: garbage
        // before a "$" is skipped, a "$" starts a sentence anew, a sentence must
        // be whole and its checksum right.
        std::vector<std::string> expected;
        std::ifstream file(capture, std::ios::binary);
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line[0] == '#')
                continue;
            const size_t dollar = line.rfind('$');
            if (dollar != std::string::npos && well_formed(line.substr(dollar) + "\r\n"))
                expected.push_back(line.substr(dollar) + "\r\n");
        }
        ASSERT_FALSE(expected.empty());

        Simulator sim({"--model", "NC-4100", "--baud", "38400", "--replay", capture});
        ASSERT_TRUE(sim.running());
        const std::string log = temp_path("replay.log");
        watch(sim, "38400", {"stat", "-l", log}, 3);
        const std::vector<LogLine> logged = read_stat_log(log);
        ASSERT_GT(logged.size(), 10u);
        // The log starts somewhere in the repeated capture; from there it
        // follows it sentence for sentence.
        bool matched = false;
        for (size_t start = 0; start < expected.size() && !matched; ++start) {
            matched = true;
            for (size_t i = 0; i < logged.size() && matched; ++i)
                matched = logged[i].sentence == expected[(start + i) % expected.size()];
        }
        EXPECT_TRUE(matched) << "first logged: " << logged[0].sentence;
    }
}

namespace {

const char* const STATUS_LABELS[] = {
    "System status", "Power On self Test", "Deviation calibration", "Deviation options",
    "Magnetic Deviation", "Magnetic variation", "GNSS  ", "Heading offset", "Roll offset",
    "Pitch offset", "Vertical offset", "Attitude filter", "NMEA-2000 bus", "Baudrate"};

std::string labels_in(const std::string& report) {
    std::string present;
    for (const char* label : STATUS_LABELS)
        present += report.find(std::string("\n") + label) != std::string::npos ? "1" : "0";
    return present;
}

} // namespace

// Which lines each model's report holds, in order, and what they say.
TEST(Status, LinesOfEachModel) {
    const struct {
        const char* model;
        const char* baud;
        const char* labels; // STATUS_LABELS present
    } models[] = {{"NC-4100", "38400", "11111011111101"},
                  {"NC-350", "4800", "11111101111111"},
                  {"NC-210", "38400", "11000010000011"},
                  {"37-000042", "38400", "11000000000001"}};
    for (const auto& m : models) {
        Simulator sim({"--model", m.model, "--baud", m.baud});
        ASSERT_TRUE(sim.running());
        const ToolRun run = run_tool({"-a", "-q", "-p", sim.port(), "-b", m.baud, "status"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(labels_in(run.out), m.labels) << m.model << run.out;
        EXPECT_NE(run.out.find("\nSystem status         OK\nPower On self Test    OK\n"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find(std::string("\nBaudrate              Info    ") + m.baud + "\n"),
                  std::string::npos);
    }
}

// Early NC-4100 software keeps the levelling in its static offsets: the total
// counts it once. An "event" that is not answered is no "OK": its label stays
// open, as the self test's does.
TEST(Status, OldSoftwareTotalsAndAnUnansweredEventQuery) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400", "--sw-version", "1.01"});
    ASSERT_TRUE(sim.running());
    ToolProcess tool({"-a", "-p", sim.port(), "-b", "38400"});
    ASSERT_TRUE(tool.wait_for_output("nc> ", 15000));
    tool.send("roll offset 1.5\n");
    ASSERT_TRUE(tool.wait_for_output("Static roll offset set to: 1.50 degrees\n\nnc> ", 10000));
    sim.control("drop 1");
    tool.send("status\nquit\n");
    const ToolRun run = tool.finish(60);
    EXPECT_NE(run.out.find("Roll offset           Info       1.50 degrees (static: 1.50, "
                           "autolevel: 1.50)\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nSystem status         Power On self Test    OK\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Attitude filter"), std::string::npos);
}

// The report file: named by model, serial and time, in the directory given,
// with the header, the status report, a block per answered command and a few
// seconds of the device's output; -q takes the dots away but not the result.
TEST(Diag, ReportFileInTheGivenDirectory) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400", "--serial", "4711"});
    ASSERT_TRUE(sim.running());
    const std::string dir = temp_path("diag");
    std::filesystem::create_directories(dir);
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
    EXPECT_NE(text.find("Baudrate              Info    38400\n\n> ver\r\n"), std::string::npos);
    EXPECT_GE(count_of(text, "\n> "), 40u);
    const std::regex captured("\n\\d+: \\$[^\r\n]*\r\n");
    const auto sentences = std::distance(std::sregex_iterator(text.begin(), text.end(), captured),
                                         std::sregex_iterator());
    EXPECT_GE(sentences, 100); // five seconds of the default table
    EXPECT_TRUE(sim.wait_for_record(R"("text":"uptime r")", 1000));

    const ToolRun loud = run_tool({"-a", "-p", sim.port(), "-b", "38400", "diag", dir});
    EXPECT_NE(loud.out.find(std::string(42, '.')), std::string::npos) << loud.out;
    EXPECT_NE(loud.out.find("\rDiagnostic report written to: NC-4100_00004711_"), std::string::npos);
}

// A report that cannot be written whole (here: the file size limit) ends
// with the error, never with "written to". Folders that are no folders:
// bad_file_paths_test.cpp.
TEST(Diag, FailedWriteIsReportedNotClaimedWritten) {
    Simulator sim({"--model", "NC-210", "--baud", "38400"});
    ASSERT_TRUE(sim.running());
    const std::string dir = temp_path("diag-small");
    std::filesystem::create_directories(dir);
    const ToolRun full = run_tool(
        {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" -a -p \"$1\" -b 38400 diag \"$2\"",
         NC_SERVICE_PATH, sim.port(), dir},
        "", {}, 60, "/bin/sh");
    EXPECT_TRUE(std::regex_search(full.err, std::regex("Error: writing NC-210_\\S+\\.log failed: File too large\n")))
        << full.err;
    EXPECT_EQ(full.out.find("written to"), std::string::npos) << full.out;
}
