// What the simulator must refuse: control lines and their values, and
// command-line options. A refused value leaves the faults as they were.
#include <gtest/gtest.h>

#include "sim/control.h"
#include "sim/options.h"

namespace {

// The faults that the refused lines below would touch, as text.
std::string shown(const sim::Faults& f) {
    std::string text = std::to_string(f.corrupt_rate) + " " + std::to_string(f.noise_rate) + " " +
                       std::to_string(f.reply_delay_ms) + " " + std::to_string(f.drop_replies) +
                       " " + std::to_string(f.silent_segment) + "/" +
                       std::to_string(f.silent_segment_loads) + " " +
                       std::to_string(f.bad_crc_loads) + " " + std::to_string(f.stay_down) +
                       " failing " + std::to_string(f.failing.size()) + " short";
    for (const auto& [type, count] : f.short_answers)
        text += " " + std::to_string(type) + ":" + std::to_string(count);
    return text;
}

TEST(ControlLines, RefusedLinesLeaveTheFaultsAsTheyWere) {
    std::string error;
    const auto preset = [&] {
        sim::Faults faults;
        for (const char* line : {"corrupt 0.25", "delay 40", "skip-segment 3", "short-answer end 2",
                                 "stay-down on", "fail 4 cfg m r"}) {
            const std::optional<sim::ControlCommand> command =
                sim::parse_control_line(line, &error);
            EXPECT_TRUE(command && sim::apply_fault(faults, *command, &error))
                << line << ": " << error;
        }
        return faults;
    };
    const std::string before = shown(preset());
    for (const char* line :
         {"explode", "drop", "hangup 1 2", "corrupt 1.5", "noise -0.1", "corrupt x", "delay -3",
          "skip-segment x", "skip-segment 5 x", "short-answer middle", "short-answer end x",
          "stay-down maybe", "fail x cfg", "bad-crc 1e3"}) {
        sim::Faults faults = preset();
        error.clear();
        const std::optional<sim::ControlCommand> command = sim::parse_control_line(line, &error);
        EXPECT_FALSE(command && sim::apply_fault(faults, *command, &error)) << line;
        EXPECT_FALSE(error.empty()) << line;
        EXPECT_EQ(shown(faults), before) << line;
    }
    const std::optional<sim::ControlCommand> comment = sim::parse_control_line("  # x", &error);
    ASSERT_TRUE(comment.has_value());
    EXPECT_TRUE(comment->name.empty());
}

// An injected failure hits a command line that starts with its whole words.
TEST(ControlLines, FailingCommandsMatchWholeLeadingWords) {
    sim::Faults faults;
    std::string error;
    ASSERT_TRUE(
        sim::apply_fault(faults, *sim::parse_control_line("fail 4 cfg m r", &error), &error));
    const struct {
        const char* line;
        uint32_t status; // 0: not failed
    } rows[] = {
        {"cfg m r", 4}, {"cfg  m r 1 2 3", 4}, {"cfg m w", 0}, {"cfg m", 0}, {"cfg m rr", 0}};
    for (const auto& row : rows)
        EXPECT_EQ(faults.failure_for(row.line).value_or(0), row.status) << row.line;
    ASSERT_TRUE(
        sim::apply_fault(faults, *sim::parse_control_line("fail 0 cfg m r", &error), &error));
    EXPECT_FALSE(faults.failure_for("cfg m r"));
}

TEST(Options, BadValuesAreRefusedByName) {
    const std::vector<std::vector<std::string>> rows = {{"--baud", "9600"},
                                                        {"--model", "NC-999"},
                                                        {"--sw-version", "1.5"},
                                                        {"--sw-tag", "toolong"},
                                                        {"--ident", "smoke"},
                                                        {"--serial", "-1"},
                                                        {"stray"}};
    for (std::vector<std::string> args : rows) {
        const std::string named = args.back();
        args.insert(args.begin(), "nc-sim");
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        sim::SimOptions options;
        std::string error;
        EXPECT_FALSE(
            sim::parse_options(static_cast<int>(argv.size()), argv.data(), &options, &error))
            << named;
        EXPECT_NE(error.find(named), std::string::npos) << named << ": " << error;
    }
}

} // namespace
