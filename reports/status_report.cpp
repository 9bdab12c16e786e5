#include "reports/status_report.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/results.h"
#include "base/text.h"
#include "config/queries.h"
#include "link/transport.h"

namespace {

constexpr long long MAX_SECONDS_SINCE_STARTUP = 4294966;
const char INDENT[] = "                              "; // lines up with the text after the level

// The port failed during the report: nothing more can be read, and the value
// of the query that failed must not be printed as if it had been.
bool line_lost(const DeviceRecord& device) { return device.link.port_failed; }

bool answered(DeviceRecord& device, const char* command_line) {
    return shell_transact(device, command_line, shell_reply_buffer, SHELL_REPLY_SIZE,
                          link_timeout_ms(device)) > 0;
}

// An unanswered query leaves its label without verdict and without line end,
// as the self test and the calibration do: no answer is no "OK".
void write_events(FILE* out, DeviceRecord& device) {
    std::fputs("\nSystem status         ", out);
    if (!answered(device, "event\r"))
        return;
    std::fputs(active_event_count(shell_reply_buffer) > 0
                   ? "Error   Type 'event' to get list of system events\n"
                   : "OK\n",
               out);
}

void write_self_test(FILE* out, DeviceRecord& device) {
    std::fputs("Power On self Test    ", out);
    if (!answered(device, "post\r"))
        return;
    std::fputs(std::strstr(shell_reply_buffer, "Fail")
                   ? "Error   Type 'post' to get a detailed test report\n"
                   : "OK\n",
               out);
}

const char* calibration_mode_name(const DeviceRecord& device, uint32_t mode) {
    if (model_is(device, "NC-4100"))
        return mode == 0 ? "standard" : mode == 1 ? "adaptive" : mode == 7 ? "off" : "-";
    return mode == 0 ? "on" : mode == 7 ? "off" : "-";
}

void write_deviation(FILE* out, DeviceRecord& device) {
    uint32_t mode = 2;
    cfg_get_calibration_mode(device, &mode);
    if (line_lost(device))
        return;
    std::fprintf(out, "Deviation calibration Info    %s\n", calibration_mode_name(device, mode));
    if (extended_firmware(device)) {
        char options[CALIBRATION_OPTIONS_TEXT_SIZE] = {};
        cfg_format_calibration_options(device, options, sizeof options, /*verbose=*/true);
        if (line_lost(device))
            return;
        std::fprintf(out, "Deviation options     Info    %s\n", options);
    }
    std::fputs("Magnetic Deviation    ", out);
    if (answered(device, "hsiron\r"))
        std::fputs(hsiron_text(shell_reply_buffer).c_str(), out);
}

void write_variation(FILE* out, DeviceRecord& device) {
    uint32_t source = 0;
    float variation = 0;
    const char* name = "";
    cfg_get_variation(device, &source, &variation, &name);
    if (line_lost(device))
        return;
    if (std::strcmp(name, "user") == 0)
        std::fprintf(out, "Magnetic variation    Info    %s (%.1f degrees)\n", name,
                     static_cast<double>(variation));
    else
        std::fprintf(out, "Magnetic variation    Info    %s\n", name);
}

void write_gnss(FILE* out, DeviceRecord& device) {
    const char* names = "";
    cfg_get_gnss_receivers(device, &names);
    if (line_lost(device))
        return;
    std::fprintf(out, "GNSS                  Info    %s\n", names);
}

void write_offsets(FILE* out, DeviceRecord& device) {
    float roll = 0, pitch = 0, heading = 0, level_roll = 0, level_pitch = 0, vertical = 0;
    cfg_get_rotation_offset(device, &roll, &pitch, &heading);
    if (!line_lost(device))
        cfg_get_autolevel_offset(device, &level_roll, &level_pitch);
    if (line_lost(device))
        return;
    // Early NC-4100 software keeps the levelling in the static offsets, which
    // the autolevel query then reports again: counted once in the total.
    const bool separate = !(model_is(device, "NC-4100") && !extended_firmware(device));
    const double total_roll = roll + (separate ? level_roll : 0.0f);
    const double total_pitch = pitch + (separate ? level_pitch : 0.0f);
    std::fprintf(out, "Heading offset        Info    % 7.2f degrees\n", static_cast<double>(heading));
    std::fprintf(out, "Roll offset           Info    % 7.2f degrees (static:% .2f, autolevel:% .2f)\n",
                 total_roll, static_cast<double>(roll), static_cast<double>(level_roll));
    std::fprintf(out, "Pitch offset          Info    % 7.2f degrees (static:% .2f, autolevel:% .2f)\n",
                 total_pitch, static_cast<double>(pitch), static_cast<double>(level_pitch));
    cfg_get_vertical_offset(device, &vertical);
    if (line_lost(device))
        return;
    std::fprintf(out, "Vertical offset       Info    % 7.2f meter\n", static_cast<double>(vertical));
}

void write_filter(FILE* out, DeviceRecord& device) {
    float seconds = 0;
    cfg_get_filter_time(device, &seconds);
    if (line_lost(device))
        return;
    if (seconds >= 0.1f)
        std::fprintf(out, "Attitude filter       Info    enabled (constant = %.1f s)\n",
                     static_cast<double>(seconds));
    else
        std::fputs("Attitude filter       Info    disabled\n", out);
}

void write_bus(FILE* out, DeviceRecord& device) {
    uint32_t state = 2;
    cfg_get_bus_termination(device, &state);
    if (line_lost(device))
        return;
    std::fprintf(out, "NMEA-2000 bus         Info    %s\n",
                 state == 0 ? "open" : state == 1 ? "term" : "-");
}

// "hh:mm:ss since startup" with all the hours (25 hours are 25:00:00), or the
// local calendar time of a later calibration.
// long long, since a long has 32 bits on Windows.
std::string calibration_time(long long t) {
    char text[160];
    if (t >= 0 && t <= MAX_SECONDS_SINCE_STARTUP) {
        const unsigned seconds = static_cast<unsigned>(t);
        std::snprintf(text, sizeof text,
                      "Info    Magnetometer calibration completed:\n%s%02u:%02u:%02u since startup\n",
                      INDENT, seconds / 3600, seconds / 60 % 60, seconds % 60);
        return text;
    }
    const std::time_t when = static_cast<std::time_t>(t);
    const std::tm* local = t > 0 ? std::localtime(&when) : nullptr;
    const std::string date = local ? calendar_text(*local) : "";
    if (date.empty()) {
        std::snprintf(text, sizeof text,
                      "Info    Magnetometer calibration completed:\n%stime not readable (%lld)\n",
                      INDENT, t);
        return text;
    }
    std::snprintf(text, sizeof text, "Info    Magnetometer calibration completed at:\n%s%s\n",
                  INDENT, date.c_str());
    return text;
}

} // namespace

