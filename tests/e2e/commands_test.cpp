// Commands to the device and back: what is typed, what the tool prints and the
// command lines the device executes; settings files, the pass-through terminal,
// and firmware upload: file checks, frames at their rates, retries after faults.
#include <csignal>
#include <filesystem>

#include "expect.h"

namespace {

using Lines = std::vector<std::string>;

// Every executed command line that matches the pattern, in order.
Lines executed_matching(const Simulator& sim, const std::string& pattern) {
    Lines lines;
    for (const auto& match : all_matches(sim.record(), "\"kind\":\"line\",\"text\":\"(" + pattern + ")\""))
        lines.push_back(match[1]);
    return lines;
}

const std::string UNSUPPORTED =
    "Error: The device does not support this option, please update the software\non the device.\n";
const char NEWER_PROTOCOL[] = "This version of the NC-Service tool does not support the version of the \n"
                              "device. Please update the NC-Service tool.\nLimited services will be available.\n";
const char QUESTION[] = "Press 'y' to confirm reset to factory default or 'n' to cancel:\n";

struct Row {
    const char* legend;
    Lines sim;                  // nc-sim's options
    const char* baud;           // connects with -a at this rate, without the slow first pass
    std::string input;          // lines at the prompt
    Lines out, err;             // fragments of standard output and error
    Lines absent = {};          // in neither
    const char* pattern = "";   // of the executed lines checked, "" for none
    Lines executed = {};
    Lines words = {};           // options, and a one-shot command
    double max_seconds = 90;    // a time limit
};

void check(const Row& row) {
    SCOPED_TRACE(row.legend);
    START_SIMULATOR(sim, row.sim);
    const ToolRun run =
        run_tool(concat({"-a", "-b", row.baud, "-p", sim.port()}, row.words), row.input, {}, 90);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string& part : row.out)
        EXPECT_TRUE(holds(run.out, part));
    for (const std::string& part : row.err)
        EXPECT_TRUE(holds(run.err, part));
    for (const std::string& part : row.absent)
        EXPECT_FALSE(holds(run.out + run.err, part));
    EXPECT_LT(run.seconds, row.max_seconds);
    if (*row.pattern) {
        if (!row.executed.empty()) // the device records a line as it executes it
            sim.wait_for_record("\"text\":\"" + row.executed.back() + "\"", 1000);
        EXPECT_EQ(executed_matching(sim, row.pattern), row.executed);
    }
}

struct RoundTrip {
    const char* model;
    std::vector<std::string> changes; // every setting the model has, away from its default
    std::vector<std::string> saved;   // lines the file then holds
    std::vector<std::string> wire;    // command lines the second unit must then receive
    std::string changed = "";         // typed on the second unit after the load
    std::vector<std::string> differences = {}; // what compare then names, with exit status 3
    std::vector<std::string> skipped = {};     // by -f on an NC-4100
};

bool received(const Simulator& sim, const std::string& command_line) {
    return holds(sim.record(), "\"text\":\"" + command_line + "\\u000d\"");
}

ToolRun at_prompt(const Simulator& sim, const std::string& input) {
    return run_tool({"-a", "-b", "38400", "-p", sim.port()}, input + "quit\n");
}

