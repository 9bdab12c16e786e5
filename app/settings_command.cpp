// settings save | compare | load: every setting of the installation read from
// the device into a file of the tool's own commands, compared with a file,
// and put on a unit (a replacement, or one of a fleet) through the very
// command handlers the prompt uses.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/settings_file.h"
#include "base/files.h"
#include "base/console.h"
#include "base/results.h"
#include "base/text.h"
#include "base/version.h"
#include "config/queries.h"
#include "link/command_registry.h"
#include "link/transport.h"
#include "reports/status_report.h"

namespace {

constexpr uint8_t NC4100 = 1, NC350 = 2, NC210 = 4, EVERY_MODEL = 7;

// How a value is checked in a file and compared with the device's.
enum class ValueKind { DECIMAL, WORDS, VARIATION, SENTENCES };

using Reader = bool (*)(DeviceRecord&, std::string*);

// One setting: the command words before its value, where it exists, and how
// its value is read, checked and compared.
struct SettingKind {
    const char* name;
    uint8_t models;
    bool extended_only; // needs the extended firmware
    bool next_start;    // takes effect when the device starts again
    ValueKind kind;
    double low, high;   // DECIMAL: the range the command takes
    int decimals;       // DECIMAL: as saved; half a unit of the last place is equal
    std::initializer_list<const char*> words; // WORDS: the values it takes
    Reader read;
};

std::string decimal_text(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---- reading the device's values, as the words of its command

bool read_rotation(DeviceRecord& device, int axis, std::string* value) {
    float parts[3] = {};
    if (cfg_get_rotation_offset(device, &parts[0], &parts[1], &parts[2]) < 0)
        return false;
    *value = decimal_text(parts[axis], 2);
    return true;
}
bool read_roll(DeviceRecord& device, std::string* value) { return read_rotation(device, 0, value); }
bool read_pitch(DeviceRecord& device, std::string* value) { return read_rotation(device, 1, value); }
bool read_heading(DeviceRecord& device, std::string* value) { return read_rotation(device, 2, value); }

bool read_vertical(DeviceRecord& device, std::string* value) {
    float metres = 0;
    if (cfg_get_vertical_offset(device, &metres) < 0)
        return false;
    *value = decimal_text(metres, 1); // the device keeps decimetres
    return true;
}

bool read_filter(DeviceRecord& device, std::string* value) {
    float seconds = 0;
    if (cfg_get_filter_time(device, &seconds) < 0)
        return false;
    *value = decimal_text(seconds, 1);
    return true;
}

bool read_calibration(DeviceRecord& device, std::string* value) {
    uint32_t mode = 0;
    if (cfg_get_calibration_mode(device, &mode) < 0)
        return false;
    const bool nc4100 = model_is(device, "NC-4100");
    if (mode == 0)
        *value = nc4100 ? "standard" : "on";
    else if (mode == 1 && nc4100)
        *value = "adaptive";
    else if (mode == 7)
        *value = "off";
    else
        return false;
    return true;
}

std::string trimmed(std::string text) {
    const size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

bool read_options(DeviceRecord& device, std::string* value) {
    char text[CALIBRATION_OPTIONS_TEXT_SIZE] = {};
    if (cfg_format_calibration_options(device, text, sizeof text, /*verbose=*/false) < 0)
        return false;
    *value = trimmed(text);
    return true;
}

bool read_variation(DeviceRecord& device, std::string* value) {
    uint32_t source = 0;
    float degrees = 0;
    const char* name = "";
    if (cfg_get_variation(device, &source, &degrees, &name) < 0 ||
        source == VARIATION_SOURCE_UNKNOWN)
        return false;
    *value = name;
    if (source == VARIATION_SOURCE_USER)
        *value += " " + decimal_text(degrees, 1);
    return true;
}

bool read_receivers(DeviceRecord& device, std::string* value) {
    const char* names = "";
    cfg_get_gnss_receivers(device, &names);
    *value = trimmed(names);
    return !value->empty();
}

bool read_nmea_baud(DeviceRecord& device, std::string* value) {
    uint32_t baud = 0;
    if (cfg_get_nmea_baudrate(device, &baud) < 0)
        return false;
    *value = std::to_string(baud);
    return true;
}

// As "nmea0183 sentences" lists them: a talker that cannot be changed is left out.
std::string sentence_item(const SentenceEntry& entry) {
    const std::string talker = std::strchr(entry.talker, '-') ? "" : entry.talker;
    return talker + entry.formatter + ":" + std::to_string(entry.interval);
}

bool read_sentences(DeviceRecord& device, std::string* value) {
    std::vector<SentenceEntry> list;
    if (cfg_get_sentences(device, &list) < 0 || list.empty())
        return false;
    value->clear();
    for (const SentenceEntry& entry : list)
        *value += (value->empty() ? "" : " ") + sentence_item(entry);
    return true;
}

bool read_bus(DeviceRecord& device, std::string* value) {
    uint32_t state = 0;
    if (cfg_get_bus_termination(device, &state) < 0)
        return false;
    *value = state != 0 ? "term" : "open";
    return true;
}

// In the order they are saved and put on a unit.
const SettingKind setting_kinds[] = {
    {"roll offset", NC4100 | NC350, false, false, ValueKind::DECIMAL, -180, 180, 2, {}, read_roll},
    {"pitch offset", NC4100 | NC350, false, false, ValueKind::DECIMAL, -180, 180, 2, {}, read_pitch},
    {"heading offset", NC4100 | NC350, false, false, ValueKind::DECIMAL, -180, 180, 2, {}, read_heading},
    {"vertical offset", NC4100 | NC350, false, false, ValueKind::DECIMAL, -3200, 3200, 1, {}, read_vertical},
    {"attitude filter", NC4100 | NC350, true, false, ValueKind::DECIMAL, 0, 9.9, 1, {}, read_filter},
    // "on" is the NC-350's name for the NC-4100's "standard": either model takes both.
    {"deviation calibration", NC4100, true, false, ValueKind::WORDS, 0, 0, 0,
     {"standard", "adaptive", "on", "off"}, read_calibration},
    {"deviation calibration", NC350, false, false, ValueKind::WORDS, 0, 0, 0,
     {"standard", "adaptive", "on", "off"}, read_calibration},
    {"deviation options", NC4100 | NC350, true, false, ValueKind::WORDS, 0, 0, 0,
     {"5deg", "pause", "none"}, read_options},
    {"variation source", NC350, false, false, ValueKind::VARIATION, -180, 180, 1, {}, read_variation},
    {"gnss receiver", NC4100 | NC210, false, true, ValueKind::WORDS, 0, 0, 0,
     {"gps", "qzss", "sbas", "beidou", "glonass"}, read_receivers},
    {"nmea0183 baudrate", NC350, false, true, ValueKind::WORDS, 0, 0, 0, {"4800", "38400"},
     read_nmea_baud},
    {"nmea0183 sentences", EVERY_MODEL, true, false, ValueKind::SENTENCES, 0, 0, 0, {},
     read_sentences},
    {"nmea2000 bus", NC350 | NC210, false, false, ValueKind::WORDS, 0, 0, 0, {"term", "open"},
     read_bus},
};

uint8_t model_bit(const char* model) {
    if (model_is(model, "NC-4100"))
        return NC4100;
    if (model_is(model, "NC-350"))
        return NC350;
    return model_is(model, "NC-210") ? NC210 : 0;
}

bool exists_on(const SettingKind& kind, const DeviceRecord& device) {
    return (kind.models & model_bit(device.model_name)) != 0 &&
           (!kind.extended_only || extended_firmware(device));
}

// ---- the words of a line

std::vector<std::string> words_of(const std::string& text) {
    char line[SETTINGS_LINE_MAX + 1] = {};
    std::memcpy(line, text.data(), std::min<size_t>(text.size(), SETTINGS_LINE_MAX));
    char* words[MAX_COMMAND_WORDS + 1];
    const int count = split_command_line(line, words, MAX_COMMAND_WORDS + 1);
    return std::vector<std::string>(words, words + count);
}

std::string lower(std::string text) {
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

// The setting a line sets (its first two words, the command name exact as at
// the prompt), for this device or, with other_model, for any; nullptr if none.
const SettingKind* kind_of(const std::vector<std::string>& words, const DeviceRecord& device,
                           bool other_model = false) {
    if (words.size() < 2)
        return nullptr;
    const std::string name = words[0] + " " + lower(words[1]);
    for (const SettingKind& kind : setting_kinds) {
        if (name == kind.name && (other_model || exists_on(kind, device)))
            return &kind;
    }
    return nullptr;
}

// A number and nothing else: "1.5abc" is no number.
bool whole_decimal(const std::string& word, double* value) {
    if (word.empty())
        return false;
    char* end = nullptr;
    *value = std::strtod(word.c_str(), &end);
    return *end == '\0' && std::isfinite(*value);
}

bool sentence_item_valid(const std::string& item) {
    const size_t colon = item.find(':');
    if (colon != 3 && colon != 5)
        return false;
    for (size_t i = 0; i < colon; ++i) {
        if (!std::isalpha(static_cast<unsigned char>(item[i])))
            return false;
    }
    uint32_t interval = 0;
    return read_u32(item.c_str() + colon + 1, &interval) && interval % 25 == 0;
}

// Why the value words do not suit the setting; empty when they do.
std::string value_fault(const SettingKind& kind, const std::vector<std::string>& value) {
    if (value.empty())
        return "no value";
    double number = 0;
    switch (kind.kind) {
    case ValueKind::DECIMAL:
        if (value.size() != 1 || !whole_decimal(value[0], &number))
            return "not a number: " + value[0];
        if (number < kind.low || number > kind.high + 1e-9)
            return "out of range: " + value[0];
        return "";
    case ValueKind::VARIATION:
        if (value.size() == 1 && (equals_ignore_case(value[0].c_str(), "auto") ||
                                  equals_ignore_case(value[0].c_str(), "off")))
            return "";
        if (value.size() != 2 || !equals_ignore_case(value[0].c_str(), "user"))
            return "illegal value: " + value[0];
        if (!whole_decimal(value[1], &number) || std::fabs(number) > kind.high)
            return "illegal variation: " + value[1];
        return "";
    case ValueKind::WORDS:
        for (const std::string& word : value) {
            const bool known = std::any_of(kind.words.begin(), kind.words.end(), [&](const char* w) {
                return equals_ignore_case(word.c_str(), w);
            });
            if (!known)
                return "illegal value: " + word;
        }
        return "";
    case ValueKind::SENTENCES:
        for (const std::string& item : value) {
            if (!sentence_item_valid(item))
                return "not a sentence and interval: " + item;
        }
        return "";
    }
    return "";
}

// ---- comparing

std::vector<std::string> sorted_lower(const std::vector<std::string>& words) {
    std::vector<std::string> result;
    for (const std::string& word : words)
        result.push_back(lower(word) == "on" ? "standard" : lower(word));
    std::sort(result.begin(), result.end());
    return result;
}

bool numbers_equal(const std::string& a, const std::string& b, int decimals) {
    double x = 0, y = 0;
    return whole_decimal(a, &x) && whole_decimal(b, &y) &&
           std::fabs(x - y) < 0.5 * std::pow(10.0, -decimals) + 1e-9;
}

bool values_equal(const SettingKind& kind, const std::vector<std::string>& device,
                  const std::vector<std::string>& file) {
    switch (kind.kind) {
    case ValueKind::DECIMAL:
        return device.size() == 1 && file.size() == 1 &&
               numbers_equal(device[0], file[0], kind.decimals);
    case ValueKind::VARIATION:
        return device.size() == file.size() && !device.empty() &&
               equals_ignore_case(device[0].c_str(), file[0].c_str()) &&
               (device.size() == 1 || numbers_equal(device[1], file[1], kind.decimals));
    case ValueKind::WORDS:
    case ValueKind::SENTENCES: // compared sentence by sentence instead
        return sorted_lower(device) == sorted_lower(file);
    }
    return false;
}

// One item of the sentence table: "HEHDT:100" or, without a talker, "GSV:1000".
struct SentenceItem {
    std::string talker, formatter, interval;
};

// The sentence table by formatter. The sentences a file names replace the
// whole table, so one it leaves out is sent at interval 0.
std::map<std::string, SentenceItem> sentence_map(const std::vector<std::string>& items) {
    std::map<std::string, SentenceItem> table;
    for (const std::string& item : items) {
        const size_t colon = item.find(':');
        if (colon == 3 || colon == 5)
            table[item.substr(colon - 3, 3)] = {item.substr(0, colon - 3),
                                                item.substr(colon - 3, 3), item.substr(colon + 1)};
    }
    return table;
}

std::string item_text(const SentenceItem& item) {
    return item.talker + item.formatter + ":" + item.interval;
}

// A talker the file leaves out is whatever the unit has.
bool items_equal(const SentenceItem& device, const SentenceItem& file) {
    return std::strtoul(device.interval.c_str(), nullptr, 10) ==
               std::strtoul(file.interval.c_str(), nullptr, 10) &&
           (file.talker.empty() || device.talker.empty() || lower(device.talker) == lower(file.talker));
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

// One setting of the file beside the device's value.
struct Pair {
    const SettingKind* kind;
    std::vector<std::string> file;
    std::vector<std::string> device;
    uint32_t line = 0; // in the file
};

std::vector<std::string> sentence_differences(const Pair& pair, uint32_t* count) {
    std::vector<std::string> lines;
    const auto file = sentence_map(pair.file);
    for (const auto& [formatter, item] : sentence_map(pair.device)) {
        ++*count;
        const auto in_file = file.find(formatter);
        const SentenceItem wanted =
            in_file != file.end() ? in_file->second : SentenceItem{"", formatter, "0"};
        if (!items_equal(item, wanted))
            lines.push_back("nmea0183 sentence " + formatter + ": device " + item_text(item) +
                            ", file " + item_text(wanted));
    }
    return lines;
}

// What differs, one line each; the sentence table sentence by sentence. The
// number of settings compared is added to count.
std::vector<std::string> differences(const Pair& pair, uint32_t* count) {
    if (pair.kind->kind == ValueKind::SENTENCES)
        return sentence_differences(pair, count);
    ++*count;
    if (values_equal(*pair.kind, pair.device, pair.file))
        return {};
    return {std::string(pair.kind->name) + ": device " + joined(pair.device) + ", file " +
            joined(pair.file)};
}

// ---- the file against the device

struct Checked {
    std::vector<Pair> settings;       // in the file's order
    std::vector<std::string> skipped; // with -f: what this unit does not have
};

bool refuse(const std::string& message) {
    out_print(LEVEL_ERROR, "%s\n", message.c_str());
    return false;
}

std::string line_error(const SettingsLine& line, const std::string& what) {
    return "Error: line " + std::to_string(line.number) + ": " + what;
}

// The file is for this model (with force, another model's file gives the
// settings this unit has), and every line is a setting with a value it
// takes. Nothing is sent to the device here.
bool check_against(const SettingsFile& file, const DeviceRecord& device, bool force,
                   Checked* checked) {
    const char* model = device.model_name ? device.model_name : "?";
    if (file.model.empty())
        return refuse("Error: not a settings file: no \"# model:\" line");
    if (!model_is(model, file.model.c_str()) && !force)
        return refuse("Error: the file is for an " + file.model + ", this is an " + model +
                      " (-f loads the settings they share)");
    for (const SettingsLine& line : file.lines) {
        const std::vector<std::string> words = words_of(line.text);
        if (words.size() > static_cast<size_t>(MAX_COMMAND_WORDS))
            return refuse(line_error(line, "more than 32 words"));
        const SettingKind* kind = kind_of(words, device);
        if (!kind && kind_of(words, device, /*other_model=*/true) && force) {
            checked->skipped.push_back(line.text);
            continue;
        }
        if (!kind && kind_of(words, device, /*other_model=*/true))
            return refuse(line_error(line, "this unit has no such setting: " + line.text));
        if (!kind)
            return refuse(line_error(line, "not a setting: " + line.text +
                                               " (a settings file holds only setting commands)"));
        const std::vector<std::string> value(words.begin() + 2, words.end());
        const std::string fault = value_fault(*kind, value);
        if (!fault.empty())
            return refuse(line_error(line, std::string(kind->name) + ": " + fault));
        checked->settings.push_back({kind, value, {}, line.number});
    }
    return true;
}

bool read_device_values(DeviceRecord& device, std::vector<Pair>* settings) {
    for (Pair& pair : *settings) {
        std::string value;
        if (!pair.kind->read(device, &value))
            return refuse(std::string("Error: cannot read ") + pair.kind->name + " from the device");
        pair.device = words_of(value);
    }
    return true;
}

struct Outcome {
    uint32_t compared = 0;
    std::vector<std::string> differing;
};

Outcome compare_all(const std::vector<Pair>& settings) {
    Outcome outcome;
    for (const Pair& pair : settings) {
        for (const std::string& line : differences(pair, &outcome.compared))
            outcome.differing.push_back(line);
    }
    return outcome;
}

void print_outcome(const Outcome& outcome, const char* verdict) {
    for (const std::string& line : outcome.differing)
        std::printf("  %s\n", line.c_str());
    if (outcome.differing.empty())
        std::printf("All %u settings %s\n", outcome.compared, verdict);
    else
        std::printf("%zu of %u settings differ\n", outcome.differing.size(), outcome.compared);
}

void print_skipped(const std::vector<std::string>& skipped) {
    for (const std::string& line : skipped)
        std::printf("Not on this unit, skipped: %s\n", line.c_str());
}

// ---- save

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[40] = "?";
    if (utc)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc);
    return text;
}

std::string header(const DeviceRecord& device) {
    const uint32_t part = ident_part_number(device);
    const uint16_t version = ident_software(device, 0).version;
    char text[512];
    std::snprintf(text, sizeof text,
                  "# NC-Service Tool settings file\n"
                  "# model: %s\n"
                  "# part number: %02u-%06u\n"
                  "# serial number: %08u\n"
                  "# software version: %u.%02u\n"
                  "# saved: %s\n"
                  "# tool version: %u.%02u\n",
                  device.model_name ? device.model_name : "?", part_prefix(part),
                  part_number_low(part), ident_serial(device), version_major(version),
                  version_minor(version), utc_now().c_str(), TOOL_VERSION_MAJOR, TOOL_VERSION_MINOR);
    return text;
}

// The calibration text of the status report on one line, without its level.
std::string one_line(std::string text) {
    std::string line;
    bool space = false;
    for (char ch : text) {
        const bool blank = ch == ' ' || ch == '\n' || ch == '\r' || ch == '\t';
        if (blank && !line.empty())
            space = true;
        else if (!blank) {
            line += space ? std::string(" ") + ch : std::string(1, ch);
            space = false;
        }
    }
    for (const char* level : {"Info ", "Warning "}) {
        if (line.rfind(level, 0) == 0)
            line.erase(0, std::strlen(level));
    }
    return line;
}

// What belongs to the unit, not to the installation: told, never loaded.
std::string unit_notes(DeviceRecord& device) {
    if (model_is(device, "NC-210"))
        return ""; // no compass, no levelling
    std::string notes = "#\n# Of this unit only, not put on another (run these on the new unit):\n";
    if (shell_transact(device, "hsiron\r", shell_reply_buffer, SHELL_REPLY_SIZE,
                       link_timeout_ms(device)) > 0)
        notes += "#   " + one_line(hsiron_text(shell_reply_buffer)) +
                 " (the compass calibrates itself on the calibration pattern)\n";
    float roll = 0, pitch = 0;
    if (cfg_get_autolevel_offset(device, &roll, &pitch) == 0)
        notes += "#   autolevel offsets: roll " + decimal_text(roll, 2) + ", pitch " +
                 decimal_text(pitch, 2) + " degrees: run 'autolevel run' on the new unit\n";
    return notes;
}

// The sentence table fits a line: the disabled ones go first if it must.
std::string sentences_line(const std::string& value) {
    const std::string line = std::string("nmea0183 sentences ") + value;
    const std::vector<std::string> items = words_of(value);
    if (line.size() <= SETTINGS_LINE_MAX && items.size() + 2 <= MAX_COMMAND_WORDS)
        return line;
    std::string enabled;
    for (const std::string& item : items) {
        if (item.size() < 2 || item.substr(item.size() - 2) != ":0")
            enabled += " " + item;
    }
    return "nmea0183 sentences" + enabled;
}

int32_t save_settings(DeviceRecord& device, const std::string& path) {
    std::string text = header(device);
    std::string lines;
    uint32_t count = 0;
    for (const SettingKind& kind : setting_kinds) {
        if (!exists_on(kind, device))
            continue;
        std::string value;
        if (!kind.read(device, &value)) {
            out_print(LEVEL_ERROR, "Error: cannot read %s from the device, nothing saved\n",
                      kind.name);
            return device.link.port_failed ? RESULT_PORT_ERROR : RESULT_NO_REPLY;
        }
        lines += kind.kind == ValueKind::SENTENCES ? sentences_line(value)
                                                   : std::string(kind.name) + " " + value;
        lines += "\n";
        ++count;
    }
    text += unit_notes(device) + "\n" + lines;
    std::string error;
    if (!write_file_whole(path, text, &error)) {
        out_print(LEVEL_ERROR, "%s\n", error.c_str());
        return RESULT_FAILED;
    }
    std::printf("%u settings of the %s (serial:%08u) saved to %s\n", count,
                device.model_name ? device.model_name : "?", ident_serial(device), path.c_str());
    return 0;
}

// ---- compare and load

bool read_checked(DeviceRecord& device, const std::string& path, bool force, Checked* checked) {
    SettingsFile file;
    std::string error;
    if (!read_settings_file(path, &file, &error))
        return refuse(error);
    if (!check_against(file, device, force, checked))
        return false;
    if (checked->settings.empty())
        return refuse("Error: " + path + " holds no setting for this unit");
    return true;
}

int32_t lost_or(DeviceRecord& device, int32_t otherwise) {
    return device.link.port_failed ? RESULT_PORT_ERROR : otherwise;
}

int32_t compare_settings(DeviceRecord& device, const std::string& path, bool force) {
    Checked checked;
    if (!read_checked(device, path, force, &checked))
        return RESULT_USAGE;
    print_skipped(checked.skipped);
    if (!read_device_values(device, &checked.settings))
        return lost_or(device, RESULT_NO_REPLY);
    const Outcome outcome = compare_all(checked.settings);
    print_outcome(outcome, "match");
    return outcome.differing.empty() ? 0 : RESULT_SETTINGS_DIFFER;
}

// Runs one line of the file as the prompt would run it.
int32_t apply_line(DeviceRecord& device, uint32_t number, const std::string& text) {
    std::printf("line %u: %s\n", number, text.c_str());
    std::fflush(stdout);
    std::vector<std::string> words = words_of(text);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    const CommandEntry* command = find_command(argv[0]);
    link_purge(device.link);
    return command ? command->handler(device, static_cast<int32_t>(argv.size()), argv.data())
                   : RESULT_UNKNOWN_COMMAND;
}

void print_next_start(const std::vector<Pair>& settings) {
    std::string names;
    for (const Pair& pair : settings) {
        if (pair.kind->next_start)
            names += (names.empty() ? "" : ", ") + std::string(pair.kind->name);
    }
    if (!names.empty())
        std::printf("Takes effect when the device is rebooted: %s\n", names.c_str());
}

int32_t load_settings(DeviceRecord& device, const std::string& path, bool force) {
    Checked checked;
    if (!read_checked(device, path, force, &checked))
        return RESULT_USAGE;
    print_skipped(checked.skipped);
    for (const Pair& pair : checked.settings) {
        const int32_t result =
            apply_line(device, pair.line, std::string(pair.kind->name) + " " + joined(pair.file));
        if (result == RESULT_PORT_ERROR || result == RESULT_DEVICE_LOST || device.link.port_failed)
            return lost_or(device, result);
    }
    std::printf("\n");
    if (!read_device_values(device, &checked.settings))
        return lost_or(device, RESULT_NO_REPLY);
    const Outcome outcome = compare_all(checked.settings);
    if (!outcome.differing.empty())
        std::printf("Did not take:\n");
    print_outcome(outcome, "now match the file");
    print_next_start(checked.settings);
    return outcome.differing.empty() ? 0 : RESULT_SETTINGS_DIFFER;
}

int32_t settings_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (cfg_protocol_check(device) < 0)
        return RESULT_UNSUPPORTED_PROTOCOL;
    const bool force = argc >= 3 && std::strcmp(argv[2], "-f") == 0;
    const int32_t path_at = force ? 3 : 2;
    const char* action = argc >= 2 ? argv[1] : "";
    const bool known = equals_ignore_case(action, "save") || equals_ignore_case(action, "compare") ||
                       equals_ignore_case(action, "load");
    if (!known || argc != path_at + 1 || (force && equals_ignore_case(action, "save"))) {
        out_print(LEVEL_ERROR, "Error: usage: settings save <file> | settings compare [-f] <file> | "
                               "settings load [-f] <file>\n");
        return RESULT_USAGE;
    }
    const std::string path = argv[path_at];
    if (equals_ignore_case(action, "save"))
        return save_settings(device, path);
    if (equals_ignore_case(action, "compare"))
        return compare_settings(device, path, force);
    return load_settings(device, path, force);
}

} // namespace

REGISTER_COMMAND("settings", settings_command);
