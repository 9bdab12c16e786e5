// The pass-through terminal against a simulated device's plain console: keys
// in, device output shown, the way back to the tunnelled shell and the prompt.

#include "expect.h"

namespace {

const char ESC[] = "\x1b";

// What the plain console received, each line followed by "|"; times gets
// when each line came.
std::string console_lines(const std::string& record, std::vector<double>* times = nullptr) {
    std::string texts;
    for (const auto& match :
         all_matches(record, R"re(\{"t":([0-9.]+),"dir":"rx","kind":"console","text":"([^"]*)"\})re")) {
        texts += match[2] + "|";
        if (times)
            times->push_back(std::stod(match[1]));
    }
    return texts;
}

} // namespace

// One session with the pass-through terminal, three times:
// 1. ESC at the login prompt: the device takes "exit" as a user name and asks
//    for a password, gets a CR, and 3 s later the login line, which brings it
//    back to sending sentences.
// 2. Log in by hand, type with a backspace, send ESC among other keys, log out
//    so that the device sends sentences again, and leave: the tool reconnects
//    without sending anything more.
// 3. A device that never shows "User:" and sends sentences without a pause:
//    the terminal starts after the link's time-out all the same, so the keys,
//    ESC included, are read.
// After each the prompt works.
TEST(Ncterm, PlainConsoleByHandAndBackToThePrompt) {
    START_SIMULATOR(sim, {"--model", "NC-350"});
    START_AT_PROMPT(tool, {"-p", sim.port()});
    tool.send("ncterm\n");
    ASSERT_TRUE(tool.wait_for_output("Entering NC-350 shell, press ESC to exit\nUser:", 10000));
    tool.send(ESC);
    ASSERT_TRUE(tool.wait_for_output("Connected to NC-350", 20000, 2));
    std::vector<double> times;
    const std::string logged_out = console_lines(sim.record(), &times);
    ASSERT_EQ(logged_out, "exit\\u000d|\\u000d|kestrel\\u000d|\\u000d|exit\\u000d|");
    EXPECT_NEAR(times[2] - times[1], 3.0, 0.4);
    EXPECT_TRUE(holds(sim.record(), "NMEA mode"));

    tool.send("ncterm\n");
    ASSERT_TRUE(tool.wait_for_output("User:", 10000, 2));
    tool.send("kestrel\r");
    ASSERT_TRUE(tool.wait_for_output("Pass: ", 5000));
    tool.send("\r");
    ASSERT_TRUE(tool.wait_for_output("NC-350> ", 5000));
    tool.send("ab\bc\r");
    ASSERT_TRUE(tool.wait_for_output("ac: command not found", 5000));
    tool.send(std::string("x") + ESC); // one read: both keys go to the device
    tool.send("\r");
    ASSERT_TRUE(sim.wait_for_record(R"("kind":"console","text":"x\u001b\u000d")", 5000));
    tool.send("exit\r");
    ASSERT_TRUE(tool.wait_for_output("$HEHDT", 5000));
    const size_t record_before_esc = sim.record().size();
    tool.send(ESC);
    ASSERT_TRUE(tool.wait_for_output("Entering NC-Service shell\n", 5000, 2));
    ASSERT_TRUE(tool.wait_for_output("Connected to NC-350", 15000, 3));
    const std::string record = sim.record();
    EXPECT_EQ(console_lines(record).substr(logged_out.size()),
              "kestrel\\u000d|\\u000d|ab\\u0008c\\u000d|x\\u001b\\u000d|exit\\u000d|");
    // The device already sent sentences after ESC: no "exit" reached it.
    EXPECT_EQ(record.find("\"kind\":\"stray\"", record_before_esc), std::string::npos)
        << record.substr(record_before_esc);

    sim.control("no-console on");
    tool.send("ncterm\n");
    ASSERT_TRUE(tool.wait_for_output("Entering NC-350 shell, press ESC to exit\n", 10000, 3));
    const size_t third = tool.out().rfind("Entering NC-350 shell");
    ASSERT_TRUE(tool.wait_for_output("$HEHDT", 10000, count_of(tool.out(), "$HEHDT") + 1));
    tool.send("zz");
    ASSERT_TRUE(sim.wait_for_record(R"("kind":"stray","text":"zz")", 5000));
    tool.send(ESC);
    ASSERT_TRUE(tool.wait_for_output("Connected to NC-350", 20000, 4));
    tool.send("about\nquit\n");
    const ToolRun run = tool.finish(30);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    // Echoed by the device as "ab", BS, "c": the backspace erased the "b".
    EXPECT_TRUE(holds(run.out, "ab\b \bc"));
    EXPECT_EQ(run.out.find("User:", third), std::string::npos);
    EXPECT_TRUE(holds(run.out, "NC_Service Tool, version"));
}