uint32_t active_event_count(const char* reply) {
    const char* line_end = std::strpbrk(reply, "\r\n");
    uint32_t count = 0;
    while (line_end) {
        const char* start = line_end + std::strspn(line_end, "\r\n");
        line_end = std::strpbrk(start, "\r\n");
        const size_t length = line_end ? static_cast<size_t>(line_end - start) : std::strlen(start);
        const std::string line(start, length);
        count += line.find(" On ") != std::string::npos;
    }
    return count;
}

std::string hsiron_text(const char* reply) {
    const char* time_at = std::strstr(reply, "Time:");
    if (!time_at)
        return "Warning Magnetometer calibration is not performed\n";
    std::string text = calibration_time(std::strtoll(time_at + 5, nullptr, 10));
    unsigned count = 0, score = 0;
    if (const char* at = std::strstr(reply, "Count:"))
        std::sscanf(at, "Count: %u", &count);
    if (const char* at = std::strstr(reply, "Score:"))
        std::sscanf(at, "Score: %u", &score);
    if (count != 0) {
        char line[96];
        std::snprintf(line, sizeof line, "%sPerformed %u times, current score: %u\n", INDENT, count,
                      score);
        text += line;
    }
    return text;
}

int write_status_report(FILE* out, DeviceRecord& device) {
    const bool nc4100 = model_is(device, "NC-4100");
    const bool nc350 = model_is(device, "NC-350");
    const bool nc210 = model_is(device, "NC-210");
    using Part = void (*)(FILE*, DeviceRecord&);
    const std::pair<bool, Part> parts[] = {
        {true, write_events},
        {true, write_self_test},
        {nc4100 || nc350, write_deviation},
        {nc350, write_variation},
        {nc4100 || nc210, write_gnss},
        {nc4100 || nc350, write_offsets},
        {(nc4100 || nc350) && extended_firmware(device), write_filter},
        {nc350 || nc210, write_bus},
    };
    for (const auto& [wanted, write_part] : parts) {
        if (!wanted)
            continue;
        write_part(out, device);
        if (line_lost(device))
            return RESULT_PORT_ERROR;
    }
    std::fprintf(out, "Baudrate              Info    %u\n", device.link.baud_rate);
    return 0;
}