// Every setting changed and saved (where it cannot, too: no file is left
// behind); a second unit of the model takes the file, and then matches it.
void check_round_trip(const RoundTrip& trip) {
    SCOPED_TRACE(trip.model);
    START_SIMULATOR(first, {"--model", trip.model, "--serial", "1", "--baud", "38400"});
    START_SIMULATOR(second, {"--model", trip.model, "--serial", "2", "--baud", "38400"});
    const std::string file = temp_path(std::string(trip.model) + ".ncs");
    const std::string folder = temp_folder("settings");
    std::string typed;
    for (const std::string& change : trip.changes)
        typed += change + "\n";
    const std::string nowhere = folder + "/none/x.ncs";
    const ToolRun saved = at_prompt(first, typed + "settings save " + file + "\nsettings save " +
                                               nowhere + "\nsettings save " + folder + "\n");
    EXPECT_TRUE(holds(saved.out, "saved to " + file + "\n")) << saved.err;
    EXPECT_EQ(saved.err, "Error: cannot write " + nowhere + ": No such file or directory\n"
                         "Error: cannot write " + folder + ": Is a directory\n");
    EXPECT_FALSE(std::filesystem::exists(folder + ".tmp"));
    const std::string text = read_text_file(file);
    for (const std::string& line : trip.saved)
        EXPECT_TRUE(holds(text, "\n" + line + "\n"));
    const ToolRun loaded = at_prompt(second, "settings load " + file + "\n");
    EXPECT_TRUE(holds(loaded.out, " settings now match the file\n")) << loaded.err;
    for (const std::string& command_line : trip.wire)
        EXPECT_TRUE(received(second, command_line)) << command_line;
    const auto compare = [&] {
        return run_tool({"-a", "-b", "38400", "-p", second.port(), "settings", "compare", file});
    };
    const ToolRun compared = compare();
    EXPECT_EQ(compared.status, 0);
    EXPECT_TRUE(holds(compared.out, " settings match\n"));
    if (!trip.differences.empty()) {
        at_prompt(second, trip.changed);
        const ToolRun differ = compare();
        EXPECT_EQ(differ.status, 3);
        EXPECT_EQ(count_of(differ.out, ": device "), trip.differences.size()) << differ.out;
        for (const std::string& difference : trip.differences)
            EXPECT_TRUE(holds(differ.out, "  " + difference + "\n"));
        EXPECT_TRUE(holds(differ.out, std::to_string(trip.differences.size()) + " of "));
    }
    // Without -f the file is refused whole: BadPromptLines.*.
    if (!trip.skipped.empty()) {
        START_SIMULATOR(other, {"--model", "NC-4100"});
        const ToolRun forced = at_prompt(other, "settings load -f " + file + "\n");
        for (const std::string& skipped : trip.skipped)
            EXPECT_TRUE(holds(forced.out, "Not on this unit, skipped: " + skipped + "\n"));
        EXPECT_TRUE(holds(forced.out, " settings now match the file\n")) << forced.err;
        EXPECT_TRUE(received(other, "cfg a f 0"));
    }
}

const char ESC[] = "\x1b";

// What the plain console received, each line followed by "|"; times gets
// when each line came.
std::string console_lines(const std::string& record, std::vector<double>* times = nullptr) {
    std::string texts;
    for (const auto& match :
         all_matches(record, R"re(\{"t":([0-9.]+),"dir":"rx","kind":"console","text":"([^"]*)"\})re")) {
        texts += match[2] + "|";
        if (times)
            times->push_back(std::stod(match[1]));
    }
    return texts;
}

// The frames of one type the device received, as "via:payload" (hex).
std::vector<std::string> frames(const std::string& record, int type) {
    std::vector<std::string> frames;
    for (const auto& match : all_matches(record, R"re("dir":"rx","kind":"frame","via":"(\w+)","type":)re" +
                                                     std::to_string(type) +
                                                     R"re(,"seq":\d+,"payload":"([0-9a-f]*)")re"))
        frames.push_back(match[1] + ":" + match[2]);
    return frames;
}

} // namespace

