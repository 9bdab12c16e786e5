#include "config/queries.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/nmea.h"
#include "link/transport.h"

const char* const variation_source_names[VARIATION_SOURCE_COUNT] = {"auto", "user", "?", "off"};

namespace {

constexpr double DEGREES_PER_RADIAN = 57.29577951308232;
constexpr uint32_t HEADING_WAIT_S = 3;
constexpr uint32_t SENTENCE_TIMEOUT_MS = 2000;

struct FixedInterval {
    const char* formatter;
    int interval_ms;
};

const FixedInterval fixed_interval_table[] = {
    {"DTM", 1000}, {"GGA", 1000}, {"GLL", 1000}, {"GSA", 1000},
    {"GSV", 1000}, {"RMC", 1000}, {"VTG", 1000}, {"ZDA", 1000},
};

int plain_transact(DeviceRecord& device, const char* command_line) {
    return shell_transact(device, command_line, shell_reply_buffer, SHELL_REPLY_SIZE,
                          link_timeout_ms(device));
}

// A finite number read with "%f" from device text.
bool read_float(const char* text, float* value) {
    float read = 0;
    if (std::sscanf(text, "%f", &read) != 1 || !std::isfinite(read))
        return false;
    *value = read;
    return true;
}

enum class Radix { DECIMAL, HEX };

// A number read after the echo of a checked transaction; -1 when anything is missing.
int checked_unsigned_after_echo(DeviceRecord& device, const char* command_line, Radix radix,
                                uint32_t* value) {
    if (cfg_checked_transact(device, command_line) < 0)
        return -1;
    const char* text = cfg_after_echo(shell_reply_buffer);
    unsigned read = 0;
    const int converted = !text                 ? 0
                          : radix == Radix::HEX ? std::sscanf(text, "%x", &read)
                                                : std::sscanf(text, "%u", &read);
    if (converted != 1)
        return -1;
    *value = read;
    return 0;
}

// The signed integer right after the letter, as atoi reads it (no digits: 0),
// negated as an integer so that 0 does not print as -0.00.
double hundredths_after(const char* letter) {
    const long value = std::strtol(letter + 1, nullptr, 10);
    return static_cast<double>(value == LONG_MIN ? LONG_MAX : -value) / 100.0;
}

// R, P and Y in this order, each searched from the one before; a letter that is
// missing leaves it and those after it at 0.
void parse_rotation(const char* reply, float* roll, float* pitch, float* heading) {
    *roll = *pitch = *heading = 0;
    const char* r = std::strchr(reply, 'R');
    if (!r)
        return;
    *roll = static_cast<float>(hundredths_after(r));
    const char* p = std::strchr(r, 'P');
    if (!p)
        return;
    *pitch = static_cast<float>(hundredths_after(p));
    const char* y = std::strchr(p, 'Y');
    if (y)
        *heading = static_cast<float>(hundredths_after(y));
}

bool parse_quaternion(const char* reply, double q[4]) {
    static const char* const keys[4] = {"Q0", "Q1", "Q2", "Q3"};
    for (int i = 0; i < 4; ++i) {
        const char* key = std::strstr(reply, keys[i]);
        float value = 0;
        if (!key || !read_float(key + 2, &value))
            return false;
        q[i] = value;
    }
    return true;
}

void quaternion_roll_pitch(const double q[4], float* roll, float* pitch) {
    const double r =
        std::atan2(2 * (q[0] * q[1] + q[2] * q[3]), 1 - 2 * (q[1] * q[1] + q[2] * q[2]));
    double s = 2 * (q[0] * q[2] - q[1] * q[3]);
    s = s > 1 ? 1 : (s < -1 ? -1 : s);
    *roll = static_cast<float>(r * DEGREES_PER_RADIAN);
    *pitch = static_cast<float>(std::asin(s) * DEGREES_PER_RADIAN);
}

void append_name(char* text, uint32_t mask, uint32_t bit, const char* name) {
    if (mask & bit)
        std::strncat(text, name, GNSS_NAMES_TEXT_SIZE - std::strlen(text) - 1);
}

bool parse_sentence_line(const char* line, SentenceEntry* entry) {
    unsigned id = 0, interval = 0, offset = 0;
    char t[2], f[3];
    if (std::sscanf(line, "%u %c%c %c%c%c %u %u", &id, &t[0], &t[1], &f[0], &f[1], &f[2], &interval,
                    &offset) != 8)
        return false;
    *entry = SentenceEntry{};
    entry->id = id;
    std::memcpy(entry->talker, t, 2);
    std::memcpy(entry->formatter, f, 3);
    entry->interval = interval;
    entry->offset = offset;
    return true;
}

bool field_number(const char* field, float* value) {
    return field[0] != '\0' && read_float(field, value);
}

// East adds, anything else subtracts.
float signed_by(const char* direction, float value) {
    return direction[0] == 'E' ? value : -value;
}

int heading_without_variation(DeviceRecord& device) {
    if (!model_is(device, "NC-350"))
        return HEADING_NO_VARIATION;
    uint32_t source = 0;
    float variation = 0;
    const char* name = nullptr;
    cfg_get_variation(device, &source, &variation, &name);
    return std::strcmp(name, "off") == 0 ? HEADING_NO_VARIATION : HEADING_VARIATION_MISSING;
}

// What one sentence tells about the heading: a result, or 3 to read on.
constexpr int READ_ON = 3;

int heading_from_sentence(DeviceRecord& device, char* text, float* heading) {
    char* fields[SENTENCE_FIELDS_MAX];
    const char* type = text + 3; // after "$" and the talker
    const int count = nmea_split_fields(text, fields, SENTENCE_FIELDS_MAX);
    float value = 0;
    if (std::strncmp(type, "THS", 3) == 0) {
        if (count >= 3 && std::strcmp(fields[2], "V") != 0 && read_float(fields[1], &value)) {
            *heading = value;
            return HEADING_TRUE;
        }
        return READ_ON;
    }
    if (std::strncmp(type, "HDT", 3) == 0) {
        if (count >= 2 && read_float(fields[1], &value)) {
            *heading = value;
            return HEADING_TRUE;
        }
        return READ_ON;
    }
    if (std::strncmp(type, "HDG", 3) != 0 || count < 6)
        return READ_ON;
    if (!read_float(fields[1], &value))
        return HEADING_NONE;
    float deviation = 0;
    if (fields[3][0] != '\0' && field_number(fields[2], &deviation))
        value += signed_by(fields[3], deviation);
    float variation = 0;
    if (fields[5][0] != '\0' && field_number(fields[4], &variation)) {
        *heading = value + signed_by(fields[5], variation);
        return HEADING_TRUE;
    }
    *heading = value;
    return heading_without_variation(device);
}

} // namespace

