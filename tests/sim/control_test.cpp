// Control lines: the table's names and argument counts, and the faults they set.
#include <gtest/gtest.h>

#include "link/device.h"
#include "sim/control.h"
#include "sim/options.h"

namespace {

sim::ControlCommand parsed(const std::string& line) {
    std::string error;
    const std::optional<sim::ControlCommand> command = sim::parse_control_line(line, &error);
    EXPECT_TRUE(command.has_value()) << line << ": " << error;
    return command.value_or(sim::ControlCommand{});
}

TEST(ControlLines, UnknownNamesAndWrongCountsAreRefused) {
    std::string error;
    EXPECT_FALSE(sim::parse_control_line("explode", &error));
    EXPECT_NE(error.find("unknown"), std::string::npos);
    EXPECT_FALSE(sim::parse_control_line("drop", &error));
    EXPECT_FALSE(sim::parse_control_line("hangup 1 2", &error));
    EXPECT_TRUE(parsed("  # a comment").name.empty());
    EXPECT_EQ(parsed("hangup 500").target, sim::ControlTarget::WIRE);
    EXPECT_EQ(parsed("wake").target, sim::ControlTarget::DEVICE);
}

TEST(ControlLines, FaultsAreSetAndBadValuesLeaveThemAlone) {
    sim::Faults faults;
    std::string error;
    EXPECT_TRUE(sim::apply_fault(faults, parsed("corrupt 0.25"), &error));
    EXPECT_DOUBLE_EQ(faults.corrupt_rate, 0.25);
    EXPECT_FALSE(sim::apply_fault(faults, parsed("corrupt 1.5"), &error));
    EXPECT_DOUBLE_EQ(faults.corrupt_rate, 0.25);
    EXPECT_FALSE(sim::apply_fault(faults, parsed("delay -3"), &error));
    EXPECT_TRUE(sim::apply_fault(faults, parsed("skip-segment 3"), &error));
    EXPECT_EQ(faults.silent_segment, 3u);
    EXPECT_EQ(faults.silent_segment_loads, 1u);
    EXPECT_TRUE(sim::apply_fault(faults, parsed("short-answer end 2"), &error));
    EXPECT_TRUE(sim::apply_fault(faults, parsed("short-answer segment"), &error));
    EXPECT_EQ(faults.short_answers[0x18], 2u);
    EXPECT_EQ(faults.short_answers[0x16], 1u);
    EXPECT_FALSE(sim::apply_fault(faults, parsed("short-answer middle"), &error));
    EXPECT_TRUE(sim::apply_fault(faults, parsed("stay-down on"), &error));
    EXPECT_TRUE(faults.stay_down);
    EXPECT_TRUE(sim::apply_fault(faults, parsed("clear"), &error));
    EXPECT_FALSE(faults.stay_down);
    EXPECT_DOUBLE_EQ(faults.corrupt_rate, 0.0);
}

TEST(ControlLines, FailingCommandsMatchWholeLeadingWords) {
    sim::Faults faults;
    std::string error;
    ASSERT_TRUE(sim::apply_fault(faults, parsed("fail 4 cfg m r"), &error));
    EXPECT_EQ(faults.failure_for("cfg m r"), 4u);
    EXPECT_EQ(faults.failure_for("cfg  m r 1 2 3"), 4u);
    EXPECT_FALSE(faults.failure_for("cfg m w"));
    EXPECT_FALSE(faults.failure_for("cfg m"));
    EXPECT_FALSE(faults.failure_for("cfg m rr"));
    ASSERT_TRUE(sim::apply_fault(faults, parsed("fail 0 cfg m r"), &error));
    EXPECT_FALSE(faults.failure_for("cfg m r"));
}

} // namespace

namespace {

bool parse(std::vector<std::string> args, sim::SimOptions* options, std::string* error) {
    args.insert(args.begin(), "nc-sim");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    return sim::parse_options(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(Options, ModelFirstThenEveryOtherSettingInAnyOrder) {
    sim::SimOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--sw-version", "2.03", "--serial", "42", "--model", "NC-350",
                       "--sw-release", "developer", "--ident", "raw", "--fault", "bad-crc 2",
                       "--sw-tag", "abcd", "--min-version", "1.10", "-v"},
                      &options, &error))
        << error;
    const sim::SimSettings& s = options.settings;
    EXPECT_STREQ(s.profile.name, "NC-350");
    EXPECT_EQ(s.identity.serial, 42u);
    EXPECT_EQ(s.identity.application.version, make_version(2, 3, 1));
    EXPECT_EQ(s.identity.application.build_tag, "abcd");
    EXPECT_EQ(s.identity.min_version, make_version(1, 10, 0));
    EXPECT_FALSE(s.ident_sentence);
    EXPECT_TRUE(s.ident_raw);
    EXPECT_EQ(options.fault_lines, std::vector<std::string>{"bad-crc 2"});
    EXPECT_EQ(options.verbosity, 1);

    ASSERT_TRUE(parse({"--model", "37-204118"}, &options, &error));
    EXPECT_STREQ(options.settings.profile.name, "NC-210");
    ASSERT_TRUE(parse({"--model", "12-345678"}, &options, &error));
    EXPECT_STREQ(options.settings.profile.name, "?");
}

TEST(Options, BadValuesAreRefusedByName) {
    sim::SimOptions options;
    std::string error;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--baud", "9600"},
                                               {"--model", "NC-999"},
                                               {"--sw-version", "1.5"},
                                               {"--sw-tag", "toolong"},
                                               {"--ident", "smoke"},
                                               {"--serial", "-1"},
                                               {"stray"}}) {
        EXPECT_FALSE(parse(args, &options, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