// Each line as the tool shows it and the device executes it: the settings,
// values and refusals as each model takes them, then the other commands.
TEST(Commands, EachLineShownAndExecutedAsTheModelTakesIt) {
    const Row rows[] = {
        {"offsets rounded, non-numbers never sent", {"--model", "NC-4100", "--no-nmea"}, "38400",
         "roll offset 1.5\nroll offset nan\npitch offset inf\npitch offset 180.1\nvertical offset abc\n"
         "roll offset 2.5abc\nvertical offset 1.25\nvertical offset\nROLL offset\nroll OFFSET\nvertical OFFSET\n",
         {"Static roll offset set to: 1.50 degrees\n", "vertical offset set to 1.3 meter\n",
          "vertical offset: 1.30 meter\n", "Error: Unknown command: ROLL\n", "Roll offset: 1.50 degrees\n"},
         {"Error: Illegal value: nan", "Error: Illegal value: inf", "Error: Illegal value: 180.1",
          "Error: Illegal value: abc\n", "Error: Illegal value: 2.5abc", "Error: Missing or illegal parameter\n"},
         {}, "cfg m [rw] -?[0-9].*", {"cfg m r -150 0 0", "cfg m w 13"}}, // the others written back
        {"heading offset across north", {"--model", "NC-4100", "--fault", "still 350 0 0"}, "38400",
         "heading 10\n", {"heading offset calculated to: 20.00 degrees\n"}, {},
         {}, "cfg m r -?[0-9].*", {"cfg m r 0 0 -2000"}},
        {"heading offset at a roll over ten degrees", {"--model", "NC-4100", "--fault", "still 10 -10.5 0"},
         "38400", "heading offset 1\n",
         {"Heading offset set to: 1.00 degrees\n", "Actual Heading: 11.0 degrees\n"},
         {"\nWarning: heading offset is specified while the roll/pitch exceeds the\n"
          "recommended limit (10.0 degrees).\n"}},
        {"heading offset at ten degrees", {"--model", "NC-4100", "--fault", "still 10 10.0 0"}, "38400",
         "heading offset 1\n", {"Heading offset set to: 1.00 degrees\n"}, {}, {"Warning"}},
        // The offsets and the schedule's listing in detail: NmeaSchedule.*.
        {"schedule, offsets and warnings", {"--model", "NC-350", "--no-nmea"}, "4800",
         "nmea0183 sentences HDT:100 THS:100 ROT:200 HDG:1000\nnmea0183 sentences HDT:25 THS:25 ROT:25\n"
         "nmea0183 sentences\n",
         {"sentence: HDG, intv: 1000, offset: 175ms, jitter: 52ms\n",
          "Warning: high frequency sentences cause 97ms jitter\n",
          "HEHDT:25 HETHS:25 HEROT:25 att:0 hev:0 HEHDG:0 HEHDM:0 YXXDR:0 WIMDA:0 \n"},
         {"Warning: too many sentences assigned to the 25ms interval\n"}, {}, "cfg n s [1236w].*",
         {"cfg n s 1 HE HDT 100 0", "cfg n s 2 HE THS 100 25", "cfg n s 3 HE ROT 200 75",
          "cfg n s 6 HE HDG 1000 175", "cfg n s w", "cfg n s 1 HE HDT 25 0", "cfg n s 2 HE THS 25 25",
          "cfg n s 3 HE ROT 25 0", "cfg n s 6 HE HDG 0 0", "cfg n s w"}, {"-v"}},
        // Only the last, valid command writes; the later item for a sentence wins.
        {"invalid schedule items send nothing", {"--model", "NC-4100", "--no-nmea"}, "38400",
         "nmea0183 sentences HDT:100 GPhdt:100\nnmea0183 sentences gpHDT:100\nnmea0183 sentences GPatt:100\n"
         "nmea0183 sentences HDT:10\nnmea0183 sentences HDT:110\nnmea0183 sentences GGA:500\n"
         "nmea0183 sentences RMC:1000 HDT\nnmea0183 sentences XYZ:100\n"
         "nmea0183 sentences GPHDT:100 GGA:1000 GGA:0 HDT:0\n", {},
         {"Error: Unknown type: hdt\nError: HDT: illegal talker id: gp\n"
          "Error: talker id can not be set for sentence: att\nError: HDT: interval must at least be 25ms\n"
          "Error: HDT: interval must a multiple of 25ms\nError: GGA: interval can't be changed (fixed 1000ms)\n"
          "Error: Format error: HDT\nError: Unknown type: XYZ\n"},
         {}, "cfg n s (1|10) .*", {"cfg n s 1 GP HDT 0 0", "cfg n s 10 GN GGA 0 0"}},
        {"heading sensor settings on the NC-350", {"--model", "NC-350", "--no-nmea"}, "4800",
         "deviation calibration Standard\ndeviation calibration adaptive\ndeviation options 5deg none\n"
         "deviation options pause\ndeviation options\nvariation source USER 2.345\n"
         "variation source user 180.5\nvariation source ?\nvariation source\nattitude filter 9.9\n"
         "attitude filter 0.05\nattitude filter 10\nattitude filter -0.1\nattitude filter 2x\nnmea0183 baudrate 4800x\nnmea2000 bus TERM\n"
         "gnss receiver\n",
         {"deviation calibration: off\n", "deviation options: pause\n", "Magnetic variation: user, 2.3 deg.\n",
          "time constant: 0.1\n", "NMEA-2000 bus termination: term\n", "Error: Unknown command: gnss\n"},
         {"Error: Illegal parameter: none\nError: Illegal parameter value: 180.5\n"
          "Error: Parameter out of range (0.0-9.9 sec.)\nError: Parameter out of range (0.0-9.9 sec.)\n"
          "Error: Illegal parameter: 2x\nError: Illegal parameter: 4800x\n"},
         {}, "cfg [hacg] [movft] [0-9].*",
         {"cfg h m 0", "cfg h m 1", "cfg h o 2", "cfg a v 1 235", "cfg a v 2", "cfg a f 99", "cfg a f 1",
          "cfg c t 1"}},
        {"receivers and calibration on the NC-4100", {"--model", "NC-4100", "--no-nmea"}, "38400",
         "deviation calibration Standard\ngnss receiver gps glonass sbas\ngnss receiver gps beidou glonass\n"
         "gnss receiver sbas\ngnss receiver qzss\ngnss receiver galileo\ngnss receiver GPS QZSS\n"
         "gnss receiver\nnmea2000 bus\nvariation source\n",
         {"deviation calibration: standard\n",
          "Selected GNSS receivers: GPS SBAS GLONASS \n"
          "The configuration takes effect when the device is rebooted\n",
          "Error: Unknown command: nmea2000\n", "Error: Unknown command: variation\n"},
         {"Error: BEIDOU and GLONASS can not be selected at the same time\nError: SBAS only works with GPS\n"
          "Error: GPS and QZSS must be either both selected or both omitted\n"
          "Error: Illegal gnss receiver: galileo\n"},
         {}, "cfg [hg] [ms] [0-9].*", {"cfg h m 0", "cfg g s 99", "cfg g s 33"}},
        // ver, post, event; the active search at the given rate skips two 4 s time-outs at 4800.
        {"ver shows the build of developer software",
         {"--model", "NC-4100", "--no-nmea", "--serial", "4711", "--sw-release", "developer", "--sw-tag",
          "abcd", "--sw-build", "17", "--sw-hash", "1234abcd"}, "38400", "",
         {"\nProduct NC-4100:\nPart no: 37-203952\nSerial no: 00004711\n"
          "Software version: 1.05 Developer (abcd-17 1234abcd)\n"},
         {}, {}, "", {}, {"ver"}, 6.5},
        {"ver of release software asks the device only the protocol", {"--model", "NC-4100", "--no-nmea", "--sw-version", "1.02"}, "38400",
         "", {"Software version: 1.02 Release\n"}, {}, {NEWER_PROTOCOL}, "ver|cfg v", {"cfg v"}, {"ver"}},
        {"post and event print the report or their error",
         {"--model", "NC-350", "--baud", "38400", "--no-nmea", "--fault", "post-fail on", "--fault",
          "fail 1 event"}, "38400", "post\nevent\n",
         {"Power on self test\r\n  RAM             Pass\r\n", "Fail (out of tolerance)",
          "nc> Error: Failed to get event list\n"}, {}, {}, "event", {"event"}},
        // What a model or its software lacks, reset and restart, one-shot commands.
        {"commands the NC-210 lacks", {"--model", "NC-210", "--no-nmea"}, "38400",
         "roll offset\nvertical offset\nautolevel\ndeviation calibration\nvariation source\n"
         "attitude filter\nheading 10\nnmea0183 baudrate\n",
         {"Unknown command: roll\n\n", "Unknown command: vertical\n\n", "Unknown command: autolevel\n\n",
          "Unknown command: deviation\n\n", "Unknown command: variation\n\n",
          "Unknown command: attitude\n\n", "Unknown command: heading\n\n"},
         {"Error: Illegal parameter: baudrate\n"}, {}, "cfg [^v].*", {}},
        {"commands software 1.01 lacks, no version query",
         {"--model", "NC-4100", "--sw-version", "1.01", "--no-nmea"}, "38400",
         "factory default\nautolevel reset\ndeviation calibration\nattitude filter\nnmea0183 sentences\n"
         "nmea0183 baudrate 4800\n",
         {}, {UNSUPPORTED + UNSUPPORTED + UNSUPPORTED + UNSUPPORTED + UNSUPPORTED +
              "Error: Illegal parameter: baudrate\n"},
         {NEWER_PROTOCOL}, "cfg .*", {}},
        {"NC-350 1.01 has the levelling reset and the rate",
         {"--model", "NC-350", "--sw-version", "1.01", "--no-nmea"}, "4800",
         "autolevel reset\nnmea0183 baudrate 38400\n",
         {"NMEA-183 baudrate: 38400\nThe configuration takes effect when the device is rebooted\n"}, {},
         {"Error"}, "cfg (m r r|n b.*)", {"cfg m r r", "cfg n b 38400", "cfg n b"}},
        {"newer configuration protocol: every command ends silently",
         {"--model", "NC-350", "--protocol-version", "1"}, "4800",
         "roll offset 1\nvertical offset 2\nnmea0183 sentences\ndeviation calibration off\n"
         "nmea2000 bus term\nattitude filter 1\n",
         {NEWER_PROTOCOL}, {}, {"Error"}, "cfg .*", {"cfg v"}},
        // Only a lower-case y resets; input that ends before the answer cancels.
        {"factory default only after a lower-case y", {"--model", "NC-4100", "--no-nmea"}, "38400",
         "factory default\nn\nfactory default\nN\nfactory default\nY\nfactory default\n\nfactory reset\n"
         "factory\nfactory DEFAULT\nyes\nfactory default\n",
         {QUESTION + std::string("canceled\n"),
          "reset to factory default.\nThe new configuration takes effect when the system is rebooted\n"},
         {"Error: Illegal argument\nError: Missing argument\n"}, {}, "cfg f", {"cfg f"}},
        {"factory default as a one-shot command asks nothing", {"--model", "NC-4100", "--no-nmea"}, "38400",
         "", {"reset to factory default.\n"}, {}, {QUESTION}, "cfg f", {"cfg f"}, {"factory", "default"}},
        // At 4800 the active search after the restart finds it in its first pass.
        {"reboot comes back", {"--model", "NC-4100", "--no-nmea", "--baud", "4800"}, "4800",
         "reboot\nabout\n", {"Device is rebooting...\n", "NC_Service Tool, version 1.05."}, {}},
        {"reboot without the device coming back ends the program",
         {"--model", "NC-4100", "--no-nmea", "--fault", "stay-down on"}, "38400", "reboot\nabout\n", {},
         {"Error: Failed to re-connect to the device\n"}, {"NC_Service Tool, version"}},
        // Found only by an active search, and only by its second attempt: a
        // device that sends nothing and answers raw frames alone. That nothing
        // is found passively on a silent port: Platform.SilentOrForbidden*.
        {"raw identification", {"--model", "NC-210", "--no-nmea", "--ident", "raw"}, "38400", "",
         {"Connected to NC-210"}, {}},
        {"unknown one-shot command, -q hides information", {"--model", "NC-210"}, "38400", "",
         {"Error: Unknown command: bogus\n\n"}, {}, {"Connected"}, "", {}, {"-q", "bogus", "x"}},
        {"prompt lines, nothing after quit", {"--model", "37-000042", "--baud", "38400"}, "38400",
         "\n   \nhelp\nhelp NAV\nhelp ncterm\nquit\nabout\n",
         {"\nSETUP\n  nmea0183 sentences [default | <sentence>:<interval>...]\n\nUTILITIES\n",
          "\nnav\n\n  This command is a simple navigation display.", "Error: Unknown command: ncterm\n\n"},
         {}, {"NC_Service Tool"}},
    };
    check_at_once(rows, check);
}

