// A unit's settings saved to a file, put on a second unit of the model and
// compared; a file of another model; what the wire then shows. Files that are
// refused: BadFilePaths.CommandsAtThePromptSayWhatIsWrongAndGoOn.
#include <filesystem>

#include "expect.h"

namespace {

struct RoundTrip {
    std::string model;
    std::vector<std::string> changes; // every setting the model has, away from its default
    std::vector<std::string> saved;   // lines the file then holds
    std::vector<std::string> wire;    // command lines the second unit must then receive
};

std::string lines_of(const std::vector<std::string>& commands) {
    std::string text;
    for (const std::string& command : commands)
        text += command + "\n";
    return text;
}

bool received(const Simulator& sim, const std::string& command_line) {
    return holds(sim.record(), "\"text\":\"" + command_line + "\\u000d\"");
}

// Changes every setting on one unit and saves them; a second unit of the model
// takes the file, and then matches it. Returns the file's path.
std::string save_and_load(const RoundTrip& trip, Simulator& first, Simulator& second) {
    const std::string file = temp_path(trip.model + ".ncs");
    const ToolRun saved =
        run_tool({"-p", first.port()}, lines_of(trip.changes) + "settings save " + file + "\nquit\n");
    EXPECT_TRUE(holds(saved.out, "saved to " + file + "\n")) << saved.err;
    const std::string text = read_text_file(file);
    for (const std::string& line : trip.saved)
        EXPECT_TRUE(holds(text, "\n" + line + "\n"));
    const ToolRun loaded = run_tool({"-p", second.port()}, "settings load " + file + "\nquit\n");
    EXPECT_TRUE(holds(loaded.out, " settings now match the file\n")) << loaded.out << loaded.err;
    for (const std::string& command_line : trip.wire)
        EXPECT_TRUE(received(second, command_line)) << command_line;
    const ToolRun compared = run_tool({"-p", second.port(), "settings", "compare", file});
    EXPECT_EQ(compared.status, 0);
    EXPECT_TRUE(holds(compared.out, " settings match\n")) << compared.out;
    return file;
}

} // namespace

// Also: the two units then differ in one offset and one sentence interval,
// and compare names exactly those two, with exit status 3; a save that cannot
// write leaves nothing behind.
TEST(Settings, NC4100SavedLoadedAndCompared) {
    START_SIMULATOR(first, {"--model", "NC-4100", "--serial", "1"});
    START_SIMULATOR(second, {"--model", "NC-4100", "--serial", "2"});
    const std::string file = save_and_load(
        {"NC-4100",
         {"roll offset 1.5", "pitch offset -2.25", "heading offset 10", "vertical offset 3.5",
          "attitude filter 2.5", "deviation calibration adaptive", "deviation options pause",
          "gnss receiver gps sbas", "nmea0183 sentences HEHDT:200 GGA:1000 GSV:1000"},
         {"roll offset 1.50", "pitch offset -2.25", "heading offset 10.00", "vertical offset 3.5",
          "attitude filter 2.5", "deviation calibration adaptive", "deviation options pause",
          "gnss receiver GPS SBAS",
          "nmea0183 sentences HEHDT:200 HETHS:0 HEROT:0 att:0 hev:0 HEHDG:0 HEHDM:0 YXXDR:0 WIMDA:0 "
          "GNGGA:1000 GNRMC:0 GNVTG:0 GNZDA:0 GSV:1000 GSA:0 GNGLL:0 GNDTM:0"},
         {"cfg a f 25", "cfg h m 1", "cfg g s 35", "cfg n s w"}}, first, second);
    run_tool({"-p", second.port()}, "roll offset 0.5\nnmea0183 sentences HEHDT:100 GGA:1000 GSV:1000\n");
    const ToolRun differ = run_tool({"-p", second.port(), "settings", "compare", file});
    EXPECT_EQ(differ.status, 3);
    EXPECT_EQ(count_of(differ.out, ": device "), 2u) << differ.out;
    EXPECT_TRUE(holds(differ.out, "  roll offset: device 0.50, file 1.50\n"));
    EXPECT_TRUE(holds(differ.out, "  nmea0183 sentence HDT: device HEHDT:100, file HEHDT:200\n"));
    EXPECT_TRUE(holds(differ.out, "2 of "));

    const std::string nowhere = temp_path("none") + "/x.ncs";
    const ToolRun unwritten = run_tool({"-p", second.port(), "settings", "save", nowhere});
    EXPECT_TRUE(holds(unwritten.err, "Error: cannot write " + nowhere + ": No such file or directory\n"));
    EXPECT_FALSE(std::filesystem::exists(nowhere + ".tmp"));
}

// An NC-350 file on an NC-4100 is refused; with -f the settings both have are
// loaded and the others named.
TEST(Settings, NC350SavedLoadedAndLoadedOnAnotherModelWithForce) {
    START_SIMULATOR(first, {"--model", "NC-350", "--serial", "1", "--baud", "38400"});
    START_SIMULATOR(second, {"--model", "NC-350", "--serial", "2", "--baud", "38400"});
    const std::string file = save_and_load(
        {"NC-350",
         {"roll offset -1", "pitch offset 0.5", "heading offset -20", "vertical offset 1.25",
          "attitude filter 0.0", "deviation calibration off", "deviation options none",
          "variation source user 3.5", "nmea0183 baudrate 38400",
          "nmea0183 sentences HCHDG:500 HDT:1000", "nmea2000 bus term"},
         {"roll offset -1.00", "vertical offset 1.3", "attitude filter 0.0", "deviation calibration off",
          "deviation options none", "variation source user 3.5", "nmea0183 baudrate 38400",
          "nmea0183 sentences HEHDT:1000 HETHS:0 HEROT:0 att:0 hev:0 HCHDG:500 HEHDM:0 YXXDR:0 WIMDA:0",
          "nmea2000 bus term"},
         {"cfg h m 7", "cfg a v 1 350", "cfg n b 38400", "cfg c t 1", "cfg a f 0"}}, first, second);
    START_SIMULATOR(other, {"--model", "NC-4100"});
    const ToolRun refused = run_tool({"-p", other.port()}, "settings load " + file + "\nquit\n");
    EXPECT_TRUE(holds(refused.err, "Error: the file is for an NC-350, this is an NC-4100 (-f loads "
                                   "the settings they share)\n"));
    EXPECT_FALSE(received(other, "cfg a f 0"));
    const ToolRun forced = run_tool({"-p", other.port()}, "settings load -f " + file + "\nquit\n");
    for (const char* skipped : {"variation source user 3.5", "nmea0183 baudrate 38400", "nmea2000 bus term"})
        EXPECT_TRUE(holds(forced.out, std::string("Not on this unit, skipped: ") + skipped + "\n"));
    EXPECT_TRUE(holds(forced.out, " settings now match the file\n")) << forced.out << forced.err;
    EXPECT_TRUE(received(other, "cfg a f 0"));
}

TEST(Settings, NC210SavedAndLoaded) {
    START_SIMULATOR(first, {"--model", "NC-210", "--serial", "1"});
    START_SIMULATOR(second, {"--model", "NC-210", "--serial", "2"});
    save_and_load({"NC-210",
                   {"gnss receiver gps beidou", "nmea0183 sentences GGA:1000 GSV:1000", "nmea2000 bus term"},
                   {"gnss receiver GPS BEIDOU", "nmea2000 bus term",
                    "nmea0183 sentences GNGGA:1000 GNRMC:0 GNVTG:0 GNZDA:0 GSV:1000 GSA:0 GNGLL:0 GNDTM:0"},
                   {"cfg g s 41", "cfg c t 1"}}, first, second);
}
