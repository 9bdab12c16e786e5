// roll, pitch, heading, vertical and autolevel: the mounting compensation that
// the device applies to its output.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "base/text.h"
#include "config/queries.h"
#include "link/command_registry.h"
#include "link/nmea.h"
#include "link/transport.h"

namespace {

constexpr float OFFSET_LIMIT = 180.0f;
constexpr float HEADING_MAX = 360.0f;
constexpr float VERTICAL_LIMIT = 3200.0f;
constexpr float READ_BACK_TOLERANCE = 0.1f;
constexpr float ATTITUDE_LIMIT = 10.0f;
constexpr uint32_t ATTITUDE_WAIT_S = 3;

bool has_mounting_commands(const DeviceRecord& device) {
    return model_is(device, "NC-4100") || model_is(device, "NC-350");
}

// The model check, then the protocol check: 0 to go on, else the result.
int32_t mounting_preconditions(const DeviceRecord& device) {
    if (!has_mounting_commands(device))
        return RESULT_UNKNOWN_COMMAND;
    if (cfg_protocol_check(device) < 0)
        return RESULT_UNSUPPORTED_PROTOCOL;
    return 0;
}

enum class Axis { ROLL, PITCH, HEADING };

struct Rotation {
    float roll = 0;
    float pitch = 0;
    float heading = 0;