// The NC-4100 unit then differs in one offset and one sentence interval, and
// compare names exactly those two; with -f, an NC-350 file on an NC-4100 loads
// the settings both have and names the others.
TEST(Settings, EachModelSavedLoadedAndCompared) {
    const RoundTrip trips[] = {
        {"NC-4100",
         {"roll offset 1.5", "pitch offset -2.25", "heading offset 10", "vertical offset 3.5",
          "attitude filter 2.5", "deviation calibration adaptive", "deviation options pause",
          "gnss receiver gps sbas", "nmea0183 sentences HEHDT:200 GGA:1000 GSV:1000"},
         {"roll offset 1.50", "pitch offset -2.25", "heading offset 10.00", "vertical offset 3.5",
          "attitude filter 2.5", "deviation calibration adaptive", "deviation options pause",
          "gnss receiver GPS SBAS",
          "nmea0183 sentences HEHDT:200 HETHS:0 HEROT:0 att:0 hev:0 HEHDG:0 HEHDM:0 YXXDR:0 WIMDA:0 "
          "GNGGA:1000 GNRMC:0 GNVTG:0 GNZDA:0 GSV:1000 GSA:0 GNGLL:0 GNDTM:0"},
         {"cfg a f 25", "cfg h m 1", "cfg g s 35", "cfg n s w"},
         "roll offset 0.5\nnmea0183 sentences HEHDT:100 GGA:1000 GSV:1000\n",
         {"roll offset: device 0.50, file 1.50",
          "nmea0183 sentence HDT: device HEHDT:100, file HEHDT:200"}},
        {"NC-350",
         {"roll offset -1", "pitch offset 0.5", "heading offset -20", "vertical offset 1.25",
          "attitude filter 0.0", "deviation calibration off", "deviation options none",
          "variation source user 3.5", "nmea0183 baudrate 38400",
          "nmea0183 sentences HCHDG:500 HDT:1000", "nmea2000 bus term"},
         {"roll offset -1.00", "vertical offset 1.3", "attitude filter 0.0", "deviation calibration off",
          "deviation options none", "variation source user 3.5", "nmea0183 baudrate 38400",
          "nmea0183 sentences HEHDT:1000 HETHS:0 HEROT:0 att:0 hev:0 HCHDG:500 HEHDM:0 YXXDR:0 WIMDA:0",
          "nmea2000 bus term"},
         {"cfg h m 7", "cfg a v 1 350", "cfg n b 38400", "cfg c t 1", "cfg a f 0"}, "", {},
         {"variation source user 3.5", "nmea0183 baudrate 38400", "nmea2000 bus term"}},
        {"NC-210",
         {"gnss receiver gps beidou", "nmea0183 sentences GGA:1000 GSV:1000", "nmea2000 bus term"},
         {"gnss receiver GPS BEIDOU", "nmea2000 bus term",
          "nmea0183 sentences GNGGA:1000 GNRMC:0 GNVTG:0 GNZDA:0 GSV:1000 GSA:0 GNGLL:0 GNDTM:0"},
         {"cfg g s 41", "cfg c t 1"}},
    };
    check_at_once(trips, check_round_trip);
}

