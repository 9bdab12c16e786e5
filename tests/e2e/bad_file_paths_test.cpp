// File paths the tool cannot use, given to -l, upload, diag and stat -l: each
// row is what the user typed and what the user then sees.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "expect.h"

namespace {

struct PathRow {
    std::string legend;
    std::string typed;
    std::string seen; // the message, on standard error unless it says otherwise
};

// A path where the tool may not write even as root: the kernel's own files.
const char UNWRITABLE_FILE[] = "/sys/nc.log";

// Why the system refuses to create it here: "Permission denied", or
// "Read-only file system" where /sys is mounted read-only, as in containers.
std::string unwritable_reason() {
    errno = 0;
    if (std::FILE* file = std::fopen(UNWRITABLE_FILE, "w")) {
        std::fclose(file);
        return "(it was writable)";
    }
    return std::strerror(errno);
}

} // namespace

TEST(BadFilePaths, TrafficLogThatCannotBeOpenedEndsTheProgram) {
    const std::string dir = temp_folder("log dir");
    const std::string long_name = dir + "/" + std::string(300, 'n') + ".log";
    const std::vector<PathRow> rows = {
        {"missing folder", dir + "/none/x.log", "ERROR opening log file:" + dir + "/none/x.log, No such file or directory\n"},
        {"a folder", dir, "ERROR opening log file:" + dir + ", Is a directory\n"},
        {"not writable", UNWRITABLE_FILE, std::string("ERROR opening log file:") + UNWRITABLE_FILE + ", " + unwritable_reason() + "\n"},
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
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string dir = temp_folder("paths with spaces");
    const std::string plain = dir + "/plain";
    std::ofstream(plain) << "x";
    const std::string long_path = dir + "/" + std::string(200, 'y');
    // Settings files that are refused whole: nothing of them reaches the device.
    const std::string model = "# model: NC-4100\n";
    const auto load_row = [&](const std::string& legend, const std::string& text, const std::string& seen) {
        const std::string path = dir + "/" + legend + ".ncs";
        std::ofstream(path, std::ios::binary) << text;
        return PathRow{"settings, " + legend, "settings load \"" + path + "\"", seen};
    };
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
         std::string("ERROR opening file: ") + UNWRITABLE_FILE + ", " + unwritable_reason() + "\n"},
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
        load_row("upload", model + "roll offset 1.5\n\nupload fw.nci\n",
                 "Error: line 4: not a setting: upload fw.nci (a settings file"),
        load_row("factory default", model + "factory default\nroll offset 1.5\n",
                 "Error: line 2: not a setting: factory default (a settings file"),
        load_row("out of range", model + "roll offset 999\n", "Error: line 2: roll offset: out of range: 999\n"),
        load_row("trailing characters", model + "attitude filter 2x\n",
                 "Error: line 2: attitude filter: not a number: 2x\n"),
        load_row("bad sentence", model + "nmea0183 sentences HDT:110\n",
                 "Error: line 2: nmea0183 sentences: not a sentence and interval: HDT:110\n"),
        load_row("not this model's", model + "variation source auto\n",
                 "Error: line 2: this unit has no such setting: variation source auto\n"),
        {"settings, no file named", "settings load", "Error: usage: settings save <file> | "},
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
    // The connection's protocol query is the only configuration command sent.
    EXPECT_EQ(count_of(sim.record(), "\"text\":\"cfg "), count_of(sim.record(), "\"text\":\"cfg v"))
        << sim.record();
}
