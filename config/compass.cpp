// deviation, variation, attitude, gnss and nmea2000: the compass calibration,
// the source of the magnetic variation, the attitude filter, the satellite
// systems used and the NMEA 2000 bus termination.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "base/console.h"
#include "base/results.h"
#include "base/text.h"
#include "config/queries.h"
#include "link/command_registry.h"
#include "link/transport.h"

namespace {

constexpr uint32_t MODE_STANDARD = 0;
constexpr uint32_t MODE_ADAPTIVE = 1;
constexpr uint32_t MODE_OFF = 7;
constexpr uint32_t OPTION_5DEG_OFF = 1u << 1;
constexpr uint32_t OPTION_PAUSE_OFF = 1u << 2;
constexpr float VARIATION_LIMIT = 180.0f;
constexpr double FILTER_MAX_S = 9.9;

constexpr uint32_t GNSS_GPS = 1u << 0;
constexpr uint32_t GNSS_SBAS = 1u << 1;
constexpr uint32_t GNSS_BEIDOU = 1u << 3;
constexpr uint32_t GNSS_QZSS = 1u << 5;
constexpr uint32_t GNSS_GLONASS = 1u << 6;

// The model check, then the protocol check: 0 to go on, else the result.
int32_t preconditions(const DeviceRecord& device, std::initializer_list<const char*> models) {
    bool known = false;
    for (const char* model : models)
        known = known || model_is(device, model);
    if (!known)
        return RESULT_UNKNOWN_COMMAND;
    if (cfg_protocol_check(device) < 0)
        return RESULT_UNSUPPORTED_PROTOCOL;
    return 0;
}

int plain_transact(DeviceRecord& device, const char* command_line) {
    return shell_transact(device, command_line, shell_reply_buffer, SHELL_REPLY_SIZE,
                          link_timeout_ms(device));
}

// ---- deviation

// The mode for a calibration word; -1 when the word is none of them.
int calibration_mode_of(const char* word) {
    if (equals_ignore_case(word, "on") || equals_ignore_case(word, "standard"))
        return MODE_STANDARD;
    if (equals_ignore_case(word, "off"))
        return MODE_OFF;
    if (equals_ignore_case(word, "adaptive"))
        return MODE_ADAPTIVE;
    return -1;
}

int32_t calibration_form(DeviceRecord& device, int32_t argc, char** argv) {
    if (model_is(device, "NC-4100") && !extended_firmware(device)) {
        report_unsupported_option();
        return RESULT_FAILED;
    }
    uint32_t mode = 0;
    if (argc == 2) {
        if (cfg_get_calibration_mode(device, &mode) < 0)
            out_print(LEVEL_ERROR, "Failed to read calibration mode\n");
        else
            cfg_print_calibration_mode(device.model_name, mode);
        return 0;
    }
    if (equals_ignore_case(argv[2], "reset")) {
        if (plain_transact(device, "cfg h r\r") < 0)
            out_print(LEVEL_ERROR, "Error: Failed to reset calibration data\n");
        else
            std::printf("Deviation calibration reset\n");
        return 0;
    }
    const int wanted = calibration_mode_of(argv[2]);
    if (wanted < 0) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[2]);
        return 0;
    }
    if (wanted == static_cast<int>(MODE_ADAPTIVE) && !extended_firmware(device)) {
        report_unsupported_option();
        return RESULT_FAILED;
    }
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg h m %u\r",
                   static_cast<unsigned>(wanted));
    if (plain_transact(device, shell_command_buffer) < 0 ||
        cfg_get_calibration_mode(device, &mode) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set deviation calibration mode\n");
        return 0;
    }
    cfg_print_calibration_mode(device.model_name, mode);
    return 0;
}

// The option bits for the words from argv[2] on; -1 after the error for a bad word.
int64_t option_bits_of(uint32_t bits, int32_t argc, char** argv) {
    bits |= OPTION_5DEG_OFF | OPTION_PAUSE_OFF;
    if (equals_ignore_case(argv[2], "none"))
        return bits;
    for (int32_t i = 2; i < argc; ++i) {
        if (equals_ignore_case(argv[i], "5deg")) {
            bits &= ~OPTION_5DEG_OFF;
        } else if (equals_ignore_case(argv[i], "pause")) {
            bits &= ~OPTION_PAUSE_OFF;
        } else {
            out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[i]);
            return -1;
        }
    }
    return bits;
}

