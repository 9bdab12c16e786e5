// What the tool cannot use (options and their values, lines at the prompt, file
// paths): each row is what the user typed and what the user then sees.
#include <fstream>

#include "expect.h"

namespace {

struct OptionRow {
    std::vector<std::string> args;
    int status;
    std::string err; // part of standard error
    std::string out; // part of standard output
};

// Whether text holds part, or is empty where part is.
testing::AssertionResult holds_or_empty(const std::string& text, const std::string& part) {
    return part.empty() ? testing::AssertionResult(text.empty()) << "not empty:\n" << text
                        : holds(text, part);
}

const char USAGE[] = "Usage: " NC_SERVICE_PATH " [options] [cmd [options]]\nOptions:\n";

struct Typed {
    std::string legend;
    std::string typed; // a line at the prompt without its line end, or a path
    std::string seen;  // what the user then sees
};

// A "words" line of count words, and what the command shows of them.
Typed numbered_words(int count) {
    Typed row{std::to_string(count) + " words", "words", std::to_string(count) + " words: [words]"};
    for (int i = 2; i <= count; ++i) {
        row.typed += " w" + std::to_string(i);
        row.seen += " [w" + std::to_string(i) + "]";
    }
    row.seen += "\n\n";
    return row;
}

} // namespace

TEST(BadOptions, EachIsRefusedWithItsMessageAndStatus) {
    const std::string missing = temp_path("no-such-port");
    // A log named with a space is a name like any other: it leaves a plain file there.
    const std::string not_a_port = temp_path("plain file");
    run_tool({"-l", not_a_port, "-p", missing});
    const auto bad_log = [&](const std::string& path, const std::string& reason) {
        return OptionRow{{"-l", path, "-p", missing}, 1,
                         "ERROR opening log file:" + path + ", " + reason + "\n", ""};
    };
    const std::string nothing_found =
        "\nPort     Info\n" + missing + " Not available\n\nNo devices found\n";
    const std::vector<OptionRow> rows = {
        // Asked for, the usage is no error and goes to standard output.
        {{"-h"}, 0, "", std::string(USAGE) + "-a            Active mode"},
        {{"-x"}, 1, std::string("invalid option -- 'x'\n") + USAGE, ""},
        {{"-p"}, 1, std::string("option requires an argument -- 'p'\n") + USAGE, ""},
        // Numbers must be numbers: the C library would read these as 0 or 38.
        {{"-b", "abc", "-p", missing}, 1, std::string("Error: Invalid baud rate: abc\n") + USAGE, ""},
        {{"-b", "38k", "-p", missing}, 1, "Error: Invalid baud rate: 38k\n", ""},
        {{"-b", "-4800", "-p", missing}, 1, "Error: Invalid baud rate: -4800\n", ""},
        {{"-b", "4294967296", "-p", missing}, 1, "Error: Invalid baud rate: 4294967296\n", ""},
        {{"-s", "12ab", "-p", missing}, 1, "Error: Invalid serial number: 12ab\n", ""},
        {{"-s", "", "-p", missing}, 1, "Error: Invalid serial number: \n", ""},
        {{"-s", "%s%n", "-p", missing}, 1, "Error: Invalid serial number: %s%n\n", ""},
        {{"-w", "30s", "-p", missing}, 1, "Error: Invalid wait time: 30s\n", ""},
        // Values that are well formed but lead nowhere.
        {{"-p", missing}, 1, "", nothing_found},
        {{"-w", "0", "-p", missing}, 1, "", nothing_found}, // 0: no waiting
        {{"-p", not_a_port}, 1, "failed to get serial port parameters", not_a_port + " Not available\n"},
        {{"-p", "/tmp"}, 1, "", "/tmp     Not available\n"},
        {{"-p", std::string(4000, 'p')}, 1, "", "Not available\n\nNo devices found\n"},
        // Log paths a message could mangle: the reason comes from the system, nothing is scanned.
        bad_log(temp_path("none") + "/x.log", "No such file or directory"),
        bad_log(temp_path(std::string(300, 'n') + ".log"), "File name too long"),
        bad_log(temp_path("%s%n") + "/x.log", "No such file or directory"),
    };
    check_at_once(rows, [](const OptionRow& row) {
        std::string typed;
        for (const std::string& arg : row.args)
            typed += " " + arg.substr(0, 40);
        SCOPED_TRACE(typed);
        const ToolRun run = run_tool(row.args, "", {{"NC_SERIAL_PORTS", ""}}, 30);
        EXPECT_EQ(run.status, row.status);
        EXPECT_TRUE(holds_or_empty(run.err, row.err));
        EXPECT_TRUE(holds_or_empty(run.out, row.out));
    });
}

