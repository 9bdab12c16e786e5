// From start-up to the end: discovery, choice, connection, reconnection and the
// traffic log; then the tool as a well-behaved Linux program: signals that end it
// through its closing steps, closed standard streams, ports and permissions.
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "expect.h"
#include "tests/io/pty.h"

namespace {

std::string connected_line(const std::string& model, const std::string& serial,
                           const std::string& port) {
    return "\nConnected to " + model + " (serial:" + serial + ") at " + port + "\n\n";
}

const std::string EXIT_RECEIVED = R"("dir":"rx","kind":"shell","text":"exit\u000d")";

// Runs nc-service through the shell, to start it with a standard stream closed.
ToolRun run_through_shell(const std::string& redirections, const std::vector<std::string>& args) {
    return run_tool(concat({"-c", "exec \"$0\" \"$@\" " + redirections, NC_SERVICE_PATH}, args), "",
                    {}, 60, "/bin/sh");
}

} // namespace

// A rate the standard table lacks is tried as given; when it finds nothing,
// the second pass falls back to 38400. The traffic log holds the
// identification, login, a query and exit in both directions.
TEST(Discovery, UnusualRateFallsBackTo38400AndTheTrafficIsLogged) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400", "--serial", "4711"});
    const std::string log_path = temp_path("traffic.log");
    ToolRun run = run_tool({"-p", sim.port(), "-b", "3840", "-l", log_path, "about"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(holds(run.out, "NC-Service Tool, 64-305127, version: 1.05\n\n"
                               "Type 'help' to get a list of all available commands\n\n"));
    EXPECT_TRUE(matches(run.out, "\nNo  Model     Part no     Serial    SW ver  Port   Baudrate\n"
                                 "1   NC-4100   37-203952   00004711  .*  38400\n"));
    EXPECT_TRUE(holds(run.out, connected_line("NC-4100", "00004711", sim.port())));
    EXPECT_FALSE(holds(run.out, "\x1b")); // no escape sequences into a pipe
    EXPECT_TRUE(sim.wait_for_record(EXIT_RECEIVED, 2000));
    const std::string log = read_text_file(log_path);
    for (const std::string sent : {"0,98A810010000972C", "SH,kestrel\\^0D\\^0D", "SH,exit\\^0D"})
        EXPECT_TRUE(matches(log, "[0-9]+ TX: \\$PNCX," + sent + "\\*[0-9A-F]{2}\r\n"));
    EXPECT_TRUE(matches(log, "[0-9]+ RX: \\$PNCX,SH,cfg v"));
}

// The ports of NC_SERIAL_PORTS in their order: a choice read from input, -s
// to pick a device by its serial number, and nothing found (with or without a
// command to run). A port another program holds, -s on no match: the rig.
TEST(Discovery, SeveralPortsListedInOrderAndChosenFromInput) {
    Simulator a({"--model", "NC-4100", "--serial", "101"});
    Simulator b({"--model", "NC-350", "--serial", "202", "--baud", "38400"});
    Simulator c({"--model", "NC-210", "--serial", "303"});
    const std::string missing = temp_path("no-such-port");
    const std::map<std::string, std::string> ports = {
        {"NC_SERIAL_PORTS", a.port() + ":" + missing + ":" + b.port() + ":" + c.port()}};
    ToolRun run = run_tool({"quit"}, "0\n4\n\n2x\n", ports);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(holds(run.out, "searching for NC navigation devices:\n"));
    EXPECT_TRUE(matches(run.out, "1   NC-4100 .*00000101.*\n2   NC-350 .*00000202.*38400\n"
                                 "3   NC-210 .*00000303"));
    EXPECT_TRUE(holds(run.out, "\nMultiple devices found, please select one of the devices (1-3)"));
    EXPECT_EQ(count_of(run.out, "> "), 4u); // 0, 4 and an empty line ask again
    EXPECT_TRUE(holds(run.out, connected_line("NC-350", "00000202", b.port())));
    EXPECT_EQ(run_tool({"quit"}, "9\n", ports).status, 1); // input ended before a valid choice
    ToolRun filtered = run_tool({"-s", "303", "quit"}, "", ports);
    EXPECT_EQ(filtered.status, 0);
    EXPECT_TRUE(holds(filtered.out, "\n1   NC-210 "));
    EXPECT_FALSE(holds(filtered.out, "Multiple devices"));
    ToolRun none = run_tool({"-v", "-s", "999", "quit"}, "", ports);
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(holds(none.out, "failed to open serial port: " + missing));
    for (const std::string& line :
         {missing + " Not available", a.port() + " NMEA183 NC-NAV", std::string("\nNo devices found")})
        EXPECT_TRUE(holds(none.out, line + "\n"));
    EXPECT_FALSE(holds(none.out, "Press <enter> to quit"));
    ToolRun bare = run_tool({}, "\n", {{"NC_SERIAL_PORTS", missing}});
    EXPECT_EQ(bare.status, 1);
    EXPECT_TRUE(holds(bare.out, "\nNo devices found\nPress <enter> to quit\n"));
}

// -w: the line is lost in the middle of the status report, which stops there
// (the value being read is not printed) and names the loss; the device is
// looked for until it is back (a pipe gets no countdown), connected again
// within 2 s of its return on the same port, named by a stable link under
// /dev/serial/by-id, the interrupted command is named, and the next report is
// whole. Then the monitor reads the port until it fails, and after the next
// reconnect until ESC. The wait at start-up, a hang-up at the prompt:
// LineEditing.LineBeingTyped* and the rig.
TEST(Reconnect, WaitFindsTheDeviceAgainAfterTheReportStopsWhereTheLineWasLost) {
    const std::string link =
        temp_folder("serial-by-id") + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const std::string connected = connected_line("NC-4100", "00000077", link);
    START_SIMULATOR(sim, {"--model", "NC-4100", "--link", link, "--serial", "77", "--baud", "38400"});
    START_AT_PROMPT(tool, {"-w", "20", "-p", link});
    sim.control("delay 150");
    tool.send("status\n");
    ASSERT_TRUE(sim.wait_for_record(R"("text":"post\u000d")", 5000));
    constexpr int AWAY_MS = 1500;
    sim.control("hangup " + std::to_string(AWAY_MS));
    const auto lost_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(tool.wait_for_output(connected, 20000, 2));
    const auto back_after = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - lost_at).count() - AWAY_MS;
    std::printf("connected again %lld ms after the device came back\n",
                static_cast<long long>(back_after));
    EXPECT_LE(back_after, 2000);
    EXPECT_TRUE(holds(tool.out(), "Waiting up to 20 s for NC-4100 (serial:00000077), press ESC or "
                                  "Ctrl-C to stop\n"));
    EXPECT_TRUE(tool.wait_for_output("'status' was interrupted and is not repeated\n", 5000));
    sim.control("clear");
    ASSERT_TRUE(tool.send_and_wait("status\nmon\n", "$HEHDT", 20000));
    sim.control("hangup 200"); // back before the dispatcher's 500 ms pause ends
    ASSERT_TRUE(tool.wait_for_output(connected, 30000, 3));
    ASSERT_TRUE(tool.send_and_wait("mon\n", "$HEHDT", 10000, count_of(tool.out(), "$HEHDT") + 1));
    tool.send("\x1b" "quit\n"); // ESC ends the monitor
    const ToolRun run = tool.finish(60);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(holds(run.err, "\nError: the device was lost, the report is incomplete\n"));
    EXPECT_TRUE(holds(run.err, "Error, reading from serial port: "));
    EXPECT_EQ(count_of(run.out, "Power On self Test    OK\n"), 1u) << run.out;
    EXPECT_EQ(count_of(run.out, "Baudrate              Info    38400\n"), 1u);
    EXPECT_FALSE(holds(run.out, "Attitude filter       Info    disabled")); // never read
    EXPECT_FALSE(holds(run.out, " s left"));
}

