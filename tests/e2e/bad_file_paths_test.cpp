// File paths the tool cannot use, given to -l, upload, diag and stat -l: each
// row is what the user typed and what the user then sees.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "expect.h"
#include "harness.h"

namespace {

struct PathRow {
    std::string legend;
    std::string typed;
    std::string seen; // the message, on standard error unless it says otherwise
};

// A path where the tool may not write even as root: the kernel's own files.
const char UNWRITABLE_FILE[] = "/sys/nc.log";

} // namespace

TEST(BadFilePaths, TrafficLogThatCannotBeOpenedEndsTheProgram) {
    const std::string dir = temp_path("log dir");
    std::filesystem::create_directories(dir);
    const std::string long_name = dir + "/" + std::string(300, 'n') + ".log";
    const std::vector<PathRow> rows = {
        {"missing folder", dir + "/none/x.log", "ERROR opening log file:" + dir + "/none/x.log, No such file or directory\n"},
        {"a folder", dir, "ERROR opening log file:" + dir + ", Is a directory\n"},
        {"not writable", UNWRITABLE_FILE, std::string("ERROR opening log file:") + UNWRITABLE_FILE + ", Permission denied\n"},
        {"name too long", long_name, "ERROR opening log file:" + long_name + ", File name too long\n"},
        {"format directives", dir + "/%s%n/x.log", "ERROR opening log file:" + dir + "/%s%n/x.log, No such file or directory\n"},
    };
    for (const PathRow& row : rows) {
        SCOPED_TRACE(row.legend);
        const ToolRun run = run_tool({"-l", row.typed, "-p", temp_path("no-port")});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, row.seen);
        EXPECT_FALSE(holds(run.out, "searching")); // nothing scanned
    }
    // A name with spaces is a name like any other.
    const ToolRun spaced = run_tool({"-l", dir + "/with spaces.log", "-p", temp_path("no-port")});
    EXPECT_EQ(spaced.err, "");
    EXPECT_TRUE(std::filesystem::exists(dir + "/with spaces.log"));
}

// A report written into a folder with a space in its name:
// Diag.ReportFileInTheGivenDirectory.
TEST(BadFilePaths, CommandsAtThePromptSayWhatIsWrongAndGoOn) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400"});
    ASSERT_TRUE(sim.running());
    const std::string dir = temp_path("paths with spaces");
    std::filesystem::create_directories(dir);
    const std::string plain = dir + "/plain";
    std::ofstream(plain) << "x";
    const std::string long_path = dir + "/" + std::string(200, 'y');
    const std::vector<PathRow> rows = {
        {"upload, missing file", "upload \"" + dir + "/none.nci\"",
         "Could not open file: " + dir + "/none.nci\nUpload failed (-2)\n"},
        {"upload, a folder", "upload \"" + dir + "\"", "Could not open file: " + dir + "\nUpload failed (-2)\n"},
        {"upload, long name", "upload \"" + long_path + "\"",
         "Could not open file: " + long_path + "\nUpload failed (-2)\n"},
        {"upload, unquoted spaces", "upload " + dir + "/none.nci", "upload: Illegal argument: with\n"},
        {"diag, a file", "diag \"" + plain + "\"", "Error: Invalid path: " + plain + "\n"},
        {"diag, missing folder", "diag \"" + dir + "/none\"", "Error: Invalid path: " + dir + "/none\n"},
        {"diag, long name", "diag \"" + long_path + "\"", "Error: Invalid path: " + long_path + "\n"},
        {"diag, not writable", "diag /sys", "Error opening log file: NC-4100_00012345_"},
        {"stat, missing folder", "stat -l \"" + dir + "/none/s.log\"",
         "ERROR opening file: " + dir + "/none/s.log, No such file or directory\n"},
        {"stat, a folder", "stat -l \"" + dir + "\"", "ERROR opening file: " + dir + ", Is a directory\n"},
        {"stat, not writable", std::string("stat -l ") + UNWRITABLE_FILE,
         std::string("ERROR opening file: ") + UNWRITABLE_FILE + ", Permission denied\n"},
    };
    std::string input;
    for (const PathRow& row : rows)
        input += row.typed + "\n";
    const ToolRun run = run_tool({"-a", "-p", sim.port(), "-b", "38400"}, input + "about\nquit\n");
    EXPECT_EQ(run.status, 0);
    size_t at = 0;
    for (const PathRow& row : rows) {
        const size_t found = run.err.find(row.seen, at);
        EXPECT_NE(found, std::string::npos) << row.legend << "\n" << run.err;
        if (found != std::string::npos)
            at = found + row.seen.size();
    }
    EXPECT_TRUE(holds(run.out, "NC_Service Tool, version 1.05.")); // the session went on
    EXPECT_FALSE(holds(run.out, "written to"));
    EXPECT_FALSE(holds(sim.record(), "\"type\":18,")); // no upload began
}
