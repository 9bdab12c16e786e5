// The configuration commands from the prompt to the device and back: what the
// technician types, the exact command lines the simulated device executes, and
// what the tool prints.
#include <gtest/gtest.h>

#include <regex>

#include "harness.h"

namespace {

// Every executed command line that matches the pattern, in order.
std::vector<std::string> executed_matching(const Simulator& sim, const std::string& pattern) {
    std::vector<std::string> lines;
    const std::string record = sim.record();
    const std::regex line_regex("\"kind\":\"line\",\"text\":\"(" + pattern + ")\"");
    for (auto it = std::sregex_iterator(record.begin(), record.end(), line_regex);
         it != std::sregex_iterator(); ++it)
        lines.push_back((*it)[1]);
    return lines;
}

using Lines = std::vector<std::string>;

const char UNSUPPORTED[] =
    "Error: The device does not support this option, please update the software\non the device.\n";

// Connects without the slow first pass at the other rate.
ToolRun run_at(const Simulator& sim, const std::string& baud, const std::string& input,
               std::vector<std::string> options = {}) {
    std::vector<std::string> args = {"-a", "-b", baud, "-p", sim.port()};
    args.insert(args.begin(), options.begin(), options.end());
    return run_tool(args, input, {}, 90);
}

} // namespace

