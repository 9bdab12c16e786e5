#include "sim/control.h"

#include <cerrno>
#include <cstdlib>

#include "sim/shell.h"

namespace sim {
namespace {

struct ControlEntry {
    const char* name;
    size_t min_args;
    size_t max_args;
    ControlTarget target;
    const char* usage;
};

constexpr size_t MANY = 64;

const ControlEntry control_table[] = {
    {"corrupt", 1, 1, ControlTarget::FAULTS,
     "corrupt RATE        send this share (0-1) of sentences with a wrong checksum"},
    {"noise", 1, 1, ControlTarget::FAULTS,
     "noise RATE          precede this share (0-1) of sentences with line noise"},
    {"delay", 1, 1, ControlTarget::FAULTS,
     "delay MS            delay every shell and frame reply by MS"},
    {"drop", 1, 1, ControlTarget::FAULTS, "drop N              do not send the next N replies"},
    {"fail", 2, MANY, ControlTarget::FAULTS,
     "fail STATUS WORDS   refuse command lines starting with WORDS with STATUS (0 clears)"},
    {"skip-segment", 1, 2, ControlTarget::FAULTS,
     "skip-segment N [K]  no answer to image segment N in the next K loads (1)"},
    {"short-answer", 1, 2, ControlTarget::FAULTS,
     "short-answer begin|segment|end [K]  the next K such answers lose their last two bytes (1)"},
    {"bad-crc", 1, 1, ControlTarget::FAULTS,
     "bad-crc K           wrong CRC at load end in the next K loads"},
    {"stay-down", 1, 1, ControlTarget::FAULTS,
     "stay-down on|off    after a reboot stay silent until \"wake\""},
    {"no-console", 1, 1, ControlTarget::FAULTS,
     "no-console on|off   a CR after \"exit\" does not open the plain console"},
    {"post-fail", 1, 1, ControlTarget::FAULTS,
     "post-fail on|off    the self test reports a failure"},
    {"events", 1, 1, ControlTarget::FAULTS, "events on|off       system events are active"},
    {"clear", 0, 0, ControlTarget::FAULTS, "clear               remove every fault"},
    {"wake", 0, 0, ControlTarget::DEVICE,
     "wake                bring a device that stayed down back"},
    {"reboot", 0, 0, ControlTarget::DEVICE, "reboot              power-cycle the device now"},
    {"reboot-time", 1, 1, ControlTarget::DEVICE,
     "reboot-time MS      how long a reboot keeps the device silent"},
    {"nmea", 1, 1, ControlTarget::DEVICE, "nmea on|off         NMEA output on or off"},
    {"still", 1, 3, ControlTarget::DEVICE,
     "still H R P | off   the ship lies still at heading H, roll R, pitch P (degrees)"},
    {"status", 0, 0, ControlTarget::DEVICE,
     "status              print the device state on standard error"},
    {"hangup", 0, 1, ControlTarget::WIRE,
     "hangup [MS]         close the pty; with MS come back after MS on a new one"},
    {"back", 0, 0, ControlTarget::WIRE,
     "back                come back on a new pty (the --link symlink follows)"},
    {"help", 0, 0, ControlTarget::WIRE, "help                list the control lines"},
};

const ControlEntry* find_entry(const std::string& name) {
    for (const ControlEntry& entry : control_table) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

bool set_count(const std::string& text, uint32_t* field, std::string* error) {
    if (parse_u32(text, field))
        return true;
    *error = "not a number: " + text;
    return false;
}

bool set_rate(const std::string& text, double* field, std::string* error) {
    if (parse_rate(text, field))
        return true;
    *error = "rate must lie within 0 to 1: " + text;
    return false;
}

bool set_flag(const std::string& text, bool* field, std::string* error) {
    if (parse_on_off(text, field))
        return true;
    *error = "expected on or off: " + text;
    return false;
}

bool set_failing(Faults& faults, const std::vector<std::string>& args, std::string* error) {
    uint32_t status = 0;
    if (!set_count(args[0], &status, error))
        return false;
    const std::vector<std::string> words(args.begin() + 1, args.end());
    std::erase_if(faults.failing, [&](const auto& entry) { return entry.first == words; });
    if (status != 0)
        faults.failing.emplace_back(words, status);
    return true;
}

bool set_skip_segment(Faults& faults, const std::vector<std::string>& args, std::string* error) {
    uint32_t segment = 0;
    uint32_t loads = 1;
    if (!set_count(args[0], &segment, error) ||
        (args.size() > 1 && !set_count(args[1], &loads, error)))
        return false;
    faults.silent_segment = segment;
    faults.silent_segment_loads = segment == 0 ? 0 : loads;
    return true;
}

// The answer without its cause (load begin, segment) or without its CRC (load end).
bool set_short_answer(Faults& faults, const std::vector<std::string>& args, std::string* error) {
    static const std::pair<const char*, uint8_t> kinds[] = {
        {"begin", 0x14}, {"segment", 0x16}, {"end", 0x18}};
    uint32_t count = 1;
    if (args.size() > 1 && !set_count(args[1], &count, error))
        return false;
    for (const auto& [name, type] : kinds) {
        if (args[0] == name) {
            faults.short_answers[type] = count;
            return true;
        }
    }
    *error = "expected begin, segment or end: " + args[0];
    return false;
}

// The faults that are one plain value.
struct FaultField {
    const char* name;
    double Faults::*rate;
    uint32_t Faults::*count;
    bool Faults::*flag;
};

const FaultField fault_fields[] = {
    {"corrupt", &Faults::corrupt_rate, nullptr, nullptr},
    {"noise", &Faults::noise_rate, nullptr, nullptr},
    {"delay", nullptr, &Faults::reply_delay_ms, nullptr},
    {"drop", nullptr, &Faults::drop_replies, nullptr},
    {"bad-crc", nullptr, &Faults::bad_crc_loads, nullptr},
    {"stay-down", nullptr, nullptr, &Faults::stay_down},
    {"no-console", nullptr, nullptr, &Faults::no_console},
    {"post-fail", nullptr, nullptr, &Faults::post_fail},
    {"events", nullptr, nullptr, &Faults::events_active},
};

bool set_field(Faults& faults, const FaultField& field, const std::string& value,
               std::string* error) {
    if (field.rate)
        return set_rate(value, &(faults.*field.rate), error);
    if (field.count)
        return set_count(value, &(faults.*field.count), error);
    return set_flag(value, &(faults.*field.flag), error);
}

} // namespace

std::optional<uint32_t> Faults::failure_for(const std::string& line) const {
    const std::vector<std::string> words = split_words(line);
    for (const auto& [prefix, status] : failing) {
        if (prefix.size() <= words.size() &&
            std::equal(prefix.begin(), prefix.end(), words.begin()))
            return status;
    }
    return std::nullopt;
}

std::optional<ControlCommand> parse_control_line(const std::string& line, std::string* error) {
    std::vector<std::string> words = split_words(line);
    if (words.empty() || words[0][0] == '#')
        return ControlCommand{};
    const ControlEntry* entry = find_entry(words[0]);
    if (!entry) {
        *error = "unknown control line: " + words[0];
        return std::nullopt;
    }
    const size_t count = words.size() - 1;
    if (count < entry->min_args || count > entry->max_args) {
        *error = std::string("usage: ") + entry->usage;
        return std::nullopt;
    }
    return ControlCommand{words[0], std::vector<std::string>(words.begin() + 1, words.end()),
                          entry->target};
}

bool apply_fault(Faults& faults, const ControlCommand& command, std::string* error) {
    for (const FaultField& field : fault_fields) {
        if (command.name == field.name)
            return set_field(faults, field, command.args[0], error);
    }
    if (command.name == "fail")
        return set_failing(faults, command.args, error);
    if (command.name == "skip-segment")
        return set_skip_segment(faults, command.args, error);
    if (command.name == "short-answer")
        return set_short_answer(faults, command.args, error);
    if (command.name == "clear") {
        faults = Faults{};
        return true;
    }
    *error = "not a fault: " + command.name;
    return false;
}

std::string control_help() {
    std::string text;
    for (const ControlEntry& entry : control_table)
        text += std::string("  ") + entry.usage + "\n";
    return text;
}

bool parse_u32(const std::string& text, uint32_t* value) {
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > UINT32_MAX)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool parse_rate(const std::string& text, double* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(parsed >= 0.0 && parsed <= 1.0))
        return false;
    *value = parsed;
    return true;
}

bool parse_on_off(const std::string& text, bool* value) {
    if (text == "on" || text == "1") {
        *value = true;
        return true;
    }
    if (text == "off" || text == "0") {
        *value = false;
        return true;
    }
    return false;
}

} // namespace sim
