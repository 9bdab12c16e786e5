// The live navigation display: its layout per model and the decoders that turn
// one NMEA sentence into the texts to write at fixed screen positions. Pure
// code; the nav command does the terminal work.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Screen rows of the blocks a model draws (0 for a block it does not draw).
struct NavLayout {
    const char* model;
    uint16_t heading_row; // Heading, Deviation, Variation, Roll, Pitch, Heave below it
    uint16_t rot_row;
    uint16_t sog_row; // COG one below
    uint16_t meteo_row; // Pressure one below
    uint16_t exit_row;
};

// The layout of an NC-210, NC-350 or NC-4100; nullptr for any other model.
const NavLayout* nav_layout_for(const char* model);

// One text at a screen position (column and row from 0), or where the cursor
// stands when both are NAV_HERE.
constexpr uint16_t NAV_HERE = 0xFFFF;
struct NavWrite {
    uint16_t column;
    uint16_t row;
    std::string text;
};

// Whether the heading row shows a true heading from THS or HDT; for one run.
struct NavRunState {
    bool ths_valid = false;
    bool hdt_valid = false;
    const char* degree_sign = "\xb0"; // in the console's character set
};

// Kept for the whole program run: the SNR range of the satellites seen so far
// in the current GSV group, and whether the Heave label has been drawn since
// the layout was last drawn.
struct NavProcessState {
    unsigned snr_max = 0;
    unsigned snr_min = 99;
    bool heave_label_drawn = false;
};
extern NavProcessState nav_process_state;

enum class NavOutcome {
    SHOWN,   // writes hold what to show (possibly nothing)
    IGNORED, // not a sentence the display decodes, or too few fields
    END,     // a GSV sentence too short to read: the display ends
};

// Decodes one sentence (from "$" through its line end). Every text fits the
// place it is written to: a value too wide for its column shows as not
// available rather than overwriting its neighbour.
NavOutcome nav_decode(const char* sentence, uint32_t length, const NavLayout& layout,
                      NavRunState& run, NavProcessState& process, std::vector<NavWrite>& writes);

// The static layout, as the lines to print after clearing the screen: each
// entry is a cursor position (column 0) and the text printed there, which may
// hold line ends of its own.
std::vector<NavWrite> nav_static_layout(const NavLayout& layout, const char* degree_sign);
