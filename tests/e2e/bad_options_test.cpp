// Options and option values the tool cannot use: each row is what the user
// typed after the program's name, and what the user then sees.
#include "expect.h"

namespace {

struct OptionRow {
    std::vector<std::string> args;
    int status;
    std::string err; // part of standard error ("" when it must be empty)
    std::string out; // part of standard output ("" when it must be empty)
};

const char USAGE[] = "Usage: " NC_SERVICE_PATH " [options] [cmd [options]]\nOptions:\n";

} // namespace

TEST(BadOptions, EachIsRefusedWithItsMessageAndStatus) {
    const std::string missing = temp_path("no-such-port");
    const std::string not_a_port = temp_path("plain-file");
    run_tool({"-l", not_a_port, "-p", missing}); // leaves a plain file there
    const std::string nothing_found =
        "\nPort     Info\n" + missing + " Not available\n\nNo devices found\n";
    const std::vector<OptionRow> rows = {
        // Asked for, the usage is no error and goes to standard output.
        {{"-h"}, 0, "", std::string(USAGE) + "-a            Active mode"},
        {{"-h"}, 0, "", "-w <seconds>  Wait this long for a lost device to come back\ncmd"},
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
        {{"-w"}, 1, std::string("option requires an argument -- 'w'\n") + USAGE, ""},
        // Values that are well formed but lead nowhere.
        {{"-p", missing}, 1, "", nothing_found},
        {{"-p", missing, "-b", "3840", "ver"}, 1, "", nothing_found},
        {{"-w", "0", "-p", missing}, 1, "", nothing_found}, // 0: no waiting
        {{"-p", not_a_port}, 1, "failed to get serial port parameters", not_a_port + " Not available\n"},
        {{"-p", "/tmp"}, 1, "", "/tmp     Not available\n"},
        {{"-p", std::string(4000, 'p')}, 1, "", "Not available\n\nNo devices found\n"},
    };
    for (const OptionRow& row : rows) {
        std::string typed;
        for (const std::string& arg : row.args)
            typed += " " + arg.substr(0, 40);
        SCOPED_TRACE(typed);
        const ToolRun run = run_tool(row.args, "", {{"NC_SERIAL_PORTS", ""}}, 30);
        EXPECT_EQ(run.status, row.status);
        if (row.err.empty())
            EXPECT_EQ(run.err, "");
        else
            EXPECT_TRUE(holds(run.err, row.err));
        if (row.out.empty())
            EXPECT_EQ(run.out, "");
        else
            EXPECT_TRUE(holds(run.out, row.out));
    }
}
