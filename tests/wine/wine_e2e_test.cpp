// nc-service.exe under wine against nc-sim, beside the Linux nc-service: the
// same options and input give the same output, port names and line ends aside.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>

#include "tests/e2e/expect.h"
#include "tests/e2e/harness.h"

namespace fs = std::filesystem;

namespace {

const std::string COM_PORT = "COM5";

// Starts wine's server and services for a prefix, to stay until killed. Where
// it may, it first hides this machine's own serial ports, which wine would list
// as COM ports beside the simulator: in a mount namespace of its own, /dev
// keeps only what wine needs. Arguments: wineserver, wine64, a program.
const char START_WINE[] = R"(
exec </dev/null >/dev/null 2>&1
start() { "$1" -p && shift && exec "$@"; }
old=$WINEPREFIX.dev
mkdir -p "$old"
unshare -m true || start "$@"
exec unshare -m sh -c '
  old=$0
  mount --rbind /dev "$old" && mount -t tmpfs tmpfs /dev || { "$1" -p; shift; exec "$@"; }
  for name in null zero full random urandom tty ptmx; do
    touch /dev/$name && mount --bind "$old/$name" /dev/$name
  done
  mkdir /dev/pts /dev/shm
  mount --bind "$old/pts" /dev/pts
  mount --bind "$old/shm" /dev/shm
  "$1" -p; shift; exec "$@"' "$old" "$@"
)";

// A wine prefix of its own for one test, so that tests run in parallel: the
// registry copied from the prefix made once by script/wine, drive C shared, and
// COM5 mapped to the simulator's pty.
class WinePrefix {
  public:
    explicit WinePrefix(const std::string& port_path) : path_(temp_path("wine")) {
        const std::string base = NC_WINE_PREFIX;
        fs::create_directories(path_ + "/dosdevices");
        for (const char* file : {"user.reg", "userdef.reg", ".update-timestamp"})
            fs::copy_file(base + "/" + file, path_ + "/" + file);
        std::ofstream(path_ + "/system.reg", std::ios::binary)
            << read_text_file(base + "/system.reg") << "\n[Software\\\\Wine\\\\Ports]\n\""
            << COM_PORT << "\"=\"" << port_path << "\"\n";
        fs::create_directory_symlink(base + "/drive_c", path_ + "/dosdevices/c:");
        fs::create_directory_symlink("/", path_ + "/dosdevices/z:");
        // A run of the tool that touches no port: wine's start-up takes seconds
        // that are not the tool's.
        run_tool({"-c", START_WINE, "start-wine", NC_WINESERVER, NC_WINE64, NC_WINDOWS_TOOL_PATH, "-h"},
                 "", environment(), 60, "/bin/sh");
    }
    ~WinePrefix() { run_tool({"-k"}, "", environment(), 30, NC_WINESERVER); }
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    std::map<std::string, std::string> environment() const {
        return {{"WINEPREFIX", path_}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
    }
    // The COM ports wine made for this prefix.
    std::vector<std::string> com_ports() const {
        std::vector<std::string> ports;
        for (const auto& entry : fs::directory_iterator(path_ + "/dosdevices")) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("com", 0) == 0)
                ports.push_back(name);
        }
        return ports;
    }

  private:
    std::string path_;
};

// One simulator for each tool.
struct SimPair {
    explicit SimPair(const std::vector<std::string>& options)
        : for_linux(options), for_windows(options) {}
    Simulator for_linux;
    Simulator for_windows;
};

struct Runs {
    ToolRun on_linux;
    ToolRun on_windows;
};

std::string escaped(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// Output as the two runs can be compared: LF line ends, "PORT " for the
// port's name with whatever padding follows it, and no note of a sentence cut
// short: a device that restarts stops its output wherever it is, so whether a
// run sees half a sentence is up to timing.
std::string comparable(const std::string& text, const std::string& port_name) {
    std::string lf = std::regex_replace(text, std::regex("\r\n"), "\n");
    lf = std::regex_replace(lf, std::regex("nmea frame with illegal CRC\n"), "");
    return std::regex_replace(lf, std::regex(escaped(port_name) + " *"), "PORT ");
}

// Runs both tools at once; "@PORT" in args stands for the port's name.
Runs run_both(SimPair& sims, const WinePrefix& prefix, const std::vector<std::string>& args,
              const std::string& input) {
    auto with_port = [&](const std::string& name) {
        std::vector<std::string> result = args;
        std::replace(result.begin(), result.end(), std::string("@PORT"), name);
        return result;
    };
    const std::string pty = sims.for_linux.port();
    auto linux_run = std::async(std::launch::async, [&] {
        return run_tool(with_port(pty), input, {{"NC_SERIAL_PORTS", pty}}, 90);
    });
    std::vector<std::string> windows_args = with_port(COM_PORT);
    windows_args.insert(windows_args.begin(), NC_WINDOWS_TOOL_PATH);
    Runs runs;
    runs.on_windows = run_tool(windows_args, input, prefix.environment(), 90, NC_WINE64);
    runs.on_linux = linux_run.get();
    for (auto [run, name] : {std::pair{&runs.on_linux, pty}, std::pair{&runs.on_windows, COM_PORT}}) {
        run->out = comparable(run->out, name);
        run->err = comparable(run->err, name);
    }
    return runs;
}

void expect_same(const Runs& runs) {
    EXPECT_EQ(runs.on_windows.status, runs.on_linux.status) << runs.on_windows.err;
    EXPECT_EQ(runs.on_windows.out, runs.on_linux.out);
    EXPECT_EQ(runs.on_windows.err, runs.on_linux.err);
}

// Every match of the pattern in what the simulator recorded, a line each.
std::string matches_in(const Simulator& sim, const std::string& pattern) {
    std::string found;
    for (const auto& match : all_matches(sim.record(), pattern))
        found += match[0] + "\n";
    return found;
}

} // namespace

