// The navigation display's decoders: what each sentence writes where, fed as a
// run of sentences into one display state, as the command does. Valid RMC,
// GGA, HDT, VTG and MDA sentences of each model, shown in their places, are
// in Nav.LiveDisplayOfEachModel; here the other sentences and texts no device
// of ours sends. Then the status report's parts read from the device's texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "tests/nmea_text.h"
#include "reports/nav_display.h"
#include "reports/status_report.h"

namespace {

// A display of one model: sentences go in, what the latest one wrote can be
// read back.
struct Display {
    const NavLayout& layout;
    NavRunState run;
    NavProcessState process;
    std::vector<NavWrite> writes;
    explicit Display(const char* model) : layout(*nav_layout_for(model)) { run.degree_sign = "o"; }

    NavOutcome feed(const std::string& text) {
        return nav_decode(text.data(), static_cast<uint32_t>(text.size()), layout, run, process,
                          writes);
    }
    // The text at a position; "?" when nothing was written there. A negative
    // row counts from the heading row (-1 is the heading row itself).
    std::string at(uint16_t column, int row) const {
        const int at_row = row >= 0 ? row : layout.heading_row - row - 1;
        for (const NavWrite& write : writes)
            if (write.column == column && write.row == at_row)
                return write.text;
        return "?";
    }
};

const std::string INDENT(30, ' ');
const std::string DONE = "Info    Magnetometer calibration completed";
std::string since(const std::string& text) { return DONE + ":\n" + INDENT + text + "\n"; }
std::string at(const std::string& date) { return DONE + " at:\n" + INDENT + date + "\n"; }
std::string calibration(const std::string& reply) {
    return hsiron_text(("hsiron\r\n" + reply).c_str());
}

} // namespace

