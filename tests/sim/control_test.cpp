// What the simulator must refuse: control lines and their values, and
// command-line options.
#include <gtest/gtest.h>

#include <tuple>

#include "sim/control.h"
#include "sim/options.h"

namespace {

// Every field of the faults, to compare them.
auto fields(const sim::Faults& f) {
    return std::tie(f.corrupt_rate, f.noise_rate, f.reply_delay_ms, f.drop_replies, f.failing,
                    f.silent_segment, f.silent_segment_loads, f.bad_crc_loads, f.short_answers,
                    f.stay_down, f.no_console, f.post_fail, f.events_active);
}

// Whether the line parses and applies; its error, if any, in *error.
bool applied(sim::Faults& faults, const char* line, std::string* error) {
    error->clear();
    const std::optional<sim::ControlCommand> command = sim::parse_control_line(line, error);
    return command && sim::apply_fault(faults, *command, error);
}

// A refused line leaves the faults as they were. An injected failure hits a
// command line that starts with its whole words.
TEST(ControlLines, RefusedLinesChangeNothingAndFailuresMatchWholeWords) {
    std::string error;
    sim::Faults before;
    for (const char* line : {"corrupt 0.25", "delay 40", "skip-segment 3", "short-answer end 2",
                             "stay-down on", "fail 4 cfg m r"})
        ASSERT_TRUE(applied(before, line, &error)) << line << ": " << error;
    for (const char* line :
         {"explode", "drop", "hangup 1 2", "corrupt 1.5", "noise -0.1", "corrupt x", "delay -3",
          "skip-segment x", "skip-segment 5 x", "short-answer middle", "short-answer end x",
          "stay-down maybe", "fail x cfg", "bad-crc 1e3"}) {
        sim::Faults faults = before;
        EXPECT_FALSE(applied(faults, line, &error)) << line;
        EXPECT_FALSE(error.empty()) << line;
        EXPECT_EQ(fields(faults), fields(before)) << line;
    }
    const std::optional<sim::ControlCommand> comment = sim::parse_control_line("  # x", &error);
    EXPECT_TRUE(comment && comment->name.empty());

    const std::pair<const char*, uint32_t> lines[] = {
        {"cfg m r", 4}, {"cfg  m r 1 2 3", 4}, {"cfg m w", 0}, {"cfg m", 0}, {"cfg m rr", 0}};
    for (const auto& [line, status] : lines) // 0: not failed
        EXPECT_EQ(before.failure_for(line).value_or(0), status) << line;
    ASSERT_TRUE(applied(before, "fail 0 cfg m r", &error)) << error;
    EXPECT_FALSE(before.failure_for("cfg m r"));
}

// Each row: an option and the value the error names, or a stray word alone.
TEST(Options, BadValuesAreRefusedByName) {
    const char* const rows[][2] = {{"--baud", "9600"},      {"--model", "NC-999"},
                                   {"--sw-version", "1.5"}, {"--sw-tag", "toolong"},
                                   {"--ident", "smoke"},    {"--serial", "-1"},
                                   {"stray", nullptr}};
    for (const auto& row : rows) {
        const std::string named = row[1] ? row[1] : row[0];
        std::string args[] = {"nc-sim", row[0], named};
        char* argv[] = {args[0].data(), args[1].data(), row[1] ? args[2].data() : nullptr, nullptr};
        sim::SimOptions options;
        std::string error;
        EXPECT_FALSE(sim::parse_options(row[1] ? 3 : 2, argv, &options, &error)) << named;
        EXPECT_NE(error.find(named), std::string::npos) << named << ": " << error;
    }
}

} // namespace