bool extended_firmware(const DeviceRecord& device) {
    const uint32_t version = ident_software(device, 0).version;
    return version_major(version) != 0 && version_minor(version) >= 2;
}

int cfg_protocol_check(const DeviceRecord& device) {
    return device.protocol_version == 0 ? 0 : RESULT_FAILED;
}

void report_unsupported_option() {
    out_print(LEVEL_ERROR, "Error: The device does not support this option, please update the "
                           "software\non the device.\n");
}

int32_t round_to_int(double value) {
    if (!(value > INT32_MIN))
        return INT32_MIN;
    if (!(value < INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(std::lround(value));
}

// The whole word: "1.5abc" or "2x" is no number, though "%f" reads one from it.
bool parse_decimal(const char* word, float* value) {
    float read = 0;
    int used = 0;
    if (std::sscanf(word, "%f%n", &read, &used) != 1 || word[used] != '\0' || !std::isfinite(read))
        return false;
    *value = read;
    return true;
}

int cfg_checked_transact(DeviceRecord& device, const char* command_line) {
    const int result = plain_transact(device, command_line);
    if (result < 0)
        return result;
    return shell_exit_status(device) == 0 ? 0 : RESULT_NO_REPLY;
}

const char* cfg_after_echo(const char* reply) {
    const char* line_feed = std::strchr(reply, '\n');
    return line_feed ? line_feed + 1 : nullptr;
}

int cfg_get_bus_termination(DeviceRecord& device, uint32_t* state) {
    return checked_unsigned_after_echo(device, "cfg c t\r", Radix::HEX, state) < 0 ? RESULT_FAILED
                                                                                   : 0;
}

int cfg_get_calibration_options(DeviceRecord& device, uint32_t* bits) {
    return checked_unsigned_after_echo(device, "cfg h o\r", Radix::HEX, bits) < 0 ? RESULT_NO_REPLY
                                                                                  : 0;
}

int cfg_get_calibration_mode(DeviceRecord& device, uint32_t* mode) {
    return checked_unsigned_after_echo(device, "cfg h m\r", Radix::DECIMAL, mode) < 0
               ? RESULT_NO_REPLY
               : 0;
}

int cfg_get_nmea_baudrate(DeviceRecord& device, uint32_t* baud) {
    return checked_unsigned_after_echo(device, "cfg n b\r", Radix::DECIMAL, baud) < 0
               ? RESULT_FAILED
               : 0;
}

int cfg_get_filter_time(DeviceRecord& device, float* seconds) {
    // The device answers this one with a number even when its status says otherwise.
    const char* text = nullptr;
    unsigned tenths = 0;
    if (plain_transact(device, "cfg a f\r") < 0 || !(text = cfg_after_echo(shell_reply_buffer)) ||
        std::sscanf(text, "%u", &tenths) != 1) {
        out_print(LEVEL_ERROR, "Error: Failed to get filter time constant\n");
        return RESULT_NO_REPLY;
    }
    *seconds = static_cast<float>(tenths / 10.0);
    return 0;
}

int cfg_get_vertical_offset(DeviceRecord& device, float* metres) {
    *metres = 0;
    if (cfg_checked_transact(device, "cfg m w\r") < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to read vertical offset\n");
        return RESULT_NO_REPLY;
    }
    const char* w = std::strchr(shell_reply_buffer, 'W');
    float tenths = 0;
    if (!w || !read_float(w + 1, &tenths))
        return RESULT_NO_REPLY;
    *metres = static_cast<float>(tenths / 10.0);
    return 0;
}

int cfg_get_rotation_offset(DeviceRecord& device, float* roll, float* pitch, float* heading) {
    if (cfg_checked_transact(device, "cfg m r\r") < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to read rotation offset\n");
        return RESULT_NO_REPLY;
    }
    parse_rotation(shell_reply_buffer, roll, pitch, heading);
    return 0;
}

int cfg_get_autolevel_offset(DeviceRecord& device, float* roll, float* pitch) {
    if (model_is(device, "NC-4100") && !extended_firmware(device)) {
        float heading = 0;
        return cfg_get_rotation_offset(device, roll, pitch, &heading);
    }
    double q[4];
    if (cfg_checked_transact(device, "cfg m r\r") < 0 || !parse_quaternion(shell_reply_buffer, q)) {
        out_print(LEVEL_ERROR, "Error: Failed to read rotation offset\n");
        return RESULT_NO_REPLY;
    }
    quaternion_roll_pitch(q, roll, pitch);
    return 0;
}

int cfg_get_variation(DeviceRecord& device, uint32_t* source, float* variation, const char** name) {
    *source = VARIATION_SOURCE_UNKNOWN;
    *variation = 0;
    *name = variation_source_names[VARIATION_SOURCE_UNKNOWN];
    const int result = plain_transact(device, "cfg a v\r");
    if (result < 0)
        return result;
    if (shell_exit_status(device) != 0)
        return 0;
    const char* text = cfg_after_echo(shell_reply_buffer);
    unsigned code = 0;
    float hundredths = 0;
    if (!text || std::sscanf(text, "%u %f", &code, &hundredths) != 2 ||
        !std::isfinite(hundredths) || code >= VARIATION_SOURCE_COUNT)
        return 0;
    *source = code;
    *variation = static_cast<float>(hundredths / 100.0);
    *name = variation_source_names[code];
    return 0;
}

int cfg_get_gnss_receivers(DeviceRecord& device, const char** names) {
    static char text[GNSS_NAMES_TEXT_SIZE];
    text[0] = '\0';
    *names = text;
    const int result = plain_transact(device, "cfg g s\r");
    const bool long_enough = result >= 0 && std::strlen(shell_reply_buffer) > 6;
    const char* after = long_enough ? cfg_after_echo(shell_reply_buffer) : nullptr;
    unsigned mask = 0;
    // The number is read after the echo's line end, not at a fixed place, so that
    // an echo of another length cannot shift it.
    if (!long_enough || !after || shell_exit_status(device) != 0 ||
        std::sscanf(after, "%x", &mask) != 1) {
        out_print(LEVEL_ERROR, "Error: Failed to select gnss recivers\n");
        return 0;
    }
    append_name(text, mask, 1u << 0, "GPS ");
    append_name(text, mask, 1u << 1, "SBAS ");
    append_name(text, mask, 1u << 3, "BEIDOU ");
    append_name(text, mask, 1u << 6, "GLONASS ");
    return 0;
}

int cfg_get_sentences(DeviceRecord& device, std::vector<SentenceEntry>* list) {
    list->clear();
    if (cfg_checked_transact(device, "cfg n s\r") < 0)
        return RESULT_FAILED;
    try {
        for (const char* lf = std::strchr(shell_reply_buffer, '\n'); lf;
             lf = std::strchr(lf + 1, '\n')) {
            SentenceEntry entry;
            if (!parse_sentence_line(lf + 1, &entry))
                break;
            list->push_back(entry);
        }
    } catch (const std::bad_alloc&) {
        list->clear();
        return RESULT_FAILED;
    }
    return 0;
}

int cfg_set_rotation_offset(DeviceRecord& device, float roll, float pitch, float heading) {
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg m r %d %d %d\r",
                   round_to_int(roll * -100.0), round_to_int(pitch * -100.0),
                   round_to_int(heading * -100.0));
    if (cfg_checked_transact(device, shell_command_buffer) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set rotation offset\n");
        return RESULT_NO_REPLY;
    }
    return 0;
}

int cfg_format_calibration_options(DeviceRecord& device, char* text, uint32_t capacity,
                                   bool verbose) {
    uint32_t bits = 0;
    if (cfg_get_calibration_options(device, &bits) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to read calibration options\n");
        return RESULT_NO_REPLY;
    }
    if (capacity < CALIBRATION_OPTIONS_TEXT_SIZE)
        return RESULT_USAGE;
    text[0] = '\0';
    if (!(bits & 2u)) {
        std::strcat(text, "5deg ");
        if (verbose)
            std::strcat(text, "(no cal res) ");
    }
    if (!(bits & 4u)) {
        std::strcat(text, "pause");
        if (verbose)
            std::strcat(text, " (update notify)");
    }
    if (text[0] == '\0')
        std::strcpy(text, "none");
    return 0;
}

int cfg_print_calibration_options(DeviceRecord& device) {
    char text[CALIBRATION_OPTIONS_TEXT_SIZE] = {};
    const int result = cfg_format_calibration_options(device, text, sizeof text, false);
    if (result < 0)
        return result;
    std::printf("deviation options: %s\n", text);
    return 0;
}

void cfg_print_calibration_mode(const char* model_name, uint32_t mode) {
    const char* name = "off";
    if (model_is(model_name, "NC-4100"))
        name = mode == 0 ? "standard" : (mode == 1 ? "adaptive" : "off");
    else if (mode == 0)
        name = "on";
    std::printf("deviation calibration: %s\n", name);
}

int cfg_print_filter_time(DeviceRecord& device) {
    float seconds = 0;
    const int result = cfg_get_filter_time(device, &seconds);
    if (result < 0)
        return result;
    std::printf("time constant: %.1f\n", seconds);
    return 0;
}

int nmea_fixed_interval(const char* formatter) {
    for (const FixedInterval& entry : fixed_interval_table) {
        if (std::strcmp(entry.formatter, formatter) == 0)
            return entry.interval_ms;
    }
    return -1;
}

int cfg_read_sentence_text(DeviceRecord& device, char* text) {
    const char* sentence = nullptr;
    const int length = nmea_read_sentence(device, &sentence, SENTENCE_TIMEOUT_MS);
    if (length < 0 || length > SENTENCE_TEXT_MAX)
        return -1;
    std::memcpy(text, sentence, static_cast<size_t>(length));
    text[length] = '\0';
    return length;
}

int read_heading(DeviceRecord& device, float* heading) {
    const uint64_t deadline_s = clock_ms() / 1000 + HEADING_WAIT_S;
    while (clock_ms() / 1000 <= deadline_s) {
        char text[SENTENCE_TEXT_MAX + 1];
        const int length = cfg_read_sentence_text(device, text);
        if (length < 0) {
            out_print(LEVEL_ERROR, "Error: Failed to read heading information\n");
            return RESULT_NO_REPLY;
        }
        if (length < 6)
            continue; // too short to name a sentence type
        const int result = heading_from_sentence(device, text, heading);
        if (result != READ_ON)
            return result;
    }
    return HEADING_NONE;
}
