// ver, post, event, factory default and reboot against simulated devices.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

std::string executed(const std::string& text) {
    return "\"kind\":\"line\",\"text\":\"" + text + "\"";
}

ToolRun run_at(const Simulator& sim, const std::string& input,
               const std::vector<std::string>& words = {}) {
    std::vector<std::string> args = {"-a", "-b", "38400", "-p", sim.port()};
    args.insert(args.end(), words.begin(), words.end());
    return run_tool(args, input, {}, 90);
}

const char QUESTION[] = "Press 'y' to confirm reset to factory default or 'n' to cancel:\n";

} // namespace

TEST(System, VerShowsTheBuildOfDeveloperSoftwareOnly) {
    Simulator developer({"--model", "NC-4100", "--no-nmea", "--serial", "4711", "--sw-release",
                         "developer", "--sw-tag", "abcd", "--sw-build", "17", "--sw-hash",
                         "1234abcd"});
    ToolRun run = run_at(developer, "", {"ver"});
    // An active search at the given rate skips the first pass at 4800, which
    // would cost two 4 s identification time-outs.
    EXPECT_LT(run.seconds, 6.5);
    EXPECT_NE(run.out.find("\nProduct NC-4100:\nPart no: 37-203952\nSerial no: 00004711\n"
                           "Software version: 1.05 Developer (abcd-17 1234abcd)\n"),
              std::string::npos)
        << run.out;

    Simulator release({"--model", "NC-4100", "--no-nmea", "--sw-version", "1.02"});
    run = run_at(release, "", {"ver"});
    EXPECT_NE(run.out.find("Software version: 1.02 Release\n"), std::string::npos) << run.out;
    EXPECT_EQ(release.record().find(executed("ver")), std::string::npos); // asks the device nothing
}

TEST(System, PostAndEventPrintTheReportOrTheirError) {
    Simulator sim({"--model", "NC-350", "--baud", "38400", "--no-nmea", "--fault", "post-fail on",
                   "--fault", "fail 1 event"});
    ToolRun run = run_at(sim, "post\nevent\n");
    EXPECT_NE(run.out.find("nc> \r\nPower on self test\r\n  RAM             Pass\r\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Fail (out of tolerance)"), std::string::npos);
    EXPECT_NE(run.out.find("nc> Error: Failed to get event list\n"), std::string::npos);
    EXPECT_TRUE(sim.wait_for_record(executed("event"), 100));
}

// Only a lower-case y resets; input that ends before the answer cancels; as a
// one-shot command there is no question.
TEST(System, FactoryDefaultOnlyAfterALowerCaseY) {
    Simulator sim({"--model", "NC-4100", "--no-nmea"});
    ToolRun run = run_at(sim, "factory default\nn\nfactory default\nN\nfactory default\nY\n"
                              "factory default\n\nfactory reset\nfactory\nfactory DEFAULT\nyes\n"
                              "factory default\n");
    EXPECT_EQ(count_of(run.out, QUESTION), 6u) << run.out;
    EXPECT_EQ(count_of(run.out, "canceled\n"), 5u);
    const size_t last = run.out.rfind(QUESTION); // input ended before the answer
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(run.out.substr(last + sizeof QUESTION - 1, 9), "canceled\n");
    EXPECT_EQ(run.err, "Error: Illegal argument\nError: Missing argument\n");
    EXPECT_NE(run.out.find(
                  "reset to factory default.\nThe new configuration takes effect when the system "
                  "is rebooted\n"),
              std::string::npos);
    EXPECT_EQ(count_of(sim.record(), executed("cfg f")), 1u);

    ToolRun one_shot = run_at(sim, "", {"factory", "default"});
    EXPECT_EQ(one_shot.out.find(QUESTION), std::string::npos);
    EXPECT_NE(one_shot.out.find("reset to factory default.\n"), std::string::npos) << one_shot.out;
    EXPECT_TRUE(sim.wait_for_record(executed("cfg f"), 1000, 2));
}

TEST(System, RebootComesBackOrEndsTheProgram) {
    Simulator sim({"--model", "NC-4100", "--no-nmea", "--serial", "88"});
    ToolRun run = run_at(sim, "reboot\nabout\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Device is rebooting...\n"), std::string::npos) << run.out;
    EXPECT_EQ(count_of(run.out, "\nConnected to NC-4100 (serial:00000088)"), 2u) << run.out;
    EXPECT_NE(run.out.find("NC_Service Tool, version 1.05."), std::string::npos);

    Simulator gone({"--model", "NC-4100", "--no-nmea", "--fault", "stay-down on"});
    run = run_at(gone, "reboot\nabout\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("Error: Failed to re-connect to the device\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("NC_Service Tool, version"), std::string::npos);
}