int32_t options_form(DeviceRecord& device, int32_t argc, char** argv) {
    if (!extended_firmware(device)) {
        report_unsupported_option();
        return RESULT_FAILED;
    }
    if (argc == 2) {
        cfg_print_calibration_options(device);
        return 0;
    }
    uint32_t bits = 0;
    if (cfg_get_calibration_options(device, &bits) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to read calibration options\n");
        return 0;
    }
    const int64_t wanted = option_bits_of(bits, argc, argv);
    if (wanted < 0)
        return RESULT_USAGE;
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg h o %x\r",
                   static_cast<unsigned>(wanted & 0xFF));
    if (cfg_checked_transact(device, shell_command_buffer) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set deviation options\n");
        return RESULT_NO_REPLY;
    }
    cfg_print_calibration_options(device);
    return 0;
}

int32_t deviation_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = preconditions(device, {"NC-4100", "NC-350"}))
        return refused;
    if (argc < 2) {
        out_print(LEVEL_ERROR, "Error: Missing parameter\n");
        return RESULT_USAGE;
    }
    if (equals_ignore_case(argv[1], "calibration"))
        return calibration_form(device, argc, argv);
    if (equals_ignore_case(argv[1], "options"))
        return options_form(device, argc, argv);
    out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[1]);
    return RESULT_USAGE;
}

// ---- variation

void print_variation(bool with_value, float variation, const char* name) {
    if (with_value)
        std::printf("Magnetic variation: %s, %.1f deg.\n", name, variation);
    else
        std::printf("Magnetic variation: %s\n", name);
}

int source_code_of(const char* word) {
    for (uint32_t code = 0; code < VARIATION_SOURCE_COUNT; ++code) {
        if (equals_ignore_case(word, variation_source_names[code]))
            return static_cast<int>(code);
    }
    return -1;
}

// Formats the command that sets the source; -22 after the error for a bad value.
int32_t format_variation_command(int32_t argc, char** argv, int source) {
    if (source != static_cast<int>(VARIATION_SOURCE_USER)) {
        format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg a v %u\r",
                       static_cast<unsigned>(source));
        return 0;
    }
    if (argc < 4) {
        out_print(LEVEL_ERROR, "Error: Missing parameter (variation)\n");
        return RESULT_USAGE;
    }
    float degrees = 0;
    if (!parse_decimal(argv[3], &degrees)) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[3]);
        return RESULT_USAGE;
    }
    if (degrees < -VARIATION_LIMIT || degrees > VARIATION_LIMIT) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter value: %s\n", argv[3]);
        return RESULT_USAGE;
    }
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg a v 1 %d\r",
                   round_to_int(degrees * 100.0));
    return 0;
}

int32_t variation_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = preconditions(device, {"NC-350"}))
        return refused;
    if (argc < 2) {
        out_print(LEVEL_ERROR, "Error: Missing argument\n");
        return RESULT_USAGE;
    }
    if (!equals_ignore_case(argv[1], "source")) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[1]);
        return RESULT_USAGE;
    }
    uint32_t source = 0;
    float variation = 0;
    const char* name = nullptr;
    if (argc == 2) {
        cfg_get_variation(device, &source, &variation, &name);
        print_variation(source == VARIATION_SOURCE_USER, variation, name);
        return 0;
    }
    const int wanted = source_code_of(argv[2]);
    if (wanted < 0) {
        out_print(LEVEL_ERROR, "Error: Unknown source: %s\n", argv[2]);
        return RESULT_USAGE;
    }
    if (const int32_t refused = format_variation_command(argc, argv, wanted))
        return refused;
    if (plain_transact(device, shell_command_buffer) < 0 ||
        cfg_get_variation(device, &source, &variation, &name) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set magnetic source/variation\n");
        return 0;
    }
    print_variation(wanted == static_cast<int>(VARIATION_SOURCE_USER), variation, name);
    return 0;
}

// ---- attitude

int32_t attitude_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (!model_is(device, "NC-4100") && !model_is(device, "NC-350"))
        return RESULT_UNKNOWN_COMMAND;
    if (!extended_firmware(device)) {
        report_unsupported_option();
        return RESULT_FAILED;
    }
    if (cfg_protocol_check(device) < 0)
        return RESULT_UNSUPPORTED_PROTOCOL;
    if (argc < 2) {
        out_print(LEVEL_ERROR, "Error: Missing parameter\n");
        return RESULT_USAGE;
    }
    if (!equals_ignore_case(argv[1], "filter")) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[1]);
        return 0;
    }
    if (argc == 2) {
        cfg_print_filter_time(device);
        return 0;
    }
    float seconds = 0;
    if (!parse_decimal(argv[2], &seconds)) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[2]);
        return RESULT_USAGE;
    }
    // In double, so that 9.9 read as a float still passes.
    if (seconds < 0.0f || static_cast<double>(seconds) > FILTER_MAX_S) {
        out_print(LEVEL_ERROR, "Error: Parameter out of range (0.0-9.9 sec.)\n");
        return RESULT_USAGE;
    }
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg a f %u\r",
                   static_cast<unsigned>(round_to_int(seconds * 10.0)));
    if (cfg_checked_transact(device, shell_command_buffer) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set filter time constant\n");
        return RESULT_NO_REPLY;
    }
    cfg_print_filter_time(device);
    return 0;
}