// The pass-through terminal three times, the prompt working after each: ESC at
// the login prompt (the device gets "exit" as the user, CR as the password, and
// 3 s later the login line that brings back its sentences); a login by hand,
// keys with a backspace and ESC among them, a logout, and ESC, after which
// nothing more is sent; a device that never shows "User:" and never pauses,
// whose keys are read all the same after the link's time-out.
TEST(Ncterm, PlainConsoleByHandAndBackToThePrompt) {
    START_SIMULATOR(sim, {"--model", "NC-350"});
    START_AT_PROMPT(tool, {"-p", sim.port()});
    ASSERT_TRUE(tool.send_and_wait("ncterm\n", "Entering NC-350 shell, press ESC to exit\nUser:", 10000));
    ASSERT_TRUE(tool.send_and_wait(ESC, "Connected to NC-350", 20000, 2));
    std::vector<double> times;
    const std::string logged_out = console_lines(sim.record(), &times);
    ASSERT_EQ(logged_out, "exit\\u000d|\\u000d|kestrel\\u000d|\\u000d|exit\\u000d|");
    EXPECT_NEAR(times[2] - times[1], 3.0, 0.4);
    EXPECT_TRUE(holds(sim.record(), "NMEA mode"));
    ASSERT_TRUE(tool.send_and_wait("ncterm\n", "User:", 10000, 2));
    ASSERT_TRUE(tool.send_and_wait("kestrel\r", "Pass: ", 5000));
    ASSERT_TRUE(tool.send_and_wait("\r", "NC-350> ", 5000));
    ASSERT_TRUE(tool.send_and_wait("ab\bc\r", "ac: command not found", 5000));
    tool.send(std::string("x") + ESC); // one read: both keys go to the device
    tool.send("\r");
    ASSERT_TRUE(sim.wait_for_record(R"("kind":"console","text":"x\u001b\u000d")", 5000));
    ASSERT_TRUE(tool.send_and_wait("exit\r", "$HEHDT", 5000));
    const size_t record_before_esc = sim.record().size();
    ASSERT_TRUE(tool.send_and_wait(ESC, "Entering NC-Service shell\n", 5000, 2));
    ASSERT_TRUE(tool.wait_for_output("Connected to NC-350", 15000, 3));
    const std::string record = sim.record();
    EXPECT_EQ(console_lines(record).substr(logged_out.size()),
              "kestrel\\u000d|\\u000d|ab\\u0008c\\u000d|x\\u001b\\u000d|exit\\u000d|");
    // The device already sent sentences after ESC: no "exit" reached it.
    EXPECT_EQ(record.find("\"kind\":\"stray\"", record_before_esc), std::string::npos)
        << record.substr(record_before_esc);
    sim.control("no-console on");
    ASSERT_TRUE(tool.send_and_wait("ncterm\n", "Entering NC-350 shell, press ESC to exit\n", 10000, 3));
    const size_t third = tool.out().rfind("Entering NC-350 shell");
    ASSERT_TRUE(tool.wait_for_output("$HEHDT", 10000, count_of(tool.out(), "$HEHDT") + 1));
    tool.send("zz");
    ASSERT_TRUE(sim.wait_for_record(R"("kind":"stray","text":"zz")", 5000));
    ASSERT_TRUE(tool.send_and_wait(ESC, "Connected to NC-350", 20000, 4));
    tool.send("about\nquit\n");
    const ToolRun run = tool.finish(30);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    // Echoed by the device as "ab", BS, "c": the backspace erased the "b".
    EXPECT_TRUE(holds(run.out, "ab\b \bc"));
    EXPECT_EQ(run.out.find("User:", third), std::string::npos);
    EXPECT_TRUE(holds(run.out, "NC_Service Tool, version"));
}

