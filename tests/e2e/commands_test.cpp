// Commands from the prompt (or the command line) to the device and back, one
// row a run: what the technician types, what the tool prints, and the exact
// command lines the simulated device executes.
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
    Lines options = {};         // before -a
    Lines words = {};           // a one-shot command
    double max_seconds = 0;     // 0 for no limit
    Lines recorded = {};        // fragments of the device's record
};

void check(const Row& row) {
    SCOPED_TRACE(row.legend);
    START_SIMULATOR(sim, row.sim);
    const Lines args = concat(concat(row.options, {"-a", "-b", row.baud, "-p", sim.port()}),
                              row.words);
    const ToolRun run = run_tool(args, row.input, {}, 90);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string& part : row.out)
        EXPECT_TRUE(holds(run.out, part));
    for (const std::string& part : row.err)
        EXPECT_TRUE(holds(run.err, part));
    for (const std::string& part : row.absent)
        EXPECT_FALSE(holds(run.out + run.err, part));
    if (row.max_seconds > 0) {
        EXPECT_LT(run.seconds, row.max_seconds);
    }
    for (const std::string& part : row.recorded)
        EXPECT_TRUE(holds(sim.record(), part));
    if (*row.pattern) {
        if (!row.executed.empty()) // the device records a line as it executes it
            sim.wait_for_record("\"text\":\"" + row.executed.back() + "\"", 1000);
        EXPECT_EQ(executed_matching(sim, row.pattern), row.executed);
    }
}

} // namespace

TEST(Commands, Offsets) {
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
    };
    check_at_once(rows, check);
}

TEST(Commands, Nmea0183Schedule) {
    const Row rows[] = {
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
    };
    check_at_once(rows, check);
}

TEST(Commands, CompassAndReceivers) {
    const Row rows[] = {
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
    };
    check_at_once(rows, check);
}

TEST(Commands, VerPostAndEvent) {
    const Row rows[] = {
        // An active search at the given rate skips the first pass at 4800,
        // which would cost two 4 s identification time-outs.
        {"ver shows the build of developer software",
         {"--model", "NC-4100", "--no-nmea", "--serial", "4711", "--sw-release", "developer", "--sw-tag",
          "abcd", "--sw-build", "17", "--sw-hash", "1234abcd"}, "38400", "",
         {"\nProduct NC-4100:\nPart no: 37-203952\nSerial no: 00004711\n"
          "Software version: 1.05 Developer (abcd-17 1234abcd)\n"},
         {}, {}, "", {}, {}, {"ver"}, 6.5},
        {"ver of release software asks the device only the protocol", {"--model", "NC-4100", "--no-nmea", "--sw-version", "1.02"}, "38400",
         "", {"Software version: 1.02 Release\n"}, {}, {NEWER_PROTOCOL}, "ver|cfg v", {"cfg v"}, {}, {"ver"}},
        {"post and event print the report or their error",
         {"--model", "NC-350", "--baud", "38400", "--no-nmea", "--fault", "post-fail on", "--fault",
          "fail 1 event"}, "38400", "post\nevent\n",
         {"Power on self test\r\n  RAM             Pass\r\n", "Fail (out of tolerance)",
          "nc> Error: Failed to get event list\n"}, {}, {}, "event", {"event"}},
    };
    check_at_once(rows, check);
}

// What a model or its software lacks, the factory reset and restart, one-shot
// commands and prompt lines.
TEST(Commands, GatingResetRebootAndOneShot) {
    const Row rows[] = {
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
         "", {"reset to factory default.\n"}, {}, {QUESTION}, "cfg f", {"cfg f"}, {}, {"factory", "default"}},
        // At 4800 the active search after the restart finds it in its first pass.
        {"reboot comes back", {"--model", "NC-4100", "--no-nmea", "--baud", "4800"}, "4800",
         "reboot\nabout\n", {"Device is rebooting...\n", "NC_Service Tool, version 1.05."}, {}},
        {"reboot without the device coming back ends the program",
         {"--model", "NC-4100", "--no-nmea", "--fault", "stay-down on"}, "38400", "reboot\nabout\n", {},
         {"Error: Failed to re-connect to the device\n"}, {"NC_Service Tool, version"}},
        // Found only by an active search, and only by its second attempt: a
        // device that sends nothing and answers raw frames alone. That nothing
        // is found passively on a silent port: Platform.SilentPortIsReportedAsNoData.
        {"raw identification",
         {"--model", "NC-210", "--no-nmea", "--ident", "raw", "--baud", "38400"}, "38400", "",
         {"Connected to NC-210"}, {}, {}, "", {}, {}, {}, 0, {R"("via":"raw","type":16)"}},
        {"unknown one-shot command, -q hides information", {"--model", "NC-210"}, "38400", "",
         {"Error: Unknown command: bogus\n\n"}, {}, {"Connected"}, "", {}, {"-q"}, {"bogus", "x"}},
        {"prompt lines, nothing after quit", {"--model", "37-000042", "--baud", "38400"}, "38400",
         "\n   \nhelp\nhelp NAV\nhelp ncterm\nquit\nabout\n",
         {"\nSETUP\n  nmea0183 sentences [default | <sentence>:<interval>...]\n\nUTILITIES\n",
          "\nnav\n\n  This command is a simple navigation display.", "Error: Unknown command: ncterm\n\n"},
         {}, {"NC_Service Tool"}},
    };
    check_at_once(rows, check);
}
