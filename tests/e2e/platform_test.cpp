// The tool as a well-behaved Linux program: ports left as found, signals that
// end it through its closing steps, closed standard streams and permissions.
// Line speeds outside the usual table and ports named by a link:
// Discovery.UnusualRate* and Reconnect.LostLine*.
#include <csignal>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "expect.h"
#include "tests/io/pty.h"

namespace {

const std::string EXIT_RECEIVED = R"("dir":"rx","kind":"shell","text":"exit\u000d")";

// Runs nc-service through the shell, to start it with a standard stream closed.
ToolRun run_through_shell(const std::string& redirections, const std::vector<std::string>& args) {
    std::string command = "exec \"$0\"";
    for (size_t i = 0; i < args.size(); ++i)
        command += " \"$" + std::to_string(i + 1) + "\"";
    return run_tool(concat({"-c", command + " " + redirections, NC_SERVICE_PATH}, args), "", {}, 60,
                    "/bin/sh");
}

} // namespace

// A port where nobody answers, searched passively and actively: nothing is
// found, and the port table says why. That the search leaves the ports as it
// found them: SerialPort.SettingsFoundAtOpenArePutBackAtClose on a pty, and
// the real-driver rig on the kernel's serial drivers.
TEST(Platform, SilentPortIsReportedAsNoData) {
    TestPty port;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-p", port.path, "ver"},
          std::vector<std::string>{"-a", "-p", port.path, "-b", "38400", "ver"}}) {
        ToolRun run = run_tool(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(holds(run.out, "No data received")) << args[0];
    }
}

// Ctrl-C or SIGTERM at the prompt (SIGHUP: Console.TerminatingSignal*): the
// device's shell is told goodbye, the port is released without its exclusive
// flag (so another user can open it), and the tool ends by the signal.
TEST(Platform, SignalAtThePromptEndsThroughTheClosingSteps) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string released = "\"port released\"";
    for (int signal_number : {SIGTERM, SIGINT}) {
        START_AT_PROMPT(tool, {"-p", sim.port(), "-b", "38400"});
        const std::string at_prompt = sim.record();
        tool.signal(signal_number);
        ToolRun run = tool.finish(20);
        EXPECT_EQ(run.signal, signal_number) << run.out << run.err;
        EXPECT_LT(run.seconds, 10.0);
        EXPECT_TRUE(
            sim.wait_for_record(EXIT_RECEIVED, 2000, count_of(at_prompt, EXIT_RECEIVED) + 1))
            << signal_number;
        EXPECT_TRUE(sim.wait_for_record(released, 2000, count_of(at_prompt, released) + 1))
            << sim.record();
    }
    EXPECT_FALSE(holds(sim.record(), "exclusive flag set"));
}

// Started with standard input or output closed (as by some service managers),
// the port is never read as the console and the log never takes the console's
// output.
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
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(holds(text, "Connected to"));
    EXPECT_FALSE(holds(text, "NC_Service Tool, version"));
    EXPECT_TRUE(std::regex_search(text, std::regex("^[0-9]+ (TX|RX): ")));
}

// A user who may not open the port is told what to do about it, and the port is
// not called one that another program holds.
TEST(Platform, MissingPermissionIsExplainedNotCalledAConflict) {
    TestPty port; // nobody answers on it
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
