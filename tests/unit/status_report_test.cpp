// The parts of the status report read from the device's own texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "reports/status_report.h"

namespace {
const std::string INDENT(30, ' ');
const std::string DONE = "Info    Magnetometer calibration completed";
std::string since(const std::string& text) { return DONE + ":\n" + INDENT + text + "\n"; }
std::string at(const std::string& date) { return DONE + " at:\n" + INDENT + date + "\n"; }
std::string calibration(const std::string& reply) {
    return hsiron_text(("hsiron\r\n" + reply).c_str());
}
} // namespace

// The calibration time: seconds since startup with all their hours, a
// calendar date from 4294967 on, and one text for what no calendar can show;
// the events that are on.
TEST(StatusReport, CalibrationTextsAndActiveEvents) {
    putenv(const_cast<char*>("TZ=UTC")); // setenv is not everywhere
    EXPECT_EQ(calibration("Time: 4294966\r\n"), since("1193:02:46 since startup"));
    EXPECT_EQ(calibration("Time: 4294967\r\n"), at("Thu Feb 19 17:02:47 1970"));
    EXPECT_EQ(calibration("Time: 1764590400\r\nCount: 4\r\nScore: 86\r\n"),
              at("Mon Dec  1 12:00:00 2025") + INDENT + "Performed 4 times, current score: 86\n");
    EXPECT_EQ(calibration("Time: 12\r\nCount: 0\r\nScore: 86\r\n"),
              since("00:00:12 since startup"));
    EXPECT_EQ(calibration("Time: -5\r\n"), since("time not readable (-5)"));
    EXPECT_EQ(calibration("Time: 99999999999999999999\r\n"),
              since("time not readable (9223372036854775807)"));
    EXPECT_EQ(calibration("Magnetometer calibration: not done, count 0\r\n"),
              "Warning Magnetometer calibration is not performed\n");

    // Active events are counted after the echo.
    EXPECT_EQ(active_event_count("event On \r\nNo events\r\n"), 0u); // the echo does not count
    EXPECT_EQ(active_event_count("event\r\n 1 GNSS antenna short On \r\n 2 Power up Off\r\n"), 1u);
    EXPECT_EQ(active_event_count("event\n a On b\n c On d"), 2u);
    EXPECT_EQ(active_event_count("event"), 0u);
}
