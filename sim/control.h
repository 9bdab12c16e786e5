// Fault injection and the control lines that the simulator reads on its
// standard input (and takes with --fault at start).
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct Faults {
    double corrupt_rate = 0;     // share of sentences sent with a wrong checksum
    double noise_rate = 0;       // share of sentences preceded by line noise
    uint32_t reply_delay_ms = 0; // every reply waits this long
    uint32_t drop_replies = 0;   // the next N replies are not sent
    std::vector<std::pair<std::vector<std::string>, uint32_t>> failing; // command words, status
    uint32_t silent_segment = 0;       // no answer to this segment (1-based) ...
    uint32_t silent_segment_loads = 0; // ... in this many loads
    uint32_t bad_crc_loads = 0;        // wrong CRC at the end of this many loads
    std::map<uint8_t, uint32_t> short_answers; // answer type -> answers left to shorten
    bool stay_down = false;            // a reboot does not come back
    bool no_console = false;           // the plain console never opens
    bool post_fail = false;
    bool events_active = false;

    // The injected exit status of a command line, when it starts with failing words.
    std::optional<uint32_t> failure_for(const std::string& line) const;
};

enum class ControlTarget { FAULTS, DEVICE, WIRE };

struct ControlCommand {
    std::string name;
    std::vector<std::string> args;
    ControlTarget target = ControlTarget::FAULTS;
};

// Splits and checks a line against the control table. nullopt (with the
// reason in *error) for unknown names or wrong argument counts; an empty or
// comment line gives a command with an empty name.
std::optional<ControlCommand> parse_control_line(const std::string& line, std::string* error);

// Applies a FAULTS command. false with the reason in *error for a bad value.
bool apply_fault(Faults& faults, const ControlCommand& command, std::string* error);

// One line per control command, for --help and "help".
std::string control_help();

// Number parsing shared by the options and the control lines.
bool parse_u32(const std::string& text, uint32_t* value);
bool parse_rate(const std::string& text, double* value); // 0 to 1
bool parse_on_off(const std::string& text, bool* value);

} // namespace sim