    float& operator[](Axis axis) {
        return axis == Axis::ROLL ? roll : (axis == Axis::PITCH ? pitch : heading);
    }
};

Axis axis_of(const char* command) {
    if (std::strcmp(command, "roll") == 0)
        return Axis::ROLL;
    if (std::strcmp(command, "pitch") == 0)
        return Axis::PITCH;
    return Axis::HEADING;
}

int read_rotation(DeviceRecord& device, Rotation* rotation) {
    return cfg_get_rotation_offset(device, &rotation->roll, &rotation->pitch, &rotation->heading);
}

int write_rotation(DeviceRecord& device, const Rotation& rotation) {
    return cfg_set_rotation_offset(device, rotation.roll, rotation.pitch, rotation.heading);
}

bool differs(float a, float b) {
    return std::fabs(a - b) > READ_BACK_TOLERANCE;
}

void print_offset(Axis axis, float value) {
    switch (axis) {
    case Axis::ROLL:
        std::printf("Roll offset: %.2f degrees\n", value);
        break;
    case Axis::PITCH:
        std::printf("Pitch offset: %.2f degrees\n", value);
        break;
    case Axis::HEADING:
        std::printf("Heading offset: %.2f degrees\n", value);
        break;
    }
}

// Field 1 is a talker and "att"; field 4 is the roll and field 3 the pitch.
bool is_attitude_sentence(char* text, char** fields, int* count) {
    if (std::strncmp(text + 1, "PFEC", 4) != 0)
        return false;
    *count = nmea_split_fields(text, fields, SENTENCE_FIELDS_MAX);
    return *count >= 5 && std::strlen(fields[1]) == 5 && std::strcmp(fields[1] + 2, "att") == 0;
}

// Waits up to about 3 s for the attitude sentence. true with roll and pitch when
// one came (a field that does not read keeps the static offset in its place) or
// when reading failed (then the static offsets stand in).
bool measured_attitude(DeviceRecord& device, const Rotation& statics, float* roll, float* pitch) {
    const uint64_t deadline_s = clock_ms() / 1000 + ATTITUDE_WAIT_S;
    while (clock_ms() / 1000 <= deadline_s) {
        char text[SENTENCE_TEXT_MAX + 1];
        const int length = cfg_read_sentence_text(device, text);
        if (length < 0) {
            out_print(LEVEL_ERROR, "Error: Failed to read roll/pitch\n");
            *roll = statics.roll;
            *pitch = statics.pitch;
            return true;
        }
        char* fields[SENTENCE_FIELDS_MAX];
        int count = 0;
        if (length < 6 || !is_attitude_sentence(text, fields, &count))
            continue;
        if (!parse_decimal(fields[4], roll))
            *roll = statics.roll;
        if (!parse_decimal(fields[3], pitch))
            *pitch = statics.pitch;
        return true;
    }
    return false;
}

void check_attitude_and_heading(DeviceRecord& device, const Rotation& statics) {
    float roll = 0;
    float pitch = 0;
    if (measured_attitude(device, statics, &roll, &pitch) &&
        (std::fabs(roll) > ATTITUDE_LIMIT || std::fabs(pitch) > ATTITUDE_LIMIT)) {
        out_print(LEVEL_ERROR,
                  "\nWarning: heading offset is specified while the roll/pitch exceeds the\n"
                  "recommended limit (10.0 degrees).\n"
                  "Consider to use the 'autolevel' command to adjust the roll and pitch "
                  "offsets.\n\n");
    }
    link_purge(device.link);
    float heading = 0;
    const int result = read_heading(device, &heading);
    if (result == HEADING_NONE || result == HEADING_VARIATION_MISSING)
        out_print(LEVEL_ERROR,
                  "Warning: heading offset is specified without having a valid true heading\n");
    else if (result == HEADING_TRUE || result == HEADING_NO_VARIATION)
        out_print(LEVEL_INFO, "Actual Heading: %.1f degrees\n", heading);
}

void confirm_offset(DeviceRecord& device, Axis axis, float value, const Rotation& statics) {
    switch (axis) {
    case Axis::ROLL:
        out_print(LEVEL_INFO, "Static roll offset set to: %.2f degrees\n", value);
        break;
    case Axis::PITCH:
        out_print(LEVEL_INFO, "Static pitch offset set to: %.2f degrees\n", value);
        break;
    case Axis::HEADING:
        out_print(LEVEL_INFO, "Heading offset set to: %.2f degrees\n", value);
        check_attitude_and_heading(device, statics);
        break;
    }
}

int32_t set_offset(DeviceRecord& device, Axis axis, const char* word) {
    float value = 0;
    if (!parse_decimal(word, &value) || value < -OFFSET_LIMIT || value > OFFSET_LIMIT) {
        out_print(LEVEL_ERROR, "Error: Illegal value: %s", word);
        return RESULT_USAGE;
    }
    Rotation rotation;
    if (read_rotation(device, &rotation) < 0)
        return RESULT_NO_REPLY; // never write offsets that were not read
    const Rotation statics = rotation;
    rotation[axis] = value;
    write_rotation(device, rotation);
    Rotation stored;
    if (read_rotation(device, &stored) < 0)
        return RESULT_NO_REPLY;
    if (differs(stored.roll, rotation.roll) || differs(stored.pitch, rotation.pitch) ||
        differs(stored.heading, rotation.heading)) {
        out_print(LEVEL_ERROR, "Error: Value out of range\n");
        return 0;
    }
    confirm_offset(device, axis, value, statics);
    return 0;
}

int32_t offset_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = mounting_preconditions(device))
        return refused;
    if (argc < 2 || !equals_ignore_case(argv[1], "offset")) {
        out_print(LEVEL_ERROR, "Error: Missing or illegal parameter\n");
        return RESULT_USAGE;
    }
    const Axis axis = axis_of(argv[0]);
    if (argc == 2) {
        Rotation rotation;
        if (read_rotation(device, &rotation) < 0)
            return RESULT_NO_REPLY;
        print_offset(axis, rotation[axis]);
        return 0;
    }
    return set_offset(device, axis, argv[2]);
}

// The heading offset that makes the device show the known heading.
float offset_for_known_heading(float known, float measured, float current_offset) {
    float offset = known - measured + current_offset;
    if (offset > OFFSET_LIMIT)
        offset -= 360.0f;
    else if (offset < -OFFSET_LIMIT)
        offset += 360.0f;
    return offset;
}