// Lines typed at the prompt, in the order of the tables, in one session with a
// simulated device: commands given file paths they cannot use (nothing of them
// reaches the device), then lines that are not plain commands, whose words the
// test build's "words" command shows. A folder with a space in its name: Diag.*.
TEST(BadPromptLines, EachShowsItsMessageAndTheSessionGoesOn) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string dir = temp_folder("paths with spaces");
    const std::string plain = dir + "/plain";
    std::ofstream(plain) << "x";
    const std::string long_path = dir + "/" + std::string(200, 'y');
    // Settings files that are refused whole.
    const std::string model = "# model: NC-4100\n";
    const auto load_row = [&](const std::string& legend, const std::string& text, const std::string& seen) {
        const std::string path = dir + "/" + legend + ".ncs";
        std::ofstream(path, std::ios::binary) << text;
        return Typed{"settings, " + legend, "settings load \"" + path + "\"", seen};
    };
    const std::vector<Typed> paths = { // seen: on standard error
        {"upload, missing file", "upload \"" + dir + "/none.nci\"",
         "Could not open file: " + dir + "/none.nci\nUpload failed (-2)\n"},
        {"upload, a folder", "upload \"" + dir + "\"", "Could not open file: " + dir + "\nUpload failed (-2)\n"},
        {"upload, long name", "upload \"" + long_path + "\"",
         "Could not open file: " + long_path + "\nUpload failed (-2)\n"},
        {"upload, unquoted spaces", "upload " + dir + "/none.nci", "upload: Illegal argument: with\n"},
        {"diag, a file", "diag \"" + plain + "\"", "Error: Invalid path: " + plain + "\n"},
        {"diag, long name", "diag \"" + long_path + "\"", "Error: Invalid path: " + long_path + "\n"},
        {"diag, not writable", "diag /sys", "Error opening log file: NC-4100_00012345_"},
        {"stat, missing folder", "stat -l \"" + dir + "/none/s.log\"",
         "ERROR opening file: " + dir + "/none/s.log, No such file or directory\n"},
        {"settings, missing file", "settings load \"" + dir + "/none.ncs\"",
         "Error: cannot read " + dir + "/none.ncs: No such file or directory\n"},
        {"settings, a folder", "settings compare \"" + dir + "\"",
         "Error: " + dir + " is a folder, not a settings file\n"},
        load_row("binary", model + std::string("roll offset 1\0\x7f\x01", 16),
                 "Error: line 2: not text (a settings file holds command lines)\n"),
        load_row("long line", model + "roll offset 1.5" + std::string(250, ' ') + "\n",
                 "Error: line 2: longer than 255 characters\n"),
        load_row("no model", "roll offset 1.5\n", "Error: not a settings file: no \"# model:\" line\n"),
        load_row("another model", "# model: NC-350\nroll offset 1.5\n",
                 "Error: the file is for an NC-350, this is an NC-4100 (-f loads the settings they share)\n"),
        load_row("unknown command", model + "roll offset 1.5\nbogus 1\n",
                 "Error: line 3: not a setting: bogus 1 (a settings file holds only setting commands)\n"),
        // A command that is no setting; the blank line is counted.
        load_row("factory default", model + "\nfactory default\nroll offset 1.5\n",
                 "Error: line 3: not a setting: factory default (a settings file"),
        load_row("out of range", model + "roll offset 999\n", "Error: line 2: roll offset: out of range: 999\n"),
        load_row("trailing characters", model + "attitude filter 2x\n",
                 "Error: line 2: attitude filter: not a number: 2x\n"),
        load_row("bad sentence", model + "nmea0183 sentences HDT:110\n",
                 "Error: line 2: nmea0183 sentences: not a sentence and interval: HDT:110\n"),
        load_row("not this model's", model + "variation source auto\n",
                 "Error: line 2: this unit has no such setting: variation source auto\n"),
        {"settings, no file named", "settings load", "Error: usage: settings save <file> | "},
    };
    const std::string too_long = "Error: Line too long, at most 255 characters\n\n";
    const std::vector<Typed> lines = { // seen: all of standard output up to the next prompt
        {"longest line", "words " + std::string(249, 'a'),
         "2 words: [words] [" + std::string(249, 'a') + "]\n\n"},
        {"one character too long", "words " + std::string(250, 'a'), too_long},
        {"far too long", std::string(3000, 'b'), too_long},
        numbered_words(32),
        {"40 words", numbered_words(40).typed, "Error: Too many words, at most 32\n\n"},
        {"quotes", "words \"a b\" c\t\"d", "4 words: [words] [a b] [c] [\"d]\n\n"},
        {"unmatched quote", "help \"nav", "Error: Unknown command: \"nav\n\n"},
        {"only a quote", "\"", "Error: Unknown command: \"\n\n"},
        // Ctrl-A stands in for a quoted blank while the line is split: it comes out as one.
        {"control bytes", "words a\x01\x7f" "b \x1b[2J", "3 words: [words] [a \x7f" "b] [\x1b[2J]\n\n"},
        {"format directives", "%s%n%x%%", "Error: Unknown command: %s%n%x%%\n\n"},
        {"NUL ends the line", std::string("words x\0y z", 11), "2 words: [words] [x]\n\n"},
        {"carriage return", "words x\r", "2 words: [words] [x]\n\n"},
        {"blanks only", " \t ", ""},
        {"empty quotes", "\"\"", ""},
    };
    std::string input;
    for (const auto* rows : {&paths, &lines})
        for (const Typed& row : *rows)
            input += row.typed + "\n";
    const ToolRun run = run_tool({"-a", "-p", sim.port(), "-b", "38400"}, input + "quit\n", {}, 60,
                                 NC_TESTHOOKS_PATH);
    EXPECT_EQ(run.status, 0);
    size_t from = 0;
    for (const Typed& row : paths) {
        const size_t found = run.err.find(row.seen, from);
        EXPECT_NE(found, std::string::npos) << row.legend << "\n" << run.err;
        from = found == std::string::npos ? from : found + row.seen.size();
    }
    std::vector<std::string> outputs; // after each prompt, up to the next
    for (size_t at = run.out.find("nc> "), next; at != std::string::npos; at = next) {
        next = run.out.find("nc> ", at + 4);
        outputs.push_back(run.out.substr(at + 4, next == std::string::npos ? next : next - at - 4));
    }
    ASSERT_EQ(outputs.size(), paths.size() + lines.size() + 1) << run.out;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(outputs[paths.size() + i], lines[i].seen) << lines[i].legend;
    EXPECT_EQ(outputs.back(), "\n"); // quit
    EXPECT_FALSE(holds(run.out, "written to"));
    EXPECT_FALSE(holds(sim.record(), "\"type\":18,")); // no upload began
    // The connection's protocol query is the only configuration command sent.
    EXPECT_EQ(count_of(sim.record(), "\"text\":\"cfg "), count_of(sim.record(), "\"text\":\"cfg v"))
        << sim.record();
}