// No -p: the tool lists the COM ports, finds the simulator listening to its
// sentences, connects and runs one command.
TEST(OnWine, StartUpAndScan) {
    SimPair sims({"--model", "NC-4100", "--baud", "38400"});
    WinePrefix prefix(sims.for_windows.port());
    if (prefix.com_ports() != std::vector<std::string>{"com5"})
        GTEST_SKIP() << "wine also lists this machine's serial ports: no rights to hide them";
    Runs runs = run_both(sims, prefix, {"about"}, "");
    EXPECT_EQ(runs.on_linux.status, 0) << runs.on_linux.out << runs.on_linux.err;
    EXPECT_TRUE(holds(runs.on_linux.out, "PORT 38400"));
    expect_same(runs);
}

// Each row runs both tools at once, each against a simulator of its own, and
// they must print the same and the devices receive the same: the lines that
// match the pattern, among them the one given.
TEST(OnWine, SameOutputAndTrafficAsOnLinux) {
    const struct {
        const char* legend;
        std::vector<std::string> sim, args;
        std::string input, out; // out: part of the Linux tool's output
        const char* pattern;    // of what the devices received, "" for none
        const char* received;
    } rows[] = {
        {"help texts, an unknown command, the version and the status report",
         {"--model", "NC-4100", "--baud", "38400"}, {"-b", "38400", "-p", "@PORT"},
         "help\nabout\nbogus\nhelp ver\nver\nstatus\nquit\n", "nc> ", "", ""},
        // Values that are no numbers never reach the device, whatever the C
        // library makes of "nan".
        {"configuration change", {"--model", "NC-4100", "--no-nmea"}, {"-a", "-b", "38400", "-p", "@PORT"},
         "roll offset 1.5\nroll offset nan\nvertical offset abc\nroll offset\n",
         "Static roll offset set to: 1.50 degrees\n", "\"text\":\"cfg m [rw] -?[0-9][^\"]*\"",
         "cfg m r -150 0 0"},
        // An image and a data block in frames, the image at the transfer rate.
        {"upload", {"--model", "NC-350", "--reboot-time", "300"},
         {"-v", "-p", "@PORT", "upload", "-b", "38400", make_image({"--data-size", "0x10:200"})}, "",
         "Device successfully updated to 1.07 Release\n", "\"dir\":\"rx\",\"kind\":\"frame\"[^}]*",
         "\"type\":18"},
    };
    check_at_once(rows, [](const auto& row) {
        SCOPED_TRACE(row.legend);
        SimPair sims(row.sim);
        WinePrefix prefix(sims.for_windows.port());
        const Runs runs = run_both(sims, prefix, row.args, row.input);
        EXPECT_TRUE(holds(runs.on_linux.out, row.out)) << runs.on_linux.err;
        expect_same(runs);
        if (*row.pattern) {
            const std::string received = matches_in(sims.for_linux, row.pattern);
            EXPECT_EQ(matches_in(sims.for_windows, row.pattern), received);
            EXPECT_TRUE(holds(received, row.received));
        }
    });
}

// Ctrl-C while the prompt waits for a line from a pipe: the tool logs out
// and ends at once, not at the next line (wine cannot cancel a pipe read).
TEST(OnWine, CtrlCWithPipedInputEndsAtOnce) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400"});
    WinePrefix prefix(sim.port());
    ToolProcess tool({NC_WINDOWS_TOOL_PATH, "-b", "38400", "-p", COM_PORT}, prefix.environment(),
                     NC_WINE64);
    ASSERT_TRUE(tool.wait_for_output("nc> ", 90000)) << tool.out() << tool.err();
    const auto asked = std::chrono::steady_clock::now();
    tool.signal(SIGINT);
    ASSERT_TRUE(sim.wait_for_record(R"("text":"exit\u000d")", 10000)) << tool.out() << tool.err();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
    tool.close_input();
    tool.finish(120);
}

// The diagnostic report holds the device's replies as they came: their CR LF
// stays CR LF, where a text stream made it CR CR LF.
TEST(OnWine, DiagReportKeepsTheDevicesLineEnds) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400"});
    WinePrefix prefix(sim.port());
    const std::string dir = temp_folder("diag");
    const ToolRun run = run_tool({NC_WINDOWS_TOOL_PATH, "-b", "38400", "-p", COM_PORT, "diag", dir},
                                 "", prefix.environment(), 120, NC_WINE64);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string report;
    for (const auto& entry : fs::directory_iterator(dir))
        report = read_text_file(entry.path().string());
    EXPECT_NE(report.find("> post\r\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("\r\r\n"), std::string::npos);
}
