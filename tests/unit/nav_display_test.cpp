// The navigation display's decoders: what each sentence writes where, fed as a
// run of sentences into one display state, as the command does. Valid RMC,
// GGA, HDT, VTG and MDA sentences of each model, shown in their places, are
// in Nav.LiveDisplayOfEachModel; here the other sentences and texts no device
// of ours sends.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/nmea_text.h"
#include "reports/nav_display.h"

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

using Shown = std::tuple<uint16_t, int, const char*>; // column, row and text

struct NavCase {
    const char* legend;
    std::vector<std::string> bodies; // fed in turn; the last one is looked at
    std::vector<Shown> shown;
};

} // namespace

TEST(NavDisplay, SentencesWriteTheirValuesAtTheirPlacesOrAreIgnored) {
    const std::vector<NavCase> cases = {
        {"RMC status V", {"$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"},
         {{5, 2, "noFix "}, {0, 4, "-"}, {17, 4, "-"}, {14, 14, " --.-"}, {14, 15, " --.-"},
          {5, 1, "12:35:19"}}},
        {"GGA fix no DGPS", {"$GPGGA,1,2,N,3,E,1,08,0.9,545.4,M,,,,"}, {{17, 2, "no "}}},
        {"GGA no fix", {"$GPGGA,1,4807.038,N,01131.000,E,0,,,,,46.9,M,,"},
         {{5, 2, "noFix "}, {0, 4, "-"}, {17, 4, "-"}, {50, 2, "-"}, {26, 2, "    -"}, {40, 4, "-"}}},
        {"HDG true", {"$HCHDG,100.0,2.0,W,3.0,E"},
         {{11, -1, "T  101.0"}, {11, -2, "W    2.0"}, {11, -3, "E    3.0"}}},
        {"HDG magnetic", {"$HCHDG,100.0,2.0,W,,"}, {{11, -1, "M   98.0"}, {11, -3, "       -"}}},
        {"HDG compass", {"$HCHDG,100.0,,,,"}, {{11, -1, "C  100.0"}, {11, -2, "       -"}}},
        // The corrected heading stays within [0, 360).
        {"HDG past north", {"$HCHDG,359.0,,,3.0,E"}, {{11, -1, "T    2.0"}}},
        {"HDG below north", {"$HCHDG,1.0,2.0,W,,"}, {{11, -1, "M  359.0"}}},
        {"HDG rounds to north", {"$HCHDG,359.96,,,,"}, {{11, -1, "C    0.0"}}},
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
    for (const NavCase& c : cases) {
        Display display("NC-4100");
        for (const std::string& body : c.bodies)
            display.feed(with_checksum(body));
        for (const auto& [column, row, text] : c.shown)
            EXPECT_EQ(display.at(column, row), text) << c.legend << " at " << column << "," << row;
    }

    // Sentences the display does not take, and a GSV too short to read, which
    // ends the display.
    Display display("NC-4100");
    EXPECT_EQ(display.feed(with_checksum("$GPZDA,1,2,3")), NavOutcome::IGNORED);
    EXPECT_EQ(display.feed(with_checksum("$GPGGA,1,2")), NavOutcome::IGNORED); // too few fields
    EXPECT_EQ(display.feed("$GP"), NavOutcome::IGNORED);
    EXPECT_EQ(display.feed(with_checksum("$GPGSV,1")), NavOutcome::END);
    display.feed(with_checksum("$GPTHS,10.0,A"));
    EXPECT_EQ(display.feed(with_checksum("$GPHDT,20.0,T")), NavOutcome::IGNORED);
    EXPECT_EQ(nav_layout_for("NC-999"), nullptr);
    EXPECT_EQ(nav_layout_for(nullptr), nullptr);
}