// A port where nobody answers, searched passively and actively: the port table
// says why nothing is found. A user who may not open it is told what to do about
// it, and the port is not called one that another program holds. Ports left as
// found: SerialPort.SettingsFound* on a pty, and the rig on the serial drivers.
TEST(Platform, SilentOrForbiddenPortIsExplained) {
    TestPty port;
    for (const auto& options : std::vector<std::vector<std::string>>{{}, {"-a", "-b", "38400"}}) {
        ToolRun run = run_tool(concat(options, {"-p", port.path, "ver"}));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(holds(run.out, "No data received"));
    }
    ASSERT_EQ(chmod(port.path.c_str(), 0600), 0);
    ToolRun run = run_tool({"--reuid=65534", "--regid=65534", "--clear-groups", NC_SERVICE_PATH,
                            "-p", port.path, "ver"}, "", {}, 60, "/usr/bin/setpriv");
    if (run.status == 127 || getuid() != 0)
        GTEST_SKIP() << "needs root and setpriv to play a user without permission";
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(holds(run.out, port.path + " Not available\n"));
    EXPECT_FALSE(holds(run.out, "might be opened by another application"));
    EXPECT_TRUE(holds(run.err, "Error: no permission to open " + port.path + ": "));
}

// Started with standard input or output closed (as by some service managers),
// the port is never read as the console, nor the log written as its output.
TEST(Platform, ClosedStandardStreamsAreNotTakenByThePortOrTheLog) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    ToolRun no_input = run_through_shell("<&-", {"-p", sim.port(), "-b", "38400"});
    EXPECT_EQ(no_input.status, 0) << no_input.out << no_input.err;
    EXPECT_FALSE(holds(no_input.out, "Unknown command"));
    EXPECT_TRUE(sim.wait_for_record(EXIT_RECEIVED, 2000));
    const std::string log = temp_path("closed-stdout.log");
    ToolRun no_output = run_through_shell(">&-", {"-p", sim.port(), "-b", "38400", "-l", log, "about"});
    EXPECT_EQ(no_output.status, 0) << no_output.err;
    const std::string text = read_text_file(log);
    EXPECT_FALSE(holds(text, "Connected to"));
    EXPECT_FALSE(holds(text, "NC_Service Tool, version"));
    EXPECT_TRUE(matches(text, "^[0-9]+ (TX|RX): "));
}