TEST(Offsets, ValuesAreWrittenRoundedAndNonNumbersNeverReachTheDevice) {
    Simulator sim({"--model", "NC-4100", "--no-nmea"});
    ToolRun run = run_at(sim, "38400",
                         "roll offset 1.5\nroll offset nan\npitch offset inf\npitch offset 180.1\n"
                         "vertical offset abc\nvertical offset 1.25\nvertical offset\nROLL offset\n"
                         "roll OFFSET\nvertical OFFSET\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Static roll offset set to: 1.50 degrees\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("vertical offset set to 1.3 meter\n"), std::string::npos);
    EXPECT_NE(run.out.find("vertical offset: 1.30 meter\n"), std::string::npos);
    EXPECT_NE(run.out.find("Error: Unknown command: ROLL\n"), std::string::npos);
    EXPECT_NE(run.out.find("Roll offset: 1.50 degrees\n"), std::string::npos);
    EXPECT_NE(run.err.find("Error: Illegal value: nan"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Error: Illegal value: inf"), std::string::npos);
    EXPECT_NE(run.err.find("Error: Illegal value: 180.1"), std::string::npos);
    EXPECT_NE(run.err.find("Error: Illegal value: abc\n"), std::string::npos);
    EXPECT_EQ(count_of(run.err, "Error: Missing or illegal parameter\n"), 1u); // vertical OFFSET
    // The other two offsets were read and written back unchanged.
    EXPECT_EQ(executed_matching(sim, "cfg m [rw] -?[0-9].*"),
              (Lines{"cfg m r -150 0 0", "cfg m w 13"}));
}

TEST(Offsets, KnownHeadingGivesTheOffsetAcrossNorth) {
    Simulator sim({"--model", "NC-4100", "--fault", "still 350 0 0"});
    ToolRun run = run_at(sim, "38400", "heading 10\n");
    EXPECT_NE(run.out.find("heading offset calculated to: 20.00 degrees\n"), std::string::npos)
        << run.out << run.err;
    EXPECT_EQ(executed_matching(sim, "cfg m r -?[0-9].*"), (Lines{"cfg m r 0 0 -2000"}));

    Simulator other({"--model", "NC-350", "--fault", "still 10 0 0"});
    run = run_at(other, "4800", "heading 350\nheading 400\n");
    EXPECT_NE(run.out.find("heading offset calculated to: -20.00 degrees\n"), std::string::npos)
        << run.out << run.err;
    EXPECT_NE(
        run.err.find("Error: Illegal parameter: 400, expected decimal number between 0 and 360\n"),
        std::string::npos);
    EXPECT_EQ(executed_matching(other, "cfg m r -?[0-9].*"), (Lines{"cfg m r 0 0 2000"}));
}

TEST(Offsets, HeadingOffsetWarnsWhenTheRollExceedsTenDegrees) {
    const std::string warning =
        "\nWarning: heading offset is specified while the roll/pitch exceeds the\n"
        "recommended limit (10.0 degrees).\n";
    Simulator tilted({"--model", "NC-4100", "--fault", "still 10 -10.5 0"});
    ToolRun run = run_at(tilted, "38400", "heading offset 1\n");
    EXPECT_NE(run.out.find("Heading offset set to: 1.00 degrees\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(warning), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Actual Heading: 11.0 degrees\n"), std::string::npos);

    Simulator level({"--model", "NC-4100", "--fault", "still 10 10.0 0"});
    run = run_at(level, "38400", "heading offset 1\n");
    EXPECT_NE(run.out.find("Heading offset set to: 1.00 degrees\n"), std::string::npos);
    EXPECT_EQ(run.err.find("Warning"), std::string::npos) << run.err;
}

// A newer configuration protocol ends every command: Connection.ProtocolWarning*.
TEST(Gating, CommandsTheModelOrFirmwareLacks) {
    Simulator nc210({"--model", "NC-210", "--no-nmea"});
    ToolRun run = run_at(nc210, "38400",
                         "roll offset\nvertical offset\nautolevel\ndeviation calibration\n"
                         "variation source\nattitude filter\nheading 10\nnmea0183 baudrate\n");
    for (const char* name :
         {"roll", "vertical", "autolevel", "deviation", "variation", "attitude", "heading"})
        EXPECT_NE(run.out.find(std::string("Error: Unknown command: ") + name + "\n\n"),
                  std::string::npos)
            << name << run.out;
    EXPECT_NE(run.err.find("Error: Illegal parameter: baudrate\n"), std::string::npos);
    EXPECT_TRUE(executed_matching(nc210, "cfg [^v].*").empty());

    Simulator old({"--model", "NC-4100", "--sw-version", "1.01", "--no-nmea"});
    run = run_at(old, "38400",
                 "factory default\nautolevel reset\ndeviation calibration\nattitude filter\n"
                 "nmea0183 sentences\nnmea0183 baudrate 4800\n");
    EXPECT_EQ(count_of(run.err, UNSUPPORTED), 5u) << run.err;
    EXPECT_NE(run.err.find("Error: Illegal parameter: baudrate\n"), std::string::npos);
    EXPECT_TRUE(executed_matching(old, "cfg .*").empty());

    Simulator nc350({"--model", "NC-350", "--sw-version", "1.01", "--no-nmea"});
    run = run_at(nc350, "4800", "autolevel reset\nnmea0183 baudrate 38400\n");
    EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("NMEA-183 baudrate: 38400\nThe configuration takes effect when the "
                           "device is rebooted\n"),
              std::string::npos);
    EXPECT_EQ(executed_matching(nc350, "cfg (m r r|n b.*)"),
              (Lines{"cfg m r r", "cfg n b 38400", "cfg n b"}));
}

// The offsets and the schedule's listing in detail: NmeaSchedule.*.
TEST(Nmea0183, ScheduleOffsetsAndWarningsReachTheDevice) {
    Simulator sim({"--model", "NC-350", "--no-nmea"});
    ToolRun run = run_at(sim, "4800",
                         "nmea0183 sentences HDT:100 THS:100 ROT:200 HDG:1000\n"
                         "nmea0183 sentences HDT:25 THS:25 ROT:25\nnmea0183 sentences\n",
                         {"-v"});
    EXPECT_NE(run.out.find("sentence: HDG, intv: 1000, offset: 175ms, jitter: 52ms\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Warning: high frequency sentences cause 97ms jitter\n"),
              std::string::npos);
    EXPECT_NE(run.err.find("Warning: too many sentences assigned to the 25ms interval\n"),
              std::string::npos);
    EXPECT_NE(
        run.out.find("HEHDT:25 HETHS:25 HEROT:25 att:0 hev:0 HEHDG:0 HEHDM:0 YXXDR:0 WIMDA:0 \n"),
        std::string::npos);
    const Lines expected = {"cfg n s 1 HE HDT 100 0",  "cfg n s 2 HE THS 100 25",
                            "cfg n s 3 HE ROT 200 75", "cfg n s 4 -- att 0 0",
                            "cfg n s 5 -- hev 0 0",    "cfg n s 6 HE HDG 1000 175",
                            "cfg n s 7 HE HDM 0 0",    "cfg n s 8 YX XDR 0 0",
                            "cfg n s 9 WI MDA 0 0",    "cfg n s w",
                            "cfg n s 1 HE HDT 25 0",   "cfg n s 2 HE THS 25 25",
                            "cfg n s 3 HE ROT 25 0",   "cfg n s 4 -- att 0 0",
                            "cfg n s 5 -- hev 0 0",    "cfg n s 6 HE HDG 0 0",
                            "cfg n s 7 HE HDM 0 0",    "cfg n s 8 YX XDR 0 0",
                            "cfg n s 9 WI MDA 0 0",    "cfg n s w"};
    EXPECT_EQ(executed_matching(sim, "cfg n s [0-9w].*"), expected);
}

TEST(Nmea0183, InvalidItemsSendNothing) {
    Simulator sim({"--model", "NC-4100", "--no-nmea"});
    ToolRun run = run_at(sim, "38400",
                         "nmea0183 sentences HDT:100 GPhdt:100\nnmea0183 sentences gpHDT:100\n"
                         "nmea0183 sentences GPatt:100\nnmea0183 sentences HDT:10\n"
                         "nmea0183 sentences HDT:110\nnmea0183 sentences GGA:500\n"
                         "nmea0183 sentences RMC:1000 HDT\nnmea0183 sentences XYZ:100\n"
                         "nmea0183 sentences GPHDT:100 GGA:1000 GGA:0 HDT:0\n");
    EXPECT_EQ(run.err, "Error: Unknown type: hdt\n"
                       "Error: HDT: illegal talker id: gp\n"
                       "Error: talker id can not be set for sentence: att\n"
                       "Error: HDT: interval must at least be 25ms\n"
                       "Error: HDT: interval must a multiple of 25ms\n"
                       "Error: GGA: interval can't be changed (fixed 1000ms)\n"
                       "Error: Format error: HDT\n"
                       "Error: Unknown type: XYZ\n");
    // Only the last, valid command writes: the later item for a sentence wins.
    const Lines written = executed_matching(sim, "cfg n s [0-9].*");
    ASSERT_EQ(written.size(), 17u);
    EXPECT_EQ(written[0], "cfg n s 1 GP HDT 0 0");
    EXPECT_EQ(written[9], "cfg n s 10 GN GGA 0 0");
}

TEST(Compass, HeadingSensorSettingsOnTheNc350) {
    Simulator sim({"--model", "NC-350", "--no-nmea"});
    ToolRun run = run_at(sim, "4800",
                         "deviation calibration Standard\ndeviation calibration adaptive\n"
                         "deviation options 5deg none\ndeviation options pause\ndeviation options\n"
                         "variation source USER 2.345\nvariation source user 180.5\n"
                         "variation source ?\nvariation source\nattitude filter 9.9\n"
                         "attitude filter 0.05\nattitude filter 10\nattitude filter -0.1\n"
                         "nmea2000 bus TERM\ngnss receiver\n");
    EXPECT_NE(run.out.find("deviation calibration: on\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("deviation calibration: off\n"), std::string::npos); // no name for 1
    EXPECT_NE(run.out.find("deviation options: pause\n"), std::string::npos);
    EXPECT_NE(run.out.find("Magnetic variation: user, 2.3 deg.\n"), std::string::npos);
    EXPECT_EQ(count_of(run.out, "Magnetic variation: ?\n"), 2u);
    EXPECT_NE(run.out.find("time constant: 9.9\n"), std::string::npos);
    EXPECT_NE(run.out.find("time constant: 0.1\n"), std::string::npos);
    EXPECT_NE(run.out.find("NMEA-2000 bus termination: term\n"), std::string::npos);
    EXPECT_NE(run.out.find("Error: Unknown command: gnss\n"), std::string::npos);
    EXPECT_EQ(run.err, "Error: Illegal parameter: none\n"
                       "Error: Illegal parameter value: 180.5\n"
                       "Error: Parameter out of range (0.0-9.9 sec.)\n"
                       "Error: Parameter out of range (0.0-9.9 sec.)\n");
    EXPECT_EQ(executed_matching(sim, "cfg [hacg] [movft] [0-9].*"),
              (Lines{"cfg h m 0", "cfg h m 1", "cfg h o 2", "cfg a v 1 235", "cfg a v 2",
                     "cfg a f 99", "cfg a f 1", "cfg c t 1"}));
}

TEST(Compass, ReceiversAndCalibrationOnTheNc4100) {
    Simulator sim({"--model", "NC-4100", "--no-nmea"});
    ToolRun run =
        run_at(sim, "38400",
               "deviation calibration Standard\ngnss receiver gps glonass sbas\n"
               "gnss receiver gps beidou glonass\ngnss receiver sbas\ngnss receiver qzss\n"
               "gnss receiver galileo\ngnss receiver GPS QZSS\ngnss receiver\n"
               "nmea2000 bus\nvariation source\n");
    EXPECT_NE(run.out.find("deviation calibration: standard\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Selected GNSS receivers: GPS SBAS GLONASS \n"
                           "The configuration takes effect when the device is rebooted\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("Error: Unknown command: nmea2000\n"), std::string::npos);
    EXPECT_NE(run.out.find("Error: Unknown command: variation\n"), std::string::npos);
    EXPECT_EQ(run.err, "Error: BEIDOU and GLONASS can not be selected at the same time\n"
                       "Error: SBAS only works with GPS\n"
                       "Error: GPS and QZSS must be either both selected or both omitted\n"
                       "Error: Illegal gnss receiver: galileo\n");
    EXPECT_EQ(executed_matching(sim, "cfg [hg] [ms] [0-9].*"),
              (Lines{"cfg h m 0", "cfg g s 99", "cfg g s 33"}));
}