int32_t heading_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = mounting_preconditions(device))
        return refused;
    if (argc < 2) {
        out_print(LEVEL_ERROR, "Error: Missing heading parameter\n");
        return 0;
    }
    if (equals_ignore_case(argv[1], "offset"))
        return offset_command(device, argc, argv);
    float known = 0;
    if (!parse_decimal(argv[1], &known) || known < 0.0f || known > HEADING_MAX) {
        out_print(LEVEL_ERROR,
                  "Error: Illegal parameter: %s, expected decimal number between 0 and 360\n",
                  argv[1]);
        return RESULT_USAGE;
    }
    Rotation rotation;
    if (read_rotation(device, &rotation) < 0)
        return RESULT_NO_REPLY;
    float measured = 0;
    const int result = read_heading(device, &measured);
    if (result == HEADING_NONE || result == HEADING_VARIATION_MISSING) {
        out_print(LEVEL_ERROR, "Error: True heading not available (required to calculate the "
                               "heading offset)\n");
        return RESULT_NO_REPLY;
    }
    if (result < 0)
        return RESULT_NO_REPLY;
    rotation.heading = offset_for_known_heading(known, measured, rotation.heading);
    write_rotation(device, rotation);
    out_print(LEVEL_INFO, "heading offset calculated to: %.2f degrees\n", rotation.heading);
    return 0;
}

int32_t vertical_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = mounting_preconditions(device))
        return refused;
    if (argc < 2 || std::strcmp(argv[1], "offset") != 0) {
        out_print(LEVEL_ERROR, "Error: Missing or illegal parameter\n");
        return RESULT_USAGE;
    }
    float metres = 0;
    if (argc == 2) {
        cfg_get_vertical_offset(device, &metres);
        std::printf("vertical offset: %.2f meter\n", metres);
        return 0;
    }
    // A typo must not silently replace a calibrated offset with 0.0 m.
    if (!parse_decimal(argv[2], &metres)) {
        out_print(LEVEL_ERROR, "Error: Illegal value: %s\n", argv[2]);
        return RESULT_USAGE;
    }
    if (metres > VERTICAL_LIMIT || metres < -VERTICAL_LIMIT) {
        out_print(LEVEL_ERROR, "Error: Value out of range\n");
        return RESULT_USAGE;
    }
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg m w %d\r",
                   round_to_int(metres * 10.0));
    if (cfg_checked_transact(device, shell_command_buffer) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to configure vertical offset\n");
        return RESULT_NO_REPLY;
    }
    const int result = cfg_get_vertical_offset(device, &metres);
    if (result < 0)
        return result;
    std::printf("vertical offset set to %.1f meter\n", metres);
    return 0;
}

void print_autolevel_offset(DeviceRecord& device) {
    float roll = 0;
    float pitch = 0;
    if (cfg_get_autolevel_offset(device, &roll, &pitch) < 0)
        out_print(LEVEL_ERROR, "Error: Failed to read calculated offset\n");
    else
        std::printf("rotation offset calculated: roll:%.2f, pitch:%.2f\n", roll, pitch);
}

int32_t autolevel_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (const int32_t refused = mounting_preconditions(device))
        return refused;
    if (argc < 2) {
        print_autolevel_offset(device);
        return 0;
    }
    if (equals_ignore_case(argv[1], "run")) {
        if (cfg_checked_transact(device, "cfg m r a\r") < 0) {
            out_print(LEVEL_ERROR, "Error: Failed to run autolevel\n");
            return 0;
        }
        print_autolevel_offset(device);
        return 0;
    }
    if (equals_ignore_case(argv[1], "reset")) {
        if (model_is(device, "NC-4100") && !extended_firmware(device)) {
            report_unsupported_option();
            return RESULT_FAILED;
        }
        if (cfg_checked_transact(device, "cfg m r r\r") < 0)
            out_print(LEVEL_ERROR, "Error: Failed to reset autolevel\n");
        return 0;
    }
    out_print(LEVEL_ERROR, "Error: Illegal parameter\n");
    return RESULT_USAGE;
}

} // namespace

REGISTER_COMMAND("vertical", vertical_command);
REGISTER_COMMAND("autolevel", autolevel_command);
REGISTER_COMMAND("pitch", offset_command);
REGISTER_COMMAND("roll", offset_command);
REGISTER_COMMAND("heading", heading_command);