// ---- gnss

struct ReceiverWord {
    const char* word;
    uint32_t bits;
};

const ReceiverWord receiver_words[] = {
    {"gps", GNSS_GPS | GNSS_QZSS}, {"qzss", GNSS_QZSS},       {"sbas", GNSS_SBAS},
    {"beidou", GNSS_BEIDOU},       {"glonass", GNSS_GLONASS},
};

// The mask of the words from argv[2] on; -1 after the error for an unknown word.
int64_t receiver_mask_of(int32_t argc, char** argv) {
    uint32_t mask = 0;
    for (int32_t i = 2; i < argc; ++i) {
        const ReceiverWord* found = nullptr;
        for (const ReceiverWord& entry : receiver_words) {
            if (equals_ignore_case(argv[i], entry.word))
                found = &entry;
        }
        if (!found) {
            out_print(LEVEL_ERROR, "Error: Illegal gnss receiver: %s\n", argv[i]);
            return -1;
        }
        mask |= found->bits;
    }
    return mask;
}

bool receivers_combine(uint32_t mask) {
    if ((mask & GNSS_BEIDOU) && (mask & GNSS_GLONASS)) {
        out_print(LEVEL_ERROR, "Error: BEIDOU and GLONASS can not be selected at the same time\n");
        return false;
    }
    if ((mask & GNSS_SBAS) && !(mask & GNSS_GPS)) {
        out_print(LEVEL_ERROR, "Error: SBAS only works with GPS\n");
        return false;
    }
    if (((mask & GNSS_GPS) != 0) != ((mask & GNSS_QZSS) != 0)) {
        out_print(LEVEL_ERROR,
                  "Error: GPS and QZSS must be either both selected or both omitted\n");
        return false;
    }
    return true;
}

int32_t gnss_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = preconditions(device, {"NC-4100", "NC-210"}))
        return refused;
    if (argc < 2 || !equals_ignore_case(argv[1], "receiver")) {
        out_print(LEVEL_ERROR, "Error: Missing or illegal parameter\n");
        return RESULT_USAGE;
    }
    const char* names = nullptr;
    if (argc == 2) {
        cfg_get_gnss_receivers(device, &names);
        std::printf("Selected GNSS receivers: %s\n", names);
        return 0;
    }
    const int64_t mask = receiver_mask_of(argc, argv);
    if (mask < 0 || !receivers_combine(static_cast<uint32_t>(mask)))
        return 0;
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg g s %u\r",
                   static_cast<unsigned>(mask));
    if (cfg_checked_transact(device, shell_command_buffer) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set gnss type\n");
        return 0;
    }
    cfg_get_gnss_receivers(device, &names);
    std::printf("Selected GNSS receivers: %s\n", names);
    std::printf("The configuration takes effect when the device is rebooted\n");
    return 0;
}

// ---- nmea2000

void print_termination(uint32_t state) {
    std::printf("NMEA-2000 bus termination: %s\n", state != 0 ? "term" : "open");
}

int32_t nmea2000_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = preconditions(device, {"NC-350", "NC-210"}))
        return refused;
    if (argc < 2 || !equals_ignore_case(argv[1], "bus")) {
        out_print(LEVEL_ERROR, "Error: Missing or illegal parameter\n");
        return RESULT_USAGE;
    }
    uint32_t state = 0;
    if (argc == 2) {
        if (cfg_get_bus_termination(device, &state) < 0) {
            out_print(LEVEL_ERROR, "Error: Failed to read NMEA-2000 termination state\n");
            return RESULT_NO_REPLY;
        }
        print_termination(state);
        return 0;
    }
    unsigned wanted = 0;
    if (equals_ignore_case(argv[2], "term")) {
        wanted = 1;
    } else if (!equals_ignore_case(argv[2], "open")) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[2]);
        return 0;
    }
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg c t %u\r", wanted);
    if (plain_transact(device, shell_command_buffer) < 0 ||
        cfg_get_bus_termination(device, &state) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set NMEA-2000 bus termination\n");
        return RESULT_NO_REPLY;
    }
    print_termination(state);
    return 0;
}

} // namespace

REGISTER_COMMAND("attitude", attitude_command);
REGISTER_COMMAND("variation", variation_command);
REGISTER_COMMAND("deviation", deviation_command);
REGISTER_COMMAND("nmea2000", nmea2000_command);
REGISTER_COMMAND("gnss", gnss_command);
