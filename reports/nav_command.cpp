// nav: the live navigation display.
#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/results.h"
#include "link/command_registry.h"
#include "link/nmea.h"
#include "link/transport.h"
#include "reports/keys.h"
#include "reports/nav_display.h"

namespace {

constexpr uint32_t NAV_READ_TIMEOUT_MS = 2000;
// What arrives within this is drawn at once: fifty redraws a second at most.
constexpr uint32_t NAV_GATHER_MS = 20;

void show(const std::vector<NavWrite>& writes) {
    for (const NavWrite& write : writes) {
        if (write.row != NAV_HERE)
            set_cursor_position(write.column, write.row);
        std::fputs(write.text.c_str(), stdout);
    }
    std::fflush(stdout);
}

// The Heave label is drawn with its first value; a layout drawn anew (a second
// nav, a resized window) has cleared it, so it is drawn again then.
void draw_layout(const NavLayout& layout) {
    clear_screen();
    show(nav_static_layout(layout, degree_sign()));
    nav_process_state.heave_label_drawn = false;
}

int32_t nav_command(DeviceRecord& device, int32_t, char**) {
    const NavLayout* layout = nav_layout_for(device.model_name);
    if (!layout)
        return 0;
    set_input_mode(INPUT_HIDE_CURSOR);
    draw_layout(*layout);
    NavRunState run;
    run.degree_sign = degree_sign();
    std::vector<NavWrite> writes;
    link_set_gathering(NAV_GATHER_MS);
    for (;;) {
        const char* received = nullptr;
        const int length = nmea_read_sentence(device, &received, NAV_READ_TIMEOUT_MS);
        if (length < 0) {
            if (length != RESULT_QUIT)
                out_print(LEVEL_ERROR, "failed to read NMEA data\n");
            break;
        }
        char sentence[NMEA_MAX_SENTENCE];
        const uint32_t kept = static_cast<uint32_t>(length) < sizeof sentence
                                  ? static_cast<uint32_t>(length)
                                  : static_cast<uint32_t>(sizeof sentence);
        std::memcpy(sentence, received, kept);
        // Keys are looked at once a sentence has arrived.
        const KeyOutcome keys = pending_keys();
        if (keys == KeyOutcome::LEAVE)
            break;
        if (keys == KeyOutcome::REDRAW)
            draw_layout(*layout);
        const NavOutcome outcome =
            nav_decode(sentence, kept, *layout, run, nav_process_state, writes);
        if (outcome == NavOutcome::END) {
            link_set_gathering(0);
            return 0;
        }
        show(writes);
    }
    link_set_gathering(0);
    set_cursor_position(0, layout->exit_row);
    std::fflush(stdout);
    return 0;
}

REGISTER_COMMAND("nav", nav_command);

} // namespace
