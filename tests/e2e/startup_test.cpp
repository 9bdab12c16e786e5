// From start-up to the prompt: discovery, choice, connection, one-shot commands,
// the loop, reconnection and the traffic log, against simulated devices.
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/file.h>
#include <unistd.h>

#include "expect.h"

namespace {

std::string connected_line(const std::string& model, const std::string& serial,
                           const std::string& port) {
    return "\nConnected to " + model + " (serial:" + serial + ") at " + port + "\n\n";
}

} // namespace

// Bad options and option values, and -h: bad_options_test.cpp.

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
    EXPECT_TRUE(holds(run.out, "\nNo  Model     Part no     Serial    SW ver  Port   Baudrate\n"
                               "1   NC-4100   37-203952   00004711  "));
    EXPECT_TRUE(holds(run.out, "  38400\n"));
    EXPECT_TRUE(holds(run.out, connected_line("NC-4100", "00004711", sim.port())));
    EXPECT_FALSE(holds(run.out, "\x1b")); // no escape sequences into a pipe
    EXPECT_TRUE(sim.wait_for_record(R"("dir":"rx","kind":"shell","text":"exit\u000d")", 2000));

    const std::string log = read_text_file(log_path);
    const auto has = [&](const std::string& pattern) {
        return std::regex_search(log, std::regex(pattern));
    };
    EXPECT_TRUE(has("\\n?[0-9]+ TX: \\$PNCX,0,98A810010000972C\\*[0-9A-F]{2}\r\n")) << log;
    EXPECT_TRUE(has("[0-9]+ TX: \\$PNCX,SH,kestrel\\^0D\\^0D\\*[0-9A-F]{2}\r\n"));
    EXPECT_TRUE(has("[0-9]+ RX: \\$PNCX,SH,cfg v"));
    EXPECT_TRUE(has("[0-9]+ TX: \\$PNCX,SH,exit\\^0D\\*[0-9A-F]{2}\r\n"));
}

// The ports of NC_SERIAL_PORTS in their order: a choice read from input, -s
// to pick a device by its serial number, a port that another program holds,
// and nothing found (with or without a command to run).
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
    const std::regex table("1   NC-4100 .*00000101.*\n2   NC-350 .*00000202.*38400\n3   NC-210 .*00000303");
    EXPECT_TRUE(std::regex_search(run.out, table)) << run.out;
    EXPECT_TRUE(
        holds(run.out, "\nMultiple devices found, please select one of the devices (1-3)\n"));
    EXPECT_EQ(count_of(run.out, "> "), 4u); // 0, 4 and an empty line ask again
    EXPECT_TRUE(holds(run.out, connected_line("NC-350", "00000202", b.port())));
    EXPECT_EQ(run_tool({"quit"}, "9\n", ports).status, 1); // input ended before a valid choice

    ToolRun filtered = run_tool({"-v", "-s", "303", "quit"}, "", ports);
    EXPECT_EQ(filtered.status, 0);
    EXPECT_TRUE(holds(filtered.out, "Device with no matching serial number: 00000101\n"));
    EXPECT_TRUE(holds(filtered.out, "\n1   NC-210 "));
    EXPECT_FALSE(holds(filtered.out, "Multiple devices"));
    EXPECT_TRUE(holds(filtered.out, "failed to open serial port: " + missing));

    const int held = open(c.port().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    ToolRun none = run_tool({"-s", "999", "quit"}, "", ports);
    close(held);
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(holds(none.out, missing + " Not available\n"));
    EXPECT_TRUE(holds(none.out, a.port() + " NMEA183 NC-NAV\n"));
    EXPECT_TRUE(
        holds(none.out, c.port() + " Access denied (might be opened by another application)\n"));
    EXPECT_TRUE(holds(none.out, "\nNo devices found\n"));
    EXPECT_FALSE(holds(none.out, "Press <enter> to quit"));

    ToolRun bare = run_tool({}, "\n", {{"NC_SERIAL_PORTS", missing}});
    EXPECT_EQ(bare.status, 1);
    EXPECT_TRUE(holds(bare.out, "\nNo devices found\nPress <enter> to quit\n"));
}