TEST(NavDisplay, SentencesWriteTheirValuesAtTheirPlacesOrAreIgnored) {
    const struct {
        const char* legend;
        std::vector<std::string> bodies; // fed in turn; the last one is looked at
        std::vector<std::tuple<uint16_t, int, const char*>> shown; // column, row and text
    } cases[] = {
        {"RMC status V", {"$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"},
         {{5, 2, "noFix "}, {0, 4, "-"}, {17, 4, "-"}, {14, 14, " --.-"}, {14, 15, " --.-"},
          {5, 1, "12:35:19"}}},
        {"GGA fix no DGPS", {"$GPGGA,1,2,N,3,E,1,08,0.9,545.4,M,,,,"}, {{17, 2, "no "}}},
        {"GGA no fix", {"$GPGGA,1,4807.038,N,01131.000,E,0,,,,,46.9,M,,"},
         {{5, 2, "noFix "}, {0, 4, "-"}, {17, 4, "-"}, {50, 2, "-"}, {26, 2, "    -"}, {40, 4, "-"}}},
        // The corrected heading (true, magnetic, compass) stays within [0, 360).
        {"HDG true past north", {"$HCHDG,359.0,2.0,W,5.0,E"},
         {{11, -1, "T    2.0"}, {11, -2, "W    2.0"}, {11, -3, "E    5.0"}}},
        {"HDG M below north", {"$HCHDG,1.0,2.0,W,,"}, {{11, -1, "M  359.0"}, {11, -3, "       -"}}},
        {"HDG C to north", {"$HCHDG,359.96,,,,"}, {{11, -1, "C    0.0"}, {11, -2, "       -"}}},
        {"THS holds the row against HDG", {"$GPTHS,77.5,A", "$HCHDG,100.0,2.0,W,3.0,E"},
         {{11, -1, "?"}, {11, -2, "W    2.0"}}},
        {"THS mode V frees the row", {"$GPTHS,77.5,A", "$GPTHS,,V", "$HCHDG,100.0,,,,"},
         {{11, -1, "C  100.0"}}},
        {"ROT port", {"$TIROT,-12.5,A"}, {{11, 13, "P   12.5"}}},
        {"ROT starboard", {"$TIROT,3.0,A"}, {{11, 13, "S    3.0"}}},
        {"ROT invalid", {"$TIROT,3.0,V"}, {{11, 13, "  --.--"}}},
        {"attitude", {"$PFEC,GPatt,123.4,1.5,-4.0"}, {{11, -4, "P    4.0"}, {13, -5, "  +1.5"}}},
        {"heave label once", {"$PFEC,GPhev,0.25,V", "$PFEC,GPhev,-0.5,V"},
         {{0, -6, "?"}, {13, -6, "  -0.5"}}},
        {"VTG not valid", {"$GPVTG,54.7,T,,M,5.5,N,,K,N"}, {{14, 14, " --.-"}, {14, 15, " --.-"}}},
        {"GSV range", {"$GPGSV,3,1,09,01,10,100,00,02,20,200,35", "$GPGSV,3,2,09,03,10,100,42",
                       "$GPGSV,3,3,09,04,10,100,18,05,20,200,00,06,1,1,35,07,1,1,5"},
         {{37, 2, "[18-42]"}}},
        // Hostile input: the display shows what it can, within each field's place.
        {"UTC shorter than six characters", {"$GPRMC,1235,A,4807.038,N,01131.000,E,,,,,"},
         {{5, 1, "?"}, {5, 2, "Fix   "}, {14, 14, " --.-"}}},
        {"dash for a number", {"$GPVTG,-,T,,M,-,N,,K,A"}, {{14, 14, " --.-"}, {14, 15, " --.-"}}},
        {"too wide", {"$GPVTG,1e30,T,,M,123456,N,,K,A"}, {{14, 14, " --.-"}, {14, 15, " --.-"}}},
        {"long altitude text", {"$GPGGA,1,2,N,3,E,1,08,0.9," + std::string(40, '9') + ",M,,,,"},
         {{40, 4, "99999999999999999999"}}},
        {"long heading text", {"$GPHDT,123456789012,T"}, {{11, -1, "T  12345"}}},
    };
    for (const auto& c : cases) {
        Display display("NC-4100");
        for (const std::string& body : c.bodies)
            display.feed(with_checksum(body));
        for (const auto& [column, row, text] : c.shown)
            EXPECT_EQ(display.at(column, row), text) << c.legend << " at " << column << "," << row;
    }

    // Sentences the display does not take (the GGA has too few fields), and a
    // GSV too short to read, which ends the display.
    Display display("NC-4100");
    for (const std::string& text : {with_checksum("$GPZDA,1,2,3"), with_checksum("$GPGGA,1,2"),
                                    std::string("$GP")})
        EXPECT_EQ(display.feed(text), NavOutcome::IGNORED) << text;
    EXPECT_EQ(display.feed(with_checksum("$GPGSV,1")), NavOutcome::END);
    display.feed(with_checksum("$GPTHS,10.0,A"));
    EXPECT_EQ(display.feed(with_checksum("$GPHDT,20.0,T")), NavOutcome::IGNORED);
    EXPECT_EQ(nav_layout_for("NC-999"), nullptr);
    EXPECT_EQ(nav_layout_for(nullptr), nullptr);
}

// The calibration time: seconds since startup with all their hours, a
// calendar date from 4294967 on, and one text for what no calendar can show;
// the events that are on.
TEST(StatusReport, CalibrationTextsAndActiveEvents) {
    putenv(const_cast<char*>("TZ=UTC")); // setenv is not everywhere
    EXPECT_EQ(calibration("Time: 4294966\r\nCount: 0\r\nScore: 86\r\n"),
              since("1193:02:46 since startup")); // never performed: no count shown
    EXPECT_EQ(calibration("Time: 4294967\r\n"), at("Thu Feb 19 17:02:47 1970"));
    EXPECT_EQ(calibration("Time: 1764590400\r\nCount: 4\r\nScore: 86\r\n"),
              at("Mon Dec  1 12:00:00 2025") + INDENT + "Performed 4 times, current score: 86\n");
    EXPECT_EQ(calibration("Time: 12\r\n"), since("00:00:12 since startup"));
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