// The whole path: image in three segments at the transfer rate, the new
// software checked, the data block in sentences of at most 34 frame bytes.
TEST(Upload, ImageAndDataBlockReachTheDeviceAndItRunsThem) {
    START_SIMULATOR(sim, {"--model", "NC-350", "--reboot-time", "300"});
    const std::string file = make_image({"--data-size", "0x10:200"});
    const ToolRun run = run_tool({"-v", "-p", sim.port(), "upload", "-b", "38400", file});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(holds(run.out, "Load begin baud 38400 addr 0x8010000 size 385\n"
                               "Loading application\n...\n"));
    EXPECT_TRUE(holds(run.out, "Loading application data\n"
                               "Appd begin baud 4800 id 0x0010 size 200\n..\n"));
    EXPECT_TRUE(holds(run.out, "Device successfully updated to 1.07 Release\n"));
    EXPECT_EQ(count_of(run.out, "Connected to NC-350"), 3u); // start, new image, new data
    const std::string record = sim.record();
    std::vector<size_t> segments; // payload bytes of each segment frame
    for (const std::string& frame : frames(record, 0x15))
        segments.push_back((frame.size() - frame.find(':') - 1) / 2);
    EXPECT_EQ(segments, (std::vector<size_t>{192, 192, 1, 192, 8}));
    // The bootloader (70-204108) is asked to run the image, then the image its data.
    EXPECT_EQ(frames(record, 0x12),
              (std::vector<std::string>{"sentence:4c1d0346", "raw:00000000", "sentence:00000000"}));
    // Image segments go raw at the transfer rate, which the device took up
    // after its load begin answer and left after the last segment.
    const size_t fast = record.find("line rate 38400");
    ASSERT_NE(fast, std::string::npos);
    EXPECT_LT(record.find(R"("via":"raw","type":21)"), record.find("line rate 4800"));
    EXPECT_GT(record.find(R"("via":"raw","type":21)"), fast);
    EXPECT_FALSE(holds(record, "line noise"));
    // The 200-byte segment frame of the data block: five sentences of 34
    // bytes and one of 30, none longer.
    EXPECT_EQ(all_matches(record, R"(\$PNCX,0,[0-9A-F]{68}\*)").size(), 5u);
    EXPECT_EQ(all_matches(record, R"(\$PNCX,0,[0-9A-F]{60}\*)").size(), 1u);
    EXPECT_EQ(all_matches(record, R"(\$PNCX,0,[0-9A-F]{69,}\*)").size(), 0u);
    EXPECT_TRUE(holds(record, "data block 0x0010 stored, 200 bytes"));
}

