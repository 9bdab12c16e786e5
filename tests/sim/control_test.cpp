// Control lines: the table's names and argument counts, and the faults they set.
#include <gtest/gtest.h>

#include "sim/control.h"

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