// A command that reads the port until it fails, as the monitor does, lost the
// device: the loop reconnects, on the same port. A hang-up at the prompt is
// seen at once, with nothing typed; without -w the single search finds nothing
// there while the device is away. The port is given by its stable name under
// /dev/serial/by-id (a link to the tty): found, listed with -v, and found again
// under that name. A device that does not come back after an upload:
// Upload.DeviceLostAfterTheUploadEndsTheSession.
TEST(Reconnect, LostLineLeadsToTheReconnectAndAHangUpAtThePromptIsSeenAtOnce) {
    const std::string by_id = temp_folder("serial-by-id");
    const std::string link = by_id + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    START_SIMULATOR(sim, {"--model", "NC-4100", "--link", link, "--serial", "77", "--baud", "4800"});
    const std::string connected = connected_line("NC-4100", "00000077", link);
    START_AT_PROMPT(tool, {"-v", "-p", link});
    tool.send("mon\n");
    ASSERT_TRUE(tool.wait_for_output("$HEHDT", 10000));
    sim.control("hangup 200"); // back before the dispatcher's 500 ms pause ends
    ASSERT_TRUE(tool.wait_for_output(connected, 30000, 2)) << tool.out();
    tool.send("about\n");
    ASSERT_TRUE(tool.wait_for_output("NC_Service Tool, version 1.05.", 10000));
    ASSERT_TRUE(tool.wait_for_output("nc> ", 5000, 3));
    sim.control("hangup");
    EXPECT_TRUE(tool.wait_for_output("\nNo devices found\n", 8000)) << tool.out();
    const ToolRun run = tool.finish(60);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(holds(run.out, "NC-4100   37-203952   00000077  1.05    " + link + "  4800\n"));
    EXPECT_TRUE(holds(run.err, "Error, reading from serial port: "));
    EXPECT_TRUE(holds(run.err, "Error: the device on " + link + " hung up\n"));
}

// -w: the line is lost in the middle of the status report, which stops there
// (the value being read is not printed) and names the loss; the device is
// looked for until it is back, connected again within 2 s of its return, the
// interrupted command is named, and the next report is whole.
TEST(Reconnect, WaitFindsTheDeviceAgainAfterTheReportStopsWhereTheLineWasLost) {
    const std::string link = temp_path("compass");
    START_SIMULATOR(sim, {"--model", "NC-4100", "--link", link, "--serial", "77", "--baud", "38400"});
    const std::string connected = connected_line("NC-4100", "00000077", link);
    START_AT_PROMPT(tool, {"-w", "20", "-p", link});
    sim.control("delay 150");
    tool.send("status\n");
    ASSERT_TRUE(sim.wait_for_record(R"("text":"post\u000d")", 5000));
    constexpr int AWAY_MS = 1500;
    sim.control("hangup " + std::to_string(AWAY_MS));
    const auto lost_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(tool.wait_for_output(connected, 20000, 2)) << tool.out();
    const auto back_after = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - lost_at).count() - AWAY_MS;
    std::printf("connected again %lld ms after the device came back\n",
                static_cast<long long>(back_after));
    EXPECT_LE(back_after, 2000);
    EXPECT_TRUE(holds(tool.out(), "Waiting up to 20 s for NC-4100 (serial:00000077), press ESC or "
                                  "Ctrl-C to stop\n"));
    EXPECT_TRUE(tool.wait_for_output("'status' was interrupted and is not repeated\n", 5000));
    sim.control("clear");
    tool.send("status\nquit\n");
    const ToolRun run = tool.finish(60);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(holds(run.err, "\nError: the device was lost, the report is incomplete\n"));
    EXPECT_EQ(count_of(run.out, "Power On self Test    OK\n"), 1u) << run.out;
    EXPECT_EQ(count_of(run.out, "Baudrate              Info    38400\n"), 1u);
    EXPECT_FALSE(holds(run.out, "Attitude filter       Info    disabled")); // never read
}

// -w at start-up waits for a device to appear. A device that stays away ends
// the session when the wait is over: the rig's "pulled for good" case.
TEST(Reconnect, WaitAtStartUpForADeviceToAppear) {
    const std::string link = temp_path("late-compass");
    ToolProcess tool({"-w", "10", "-p", link});
    ASSERT_TRUE(tool.wait_for_output("Waiting up to 10 s for a device, press ESC or Ctrl-C to stop\n", 10000))
        << tool.out();
    START_SIMULATOR(sim, {"--model", "NC-350", "--link", link, "--serial", "350", "--baud", "4800"});
    ASSERT_TRUE(tool.wait_for_output(connected_line("NC-350", "00000350", link), 20000)) << tool.out();
    ASSERT_TRUE(tool.wait_for_output("nc> ", 10000));
    tool.send("quit\n");
    const ToolRun run = tool.finish(60);
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(holds(run.out, " s left")); // a pipe gets no countdown
}