// A damaged file, one for another product or below the device's minimum
// version: no frame reaches the device, and the prompt goes on. Ctrl-C during
// the transfer of the other product's image (-f) ends the upload at once and
// the program through its closing steps. Files that cannot be read: BadPromptLines.*.
TEST(Upload, FileChecksStopBeforeAnyFrameAndCtrlCEndsTheTransfer) {
    START_SIMULATOR(sim, {"--model", "NC-350", "--min-version", "1.06"});
    // About 70 s at 4800 baud.
    const std::string foreign =
        make_image({"--model", "NC-210", "--sw-part", "73-204107", "--code-size", "40000"});
    const std::string old = make_image({"--sw-version", "1.05"});
    const std::string damaged = make_image({"--bad-span-crc"});
    START_AT_PROMPT(tool, {"-p", sim.port()});
    const size_t frames_at_prompt = count_of(sim.record(), R"("kind":"frame")");
    ASSERT_TRUE(tool.send_and_wait("upload " + damaged + "\nupload " + foreign + "\nupload " + old +
                                   "\nabout\n", "NC_Service Tool, version", 30000));
    EXPECT_EQ(count_of(sim.record(), R"("kind":"frame")"), frames_at_prompt);
    tool.send("upload -f " + foreign + "\n");
    ASSERT_TRUE(sim.wait_for_record(R"("via":"raw","type":21)", 20000, 3));
    tool.signal(SIGINT);
    const auto interrupted = std::chrono::steady_clock::now();
    const ToolRun run = tool.finish(60);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(3));
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_EQ(run.err, "File parse error\nUpload failed (-2)\nFile is for another product\nUpload "
                       "failed (-9)\nDevice requires minimum SW version v1.06Upload failed (-9)\n"
                       "Upload failed (-4)\n");
    EXPECT_EQ(frames(sim.record(), 0x13).size(), 1u);
}

