// nc-service.exe under wine against nc-sim, beside the Linux nc-service: the
// same options and input give the same output, port names and line ends aside.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>

#include "tests/e2e/expect.h"

namespace fs = std::filesystem;

namespace {

const std::string COM_PORT = "COM5";

// Starts wine's server and services for a prefix, to stay until killed, first
// hiding where it may this machine's serial ports, which wine would list beside
// the simulator: in a mount namespace of its own, /dev keeps only what wine
// needs. Arguments: wineserver, wine64, a program.
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
  for name in pts shm; do
    mkdir /dev/$name && mount --bind "$old/$name" /dev/$name
  done
  "$1" -p; shift; exec "$@"' "$old" "$@"
)";

// A wine prefix of its own for one test, so that tests run in parallel: the
// registry copied from the prefix made once by script/wine, drive C shared, and
// COM5 mapped to the simulator's pty.
struct WinePrefix {
    explicit WinePrefix(const std::string& port_path) {
        const std::string base = NC_WINE_PREFIX;
        fs::create_directories(path + "/dosdevices");
        for (const char* file : {"user.reg", "userdef.reg", ".update-timestamp"})
            fs::copy_file(base + "/" + file, path + "/" + file);
        std::ofstream(path + "/system.reg", std::ios::binary)
            << read_text_file(base + "/system.reg") << "\n[Software\\\\Wine\\\\Ports]\n\""
            << COM_PORT << "\"=\"" << port_path << "\"\n";
        fs::create_directory_symlink(base + "/drive_c", path + "/dosdevices/c:");
        fs::create_directory_symlink("/", path + "/dosdevices/z:");
        // Wine's start-up takes seconds that are not the tool's.
        run_tool({"-c", START_WINE, "start-wine", NC_WINESERVER, NC_WINE64, NC_WINDOWS_TOOL_PATH, "-h"},
                 "", env, 60, "/bin/sh");
    }
    ~WinePrefix() { run_tool({"-k"}, "", env, 30, NC_WINESERVER); }
    WinePrefix(const WinePrefix&) = delete;

    const std::string path = temp_path("wine");
    const std::map<std::string, std::string> env = {
        {"WINEPREFIX", path}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
};

// Output as the two runs can be compared: LF line ends, "PORT " for the port's
// name and its padding, and no note of a sentence cut short by a device's
// restart, which timing decides.
std::string comparable(std::string text, const std::string& port_name) {
    for (size_t at; (at = text.find(port_name)) != std::string::npos;)
        text.replace(at, port_name.size(), "\x01");
    text = std::regex_replace(text, std::regex("\r\n"), "\n");
    text = std::regex_replace(text, std::regex("nmea frame with illegal CRC\n"), "");
    return std::regex_replace(text, std::regex("\x01 *"), "PORT ");
}

// Both tools, each against a simulator of its own.
struct BothTools {
    explicit BothTools(const std::vector<std::string>& options)
        : for_linux(options), for_windows(options), prefix(for_windows.port()) {}

    // Runs both at once; "@PORT" in args stands for the port's name.
    void run(const std::vector<std::string>& args, const std::string& input) {
        const auto with_port = [&](const std::string& name) {
            std::vector<std::string> result = args;
            std::replace(result.begin(), result.end(), std::string("@PORT"), name);
            return result;
        };
        const std::string pty = for_linux.port();
        auto linux_run = std::async(std::launch::async, [&] {
            return run_tool(with_port(pty), input, {{"NC_SERIAL_PORTS", pty}}, 90);
        });
        on_windows = run_tool(concat({NC_WINDOWS_TOOL_PATH}, with_port(COM_PORT)), input,
                              prefix.env, 90, NC_WINE64);
        on_linux = linux_run.get();
        for (auto [run, name] : {std::pair{&on_linux, pty}, std::pair{&on_windows, COM_PORT}}) {
            run->out = comparable(run->out, name);
            run->err = comparable(run->err, name);
        }
        EXPECT_EQ(on_windows.status, on_linux.status) << on_windows.err;
        EXPECT_EQ(on_windows.out, on_linux.out);
        EXPECT_EQ(on_windows.err, on_linux.err);
    }

    Simulator for_linux, for_windows;
    WinePrefix prefix;
    ToolRun on_linux, on_windows;
};

} // namespace

// Both tools print the same, and their devices receive the same lines that
// match the pattern, among them the one given.
TEST(OnWine, SameOutputAndTrafficAsOnLinux) {
    const struct {
        const char* legend;
        std::vector<std::string> sim, args;
        std::string input, out; // out: part of the Linux tool's output
        const char* pattern;    // of what the devices received, "" for none
        const char* received;
    } rows[] = {
        // Without -p the tool lists the COM ports and finds the simulator by its sentences.
        {"scan", {"--model", "NC-4100", "--baud", "38400"}, {"about"}, "", "PORT 38400", "", ""},
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
        BothTools both(row.sim);
        const auto is_com = [](const fs::directory_entry& entry) {
            return entry.path().filename().string().rfind("com", 0) == 0;
        };
        if (row.args.size() == 1 && // this machine's ports listed beside COM5
            std::count_if(fs::directory_iterator(both.prefix.path + "/dosdevices"), {}, is_com) > 1) {
            std::printf("%s skipped: wine lists this machine's serial ports too\n", row.legend);
            return;
        }
        both.run(row.args, row.input);
        EXPECT_TRUE(holds(both.on_linux.out, row.out)) << both.on_linux.err;
        const auto matches_in = [&row](const Simulator& sim) {
            std::string found;
            for (const auto& match : all_matches(sim.record(), row.pattern))
                found += match[0] + "\n";
            return found;
        };
        if (*row.pattern) {
            const std::string received = matches_in(both.for_linux);
            EXPECT_EQ(matches_in(both.for_windows), received);
            EXPECT_TRUE(holds(received, row.received));
        }
    });
}

// The diagnostic report holds the device's replies as they came: their CR LF
// stays CR LF, where a text stream made it CR CR LF. Ctrl-C while the prompt
// waits for a line from a pipe: the tool logs out and ends at once, not at the
// next line (wine cannot cancel a pipe read).
TEST(OnWine, DiagKeepsTheDevicesLineEndsAndCtrlCWithPipedInputEndsAtOnce) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400"});
    WinePrefix prefix(sim.port());
    const std::string dir = temp_folder("diag");
    const ToolRun run = run_tool({NC_WINDOWS_TOOL_PATH, "-b", "38400", "-p", COM_PORT, "diag", dir},
                                 "", prefix.env, 120, NC_WINE64);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string report;
    for (const auto& entry : fs::directory_iterator(dir))
        report = read_text_file(entry.path().string());
    EXPECT_NE(report.find("> post\r\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("\r\r\n"), std::string::npos);
    ToolProcess tool({NC_WINDOWS_TOOL_PATH, "-b", "38400", "-p", COM_PORT}, prefix.env, NC_WINE64);
    ASSERT_TRUE(tool.wait_for_output("nc> ", 90000)) << tool.out() << tool.err();
    const std::string exit = R"("text":"exit\u000d")";
    const size_t exits = count_of(sim.record(), exit);
    const auto asked = std::chrono::steady_clock::now();
    tool.signal(SIGINT);
    ASSERT_TRUE(sim.wait_for_record(exit, 10000, exits + 1)) << tool.out() << tool.err();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
}
