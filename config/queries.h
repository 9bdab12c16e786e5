// The device's "cfg" vocabulary: one query per setting, the printers and checks
// that the configuration commands and the status report share, and the heading
// read from the NMEA stream. Nothing is cached: every call asks the device.
#pragma once
#include <cstdint>
#include <vector>

#include "link/device.h"

// One row of the device's output sentence table.
struct SentenceEntry {
    uint32_t id = 0;     // the device's number, sent back unchanged
    char talker[3] = {}; // "--" (any '-'): the talker cannot be changed
    char formatter[4] = {};
    uint32_t interval = 0; // ms, 0 = not sent
    uint32_t offset = 0;   // ms within the interval
    uint32_t length = 0;   // characters on the wire, 0 when not known
};

constexpr uint32_t VARIATION_SOURCE_USER = 1;
constexpr uint32_t VARIATION_SOURCE_UNKNOWN = 2;
constexpr uint32_t VARIATION_SOURCE_COUNT = 4;
extern const char* const variation_source_names[VARIATION_SOURCE_COUNT]; // auto user ? off

constexpr uint32_t CALIBRATION_OPTIONS_TEXT_SIZE = 48;
constexpr uint32_t GNSS_NAMES_TEXT_SIZE = 32;

// Software major version not 0 and minor version at least 2.
bool extended_firmware(const DeviceRecord& device);
// 0 when the device speaks configuration-protocol version 0, else -1.
int cfg_protocol_check(const DeviceRecord& device);
// "Error: The device does not support this option, ..." at level 2.
void report_unsupported_option();

// Nearest integer, halves away from zero, limited to the int32 range.
int32_t round_to_int(double value);
// A word typed by the user read as "%f" would; false for anything that is not
// a finite number and nothing else ("abc", "nan", "inf", "1.5abc").
bool parse_decimal(const char* word, float* value);

// The command's transaction succeeds and its exit status is 0; the reply stays in
// shell_reply_buffer. 0, or a negative code.
int cfg_checked_transact(DeviceRecord& device, const char* command_line);
// The text after the first line feed of a reply (the echo ends there), or nullptr.
const char* cfg_after_echo(const char* reply);

// All outputs are written only on success unless noted.
int cfg_get_bus_termination(DeviceRecord& device, uint32_t* state);    // 0 / -1
int cfg_get_calibration_options(DeviceRecord& device, uint32_t* bits); // 0 / -14
int cfg_get_calibration_mode(DeviceRecord& device, uint32_t* mode);    // 0 / -14
int cfg_get_nmea_baudrate(DeviceRecord& device, uint32_t* baud);       // 0 / -1
int cfg_get_filter_time(DeviceRecord& device, float* seconds);         // 0 / -14, prints
int cfg_get_vertical_offset(DeviceRecord& device, float* metres);      // set to 0 first
int cfg_get_rotation_offset(DeviceRecord& device, float* roll, float* pitch, float* heading);
int cfg_get_autolevel_offset(DeviceRecord& device, float* roll, float* pitch);
// Source 2 ("?") and variation 0 unless a valid answer was read; *name always
// set. The transaction's negative code, else 0.
int cfg_get_variation(DeviceRecord& device, uint32_t* source, float* variation, const char** name);
// *names: "GPS SBAS ..." (each name followed by a blank), empty on failure; valid
// until the next call. Always 0; a failure prints its error.
int cfg_get_gnss_receivers(DeviceRecord& device, const char** names);
// 0 with the table in device order, or -1 with an empty list.
int cfg_get_sentences(DeviceRecord& device, std::vector<SentenceEntry>* list);
// Writes all three offsets (degrees). 0, or -14 after its error.
int cfg_set_rotation_offset(DeviceRecord& device, float roll, float pitch, float heading);

// "5deg pause" (verbose: with the long names), "5deg ", "pause" or "none" into a
// zeroed text. 0; -14 when the bits cannot be read; -22 when capacity < 48.
int cfg_format_calibration_options(DeviceRecord& device, char* text, uint32_t capacity,
                                   bool verbose);
int cfg_print_calibration_options(DeviceRecord& device);
void cfg_print_calibration_mode(const char* model_name, uint32_t mode);
int cfg_print_filter_time(DeviceRecord& device);

// 1000 for the one-second navigation sentences (exact name), else -1.
int nmea_fixed_interval(const char* formatter);

// Sentences the queries take apart: at most this many characters and fields.
constexpr int SENTENCE_TEXT_MAX = 80;
constexpr int SENTENCE_FIELDS_MAX = 16;
// The next sentence from the device as text, ended by NUL, in text (which
// holds SENTENCE_TEXT_MAX + 1 characters): its length, or -1 when none came
// within 2 s, the line failed, or it was longer.
int cfg_read_sentence_text(DeviceRecord& device, char* text);

constexpr int HEADING_TRUE = 1;              // a true heading
constexpr int HEADING_NO_VARIATION = 0;      // none expected
constexpr int HEADING_VARIATION_MISSING = 2; // NC-350 whose variation source is not off
constexpr int HEADING_NONE = -1;             // nothing usable within about 3 s
// Reads the heading from THS, HDT or HDG sentences. One of the above, or -14
// after "Error: Failed to read heading information".
int read_heading(DeviceRecord& device, float* heading);