// Faults in uploads at the prompt: the messages, the attempts (load begin frames)
// and runs (run frames) the device received, and the session going on, unless the
// device stays away after the new image or the data: the loop ends, running nothing.
TEST(Upload, FaultsEndTheAttemptsTheyShould) {
    struct Attempts {
        const char* legend;
        std::vector<std::string> sim, image, options;
        const char* baud;
        std::vector<std::string> out;
        const char* err;
        size_t begins, runs; // runs 0: not counted
        size_t lost_at = 0;  // the device hangs up for good at this restart, 0: never
    };
    const Attempts rows[] = {
        // In its bootloader, found by an active search: no application to leave,
        // and without data blocks no second restart. A load end answer too short
        // for its CRC fails the first try.
        {"rescue mode, short load end answer",
         {"--rescue", "--fault", "short-answer end"}, {}, {"-v", "-a"}, "38400",
         {"Device in rescue-mode (ready for software upload)", "Load end transaction error: -11\n",
          "Device successfully updated to 1.07 Release\n"},
         "", 2, 3},
        // Each ends its attempt (the first two at the transfer rate), never read
        // from an earlier answer's bytes; the fourth and last succeeds.
        {"short, lost segment answers and a wrong CRC",
         {"--fault", "short-answer segment", "--fault", "skip-segment 2", "--fault", "bad-crc 1"}, {},
         {"-v"}, "115200",
         {"Load segment transaction error: -11\nUpload failure (2)\n",
          "Device successfully updated to 1.07 Release\n"},
         "Upload CRC failed\n", 4, 0},
        // Runs the image but reports other software: never "updated", not retried.
        {"image without identity", {}, {"--no-identity-block"}, {}, "38400", {},
         "Upload failed for unknown reason\nUpload failed (-19)\n", 1, 0},
        {"lost after the new image", {}, {"--data-size", "0x10:20"}, {}, "38400",
         {"Loading application\n"}, "Upload failed (-32)\n", 1, 0, 1},
        {"lost after the data blocks", {}, {"--data-size", "0x10:20"}, {}, "38400",
         {"Device successfully updated to 1.07 Release\n"}, "", 1, 0, 2},
    };
    check_at_once(rows, [](const Attempts& row) {
        SCOPED_TRACE(row.legend);
        const std::string link = temp_path("port");
        START_SIMULATOR(sim, concat({"--model", "NC-350", "--reboot-time", "300", "--link", link},
                                    row.sim));
        ToolProcess tool(concat(row.options, {"-p", link}));
        tool.send("upload -b " + std::string(row.baud) + " " + make_image(row.image) + "\nabout\n");
        tool.close_input();
        if (row.lost_at) {
            ASSERT_TRUE(sim.wait_for_record("rebooting", 30000, row.lost_at));
            sim.control("hangup");
        }
        const ToolRun run = tool.finish(120);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, row.err);
        for (const std::string& part : row.out)
            EXPECT_TRUE(holds(run.out, part));
        if (row.out.empty()) {
            EXPECT_FALSE(holds(run.out, "successfully"));
        }
        EXPECT_EQ(count_of(run.out, "NC_Service Tool, version"), row.lost_at ? 0u : 1u) << run.out;
        EXPECT_EQ(count_of(run.out, "\nNo devices found\n"), row.lost_at ? 1u : 0u);
        const std::string record = sim.record();
        EXPECT_EQ(frames(record, 0x13).size(), row.begins);
        if (row.runs) {
            EXPECT_EQ(frames(record, 0x12).size(), row.runs);
        }
    });
}

// Every attempt loses a segment answer at the transfer rate; the last one is
// not followed by a reconnect, yet the port is back at the link's rate: the
// next upload starts without a single character of line noise.
TEST(Upload, FailureAtTheTransferRateLeavesThePortAtTheLinkRate) {
    START_SIMULATOR(sim, {"--model", "NC-350", "--reboot-time", "300", "--fault", "skip-segment 2 4"});
    const std::string file = make_image();
    START_AT_PROMPT(tool, {"-p", sim.port()});
    ASSERT_TRUE(tool.send_and_wait("upload -b 115200 " + file + "\n", "nc> ", 100000, 2));
    EXPECT_EQ(frames(sim.record(), 0x13).size(), 4u);
    // The device gives up each fast transfer after three seconds.
    ASSERT_TRUE(sim.wait_for_record("transfer abandoned", 5000, 4));
    const size_t before = sim.record().size();
    tool.send("upload -b 115200 " + file + "\nquit\n");
    const ToolRun run = tool.finish(90);
    EXPECT_TRUE(holds(run.err, "Upload failed (-11)\n"));
    EXPECT_TRUE(holds(run.out, "Device successfully updated to 1.07 Release\n"));
    const std::string after = sim.record().substr(before);
    EXPECT_FALSE(holds(after, "line noise"));
    EXPECT_EQ(frames(after, 0x13).size(), 1u);
}
