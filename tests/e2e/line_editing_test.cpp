// The prompt on a technician's terminal: the line can be edited, earlier lines
// come back (also after a restart), Tab completes what the connected model
// takes, and Ctrl-C in the middle of an edit leaves the terminal as it was.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>

#include "expect.h"
#include "screen.h"

namespace {

const std::string ABOUT_TEXT = "NC_Service Tool, version";
const std::string UP = "\x1b[A";

// nc-service on a terminal connected to sim, with its own home folder.
std::unique_ptr<ToolProcess> start_on_terminal(const Simulator& sim, const std::string& home,
                                              const std::vector<std::string>& options = {}) {
    auto tool = std::make_unique<ToolProcess>(
        concat(options, {"-p", sim.port(), "-b", "38400"}),
        std::map<std::string, std::string>{{"HOME", home}, {"NO_COLOR", "1"}}, "", /*terminal=*/true);
    EXPECT_TRUE(tool->wait_for_output("nc> ", 15000)) << tool->out();
    return tool;
}

// The last row on screen that starts with the prompt.
std::string last_prompt_row(const std::string& out) {
    Screen screen;
    screen.feed(out);
    std::string row;
    for (int r = 0; r < 50; ++r)
        if (screen.row(r).rfind("nc> ", 0) == 0)
            row = screen.row(r);
    return row;
}

// Waits until the line being edited reads line (trailing blanks aside).
bool wait_for_line(ToolProcess& tool, const std::string& line) {
    return tool.wait_until([&](const std::string& out) { return last_prompt_row(out) == "nc> " + line; },
                           5000);
}

// Waits until the tool waits at an empty prompt: keys typed before it are
// read as a whole line, not edited.
bool wait_for_prompt(ToolProcess& tool) {
    return tool.wait_until([](const std::string& out) { return out.ends_with("nc> "); }, 5000);
}

} // namespace

// Against an NC-350 and then an NC-4100; an edited line runs as typed.
TEST(LineEditing, TabCompletesWhatTheModelTakesAndUpRecallsEarlierLines) {
    START_SIMULATOR(nc350, {"--model", "NC-350", "--baud", "38400"});
    auto tool = start_on_terminal(nc350, temp_folder("home"));
    tool->send("nmea0\t");
    EXPECT_TRUE(wait_for_line(*tool, "nmea0183"));
    tool->send("\t");
    EXPECT_TRUE(tool->wait_for_output("baudrate   sentences\r\n", 5000)) << tool->out();
    EXPECT_TRUE(wait_for_line(*tool, "nmea0183"));

    const std::string folder = temp_folder("files");
    std::filesystem::create_directory(folder + "/reports");
    std::ofstream(folder + "/my stats.log") << "";
    tool->send("\x15stat -l " + folder + "/my\t");
    EXPECT_TRUE(wait_for_line(*tool, "stat -l \"" + folder + "/my stats.log\"")) << tool->out();
    tool->send("\x15" "diag " + folder + "/r\t");
    EXPECT_TRUE(wait_for_line(*tool, "diag " + folder + "/reports/")) << tool->out();
    tool->send("\x15quit\r");
    tool->finish(20);

    // On an NC-4100 sentences is the only word that follows, and the completed
    // line is what runs. Edited lines follow the rules of the prompt: words and
    // quotes are cut as on a pipe, and a line longer than 255 characters is
    // refused whole, never run in pieces.
    START_SIMULATOR(nc4100, {"--model", "NC-4100", "--baud", "38400"});
    const std::string home = temp_folder("home");
    tool = start_on_terminal(nc4100, home);
    tool->send("nmea0183 \t");
    EXPECT_TRUE(wait_for_line(*tool, "nmea0183 sentences")) << tool->out();
    tool->send("\r");
    EXPECT_TRUE(tool->wait_for_output("HDT:", 5000)) << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    tool->send("help \"NO SUCH\" topic\r");
    EXPECT_TRUE(tool->wait_for_output("Error: Unknown command: NO SUCH\r\n", 5000)) << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    tool->send("about" + std::string(251, ' ') + "about\r");
    EXPECT_TRUE(tool->wait_for_output("Error: Line too long, at most 255 characters\r\n", 5000));
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    tool->send("about\r");
    ASSERT_TRUE(tool->wait_for_output(ABOUT_TEXT, 5000));
    tool->send(UP);
    EXPECT_TRUE(wait_for_line(*tool, "about"));
    tool->send("\r");
    EXPECT_TRUE(tool->wait_for_output(ABOUT_TEXT, 5000, 2));
    tool->send("quit\r");
    const ToolRun edited = tool->finish(20);
    EXPECT_EQ(edited.status, 0);
    EXPECT_EQ(count_of(edited.out, ABOUT_TEXT), 2u); // typed and recalled, none from the long line
    const std::string history = read_text_file(home + "/.nc_service_history");
    EXPECT_TRUE(holds(history, "\nabout\n"));
    EXPECT_TRUE(holds(history, "\nquit\n"));

    tool = start_on_terminal(nc4100, home);
    tool->send(UP + UP + "\r"); // quit is the latest line, about the one before
    EXPECT_TRUE(tool->wait_for_output(ABOUT_TEXT, 5000)) << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool)) << tool->out();
    // Ctrl-C ends the tool through its closing steps, by the signal, and the
    // terminal gets back every setting it had.
    tool->send("help na");
    ASSERT_TRUE(wait_for_line(*tool, "help na")) << tool->out();
    tool->send("\x03");
    const ToolRun run = tool->finish(20);
    EXPECT_EQ(run.signal, SIGINT) << run.out << run.err;
    EXPECT_TRUE(tool->terminal_as_before());
    EXPECT_TRUE(nc4100.wait_for_record(R"("text":"exit\u000d")", 2000, 2)) << nc4100.record();
    EXPECT_EQ(run.out.find("\x1b[?25l", run.out.rfind("nc> ")), std::string::npos);
}

// A hang-up while a line is being typed: the wait (-w) counts down on the
// terminal, and when the device is back the line is there to finish. ESC ends
// a wait for a device that stays away, and the terminal is left as found.
TEST(LineEditing, LineBeingTypedOutlivesAHangUpAndEscEndsTheWait) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--link", temp_path("compass"), "--serial", "41"});
    auto tool = start_on_terminal(sim, temp_folder("home"), {"-w", "30"});
    tool->send("sta");
    ASSERT_TRUE(wait_for_line(*tool, "sta"));
    sim.control("hangup 1000");
    EXPECT_TRUE(tool->wait_for_output(" s left ", 5000)) << tool->out();
    ASSERT_TRUE(tool->wait_for_output("Connected to NC-4100", 15000, 2)) << tool->out();
    ASSERT_TRUE(wait_for_line(*tool, "sta")) << tool->out();
    tool->send("tus\r");
    ASSERT_TRUE(tool->wait_for_output("Baudrate              Info    38400", 15000)) << tool->out();
    ASSERT_TRUE(wait_for_prompt(*tool));
    sim.control("hangup");
    ASSERT_TRUE(tool->wait_for_output("Waiting up to 30 s for NC-4100 (serial:00000041)", 5000, 2));
    tool->send("\x1b");
    EXPECT_TRUE(tool->wait_for_output("No devices found", 5000)) << tool->out();
    const ToolRun run = tool->finish(60);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(tool->terminal_as_before());
}
