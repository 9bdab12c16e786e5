#include "sim/shell.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "link/identity.h"
#include "sim/diag.h"
#include "sim/format.h"

namespace sim {
namespace {

using Words = std::vector<std::string>;

CommandResult ok(std::string output = {}) {
    return {std::move(output), STATUS_OK};
}
CommandResult refused(const char* why) {
    return {format("Error: %s\r\n", why), STATUS_REFUSED};
}
CommandResult usage(const char* text) {
    return {format("usage: %s\r\n", text), STATUS_USAGE};
}
CommandResult unsupported() {
    return {"Error: not supported by this device\r\n", STATUS_UNSUPPORTED};
}

bool parse_long(const std::string& text, int base, long* value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, base);
    return errno == 0 && *end == '\0';
}

bool parse_in_range(const std::string& text, long low, long high, long* value, int base = 10) {
    return parse_long(text, base, value) && *value >= low && *value <= high;
}

bool has(const ShellContext& c, uint32_t feature) {
    return (c.profile->features & feature) != 0;
}

bool extended(const ShellContext& c) {
    return is_extended_version(c.identity->application.version);
}

// ---- cfg: one handler per setting; args are the words after the two letters.

CommandResult cfg_version(ShellContext& c, const Words& args) {
    if (!args.empty())
        return usage("cfg v");
    return ok(format("%u %u\r\n", c.protocol_version, 1u));
}

CommandResult cfg_factory(ShellContext& c, const Words& args) {
    if (!args.empty())
        return usage("cfg f");
    c.config->factory_pending = true;
    return ok("Factory default configuration at the next start\r\n");
}

CommandResult cfg_termination(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_N2K))
        return unsupported();
    if (args.empty())
        return ok(format("%x\r\n", c.config->termination));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 10, &value))
        return usage("cfg c t [0|1]");
    if (value != 0 && value != 1)
        return refused("termination must be 0 (open) or 1 (terminated)");
    c.config->termination = static_cast<uint32_t>(value);
    return ok();
}

CommandResult cfg_gnss(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_GNSS))
        return unsupported();
    if (args.empty())
        return ok(format("%x\r\n", c.config->gnss_mask));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 10, &value))
        return usage("cfg g s [mask]");
    if (value < 0 || !valid_gnss_mask(static_cast<uint32_t>(value)))
        return refused("receiver combination not supported");
    c.config->gnss_mask = static_cast<uint32_t>(value);
    return ok("GNSS receivers change at the next start\r\n");
}

CommandResult cfg_calibration_mode(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_HEADING))
        return unsupported();
    if (args.empty())
        return ok(format("%u\r\n", c.config->calibration_mode));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 10, &value))
        return usage("cfg h m [0|1|7]");
    if (value < 0 || !valid_calibration_mode(static_cast<uint32_t>(value)))
        return refused("mode must be 0, 1 or 7");
    c.config->calibration_mode = static_cast<uint32_t>(value);
    return ok();
}

CommandResult cfg_calibration_options(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_HEADING))
        return unsupported();
    if (args.empty())
        return ok(format("%x\r\n", c.config->calibration_options));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 16, &value))
        return usage("cfg h o [hex]");
    if (value < 0 || value > 0xFF)
        return refused("options are one byte");
    c.config->calibration_options = static_cast<uint32_t>(value);
    return ok();
}

CommandResult cfg_calibration_reset(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_HEADING))
        return unsupported();
    if (!args.empty())
        return usage("cfg h r");
    *c.calibration = Calibration{};
    c.calibration->completed = false;
    c.calibration->count = 0;
    c.calibration->score = 0;
    c.calibration->reset_at = c.uptime;
    return ok("Deviation calibration data cleared\r\n");
}

CommandResult cfg_variation(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_VARIATION))
        return unsupported();
    DeviceConfig& config = *c.config;
    if (args.empty()) {
        const long shown = config.variation_source == VARIATION_AUTO   ? 340
                           : config.variation_source == VARIATION_USER ? config.variation_user
                                                                       : 0;
        return ok(format("%u %ld\r\n", config.variation_source, shown));
    }
    long source = 0;
    long value = config.variation_user;
    if (args.size() > 2 || !parse_long(args[0], 10, &source) ||
        (args.size() == 2 && !parse_long(args[1], 10, &value)))
        return usage("cfg a v [source [hundredths]]");
    if (source < 0 || source > 3)
        return refused("source must be 0 to 3");
    if (args.size() == 2 && source != VARIATION_USER)
        return refused("a value is only given with source 1 (user)");
    if (value < -18000 || value > 18000)
        return refused("variation must lie within -180.00 to 180.00 degrees");
    config.variation_source = static_cast<uint32_t>(source);
    config.variation_user = static_cast<int32_t>(value);
    return ok();
}

CommandResult cfg_filter(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_HEADING))
        return unsupported();
    if (args.empty())
        return ok(format("%u\r\n", c.config->filter_time));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 10, &value))
        return usage("cfg a f [tenths]");
    if (value < 0 || value > 99)
        return refused("time constant must lie within 0 to 99 tenths of a second");
    c.config->filter_time = static_cast<uint32_t>(value);
    return ok();
}

// Only an NC-4100 before the newer firmware levels with its static offsets;
// every other device keeps a separate autolevel rotation.
bool static_levelling(const ShellContext& c) {
    return has(c, FEATURE_STATIC_LEVELLING) && !extended(c);
}

std::string rotation_text(const ShellContext& c) {
    const DeviceConfig& config = *c.config;
    std::string text =
        format("R %d P %d Y %d\r\n", config.rotation[0], config.rotation[1], config.rotation[2]);
    if (!static_levelling(c)) {
        text += format("Q0 %.6f Q1 %.6f Q2 %.6f Q3 %.6f\r\n", config.autolevel[0],
                       config.autolevel[1], config.autolevel[2], config.autolevel[3]);
    }
    return text;
}

// Both forms hold the correction of the measured tilt: the static offsets
// with their inverted sign, the rotation as it is applied.
CommandResult run_autolevel(ShellContext& c) {
    if (static_levelling(c)) {
        c.config->rotation[0] = static_cast<int32_t>(std::lround(c.level_roll * 100));
        c.config->rotation[1] = static_cast<int32_t>(std::lround(c.level_pitch * 100));
    } else {
        c.config->autolevel = roll_pitch_to_quaternion(-c.level_roll, -c.level_pitch);
    }
    return ok(format("Autolevel: roll %.2f pitch %.2f\r\n", c.level_roll, c.level_pitch));
}

CommandResult cfg_rotation(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_HEADING))
        return unsupported();
    if (args.empty())
        return ok(rotation_text(c));
    if (args.size() == 1 && args[0] == "a")
        return run_autolevel(c);
    if (args.size() == 1 && args[0] == "r") {
        if (static_levelling(c))
            return unsupported();
        c.config->autolevel = {1.0, 0.0, 0.0, 0.0};
        return ok();
    }
    long values[3] = {};
    if (args.size() != 3)
        return usage("cfg m r [R P Y | a | r]");
    for (size_t i = 0; i < 3; ++i) {
        if (!parse_long(args[i], 10, &values[i]))
            return usage("cfg m r [R P Y | a | r]");
        if (values[i] < -18000 || values[i] > 18000)
            return refused("offsets must lie within -180.00 to 180.00 degrees");
    }
    for (size_t i = 0; i < 3; ++i)
        c.config->rotation[i] = static_cast<int32_t>(values[i]);
    return ok();
}

CommandResult cfg_vertical(ShellContext& c, const Words& args) {
    if (!has(c, FEATURE_HEADING))
        return unsupported();
    if (args.empty())
        return ok(format("W %d\r\n", c.config->vertical));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 10, &value))
        return usage("cfg m w [tenths]");
    if (value < -32000 || value > 32000)
        return refused("vertical offset must lie within -3200.0 to 3200.0 m");
    c.config->vertical = static_cast<int32_t>(value);
    return ok();
}

CommandResult cfg_baud(ShellContext& c, const Words& args) {
    if (args.empty())
        return ok(format("%u\r\n", c.config->nmea_baud));
    long value = 0;
    if (args.size() != 1 || !parse_long(args[0], 10, &value))
        return usage("cfg n b [4800|38400]");
    if (value < 0 || !valid_nmea_baud(static_cast<uint32_t>(value)))
        return refused("baud rate must be 4800 or 38400");
    c.config->nmea_baud = static_cast<uint32_t>(value);
    return ok("Baud rate changes at the next start\r\n");
}

std::string sentence_lines(const SentenceTable& table) {
    std::string text;
    for (const SentenceSetting& row : table)
        text += format("%u %s %s %u %u\r\n", row.id, row.talker.c_str(), row.formatter.c_str(),
                       row.interval_ms, row.offset_ms);
    return text;
}

CommandResult set_sentence(ShellContext& c, const Words& args) {
    long id = 0;
    long interval = 0;
    long offset = 0;
    if (!parse_in_range(args[0], 0, UINT32_MAX, &id) ||
        !parse_in_range(args[3], 0, UINT32_MAX, &interval) ||
        !parse_in_range(args[4], 0, UINT32_MAX, &offset))
        return usage("cfg n s id talker formatter interval offset");
    SentenceSetting wanted{static_cast<uint32_t>(id), args[1], args[2],
                           static_cast<uint32_t>(interval), static_cast<uint32_t>(offset)};
    const std::string problem = check_sentence_setting(c.config->sentences, wanted);
    if (!problem.empty())
        return refused(problem.c_str());
    for (SentenceSetting& row : c.config->sentences) {
        if (row.id == wanted.id)
            row = wanted;
    }
    return ok();
}

CommandResult cfg_sentences(ShellContext& c, const Words& args) {
    if (args.empty())
        return ok(sentence_lines(c.config->sentences));
    if (args.size() == 1 && args[0] == "d") {
        c.config->sentences = c.profile->sentences;
        return ok();
    }
    if (args.size() == 1 && args[0] == "w") {
        c.config->saved_sentences = c.config->sentences;
        return ok("Sentence table stored\r\n");
    }
    if (args.size() == 5)
        return set_sentence(c, args);
    return usage("cfg n s [d | w | id talker formatter interval offset]");
}

using CfgHandler = CommandResult (*)(ShellContext&, const Words&);

struct CfgEntry {
    const char* group; // first letter after "cfg"
    const char* item;  // second letter, or "" when the group stands alone
    CfgHandler handler;
};

const CfgEntry cfg_table[] = {
    {"v", "", cfg_version},
    {"f", "", cfg_factory},
    {"c", "t", cfg_termination},
    {"g", "s", cfg_gnss},
    {"h", "m", cfg_calibration_mode},
    {"h", "o", cfg_calibration_options},
    {"h", "r", cfg_calibration_reset},
    {"a", "v", cfg_variation},
    {"a", "f", cfg_filter},
    {"m", "r", cfg_rotation},
    {"m", "w", cfg_vertical},
    {"n", "b", cfg_baud},
    {"n", "s", cfg_sentences},
};

CommandResult cmd_cfg(ShellContext& c, const Words& words) {
    for (const CfgEntry& entry : cfg_table) {
        const bool single = entry.item[0] == '\0';
        if (words.size() < 2 || words[1] != entry.group)
            continue;
        if (single)
            return entry.handler(c, Words(words.begin() + 2, words.end()));
        if (words.size() >= 3 && words[2] == entry.item)
            return entry.handler(c, Words(words.begin() + 3, words.end()));
    }
    return usage("cfg v|f|c t|g s|h m|h o|h r|a v|a f|m r|m w|n b|n s ...");
}

// ---- system commands

std::string software_line(const char* label, const SoftwareInfo& s) {
    return format("%-11s%s %s %s, build %u, tag '%s', hash %08x\r\n", label,
                  format_part_number(s.part_number).c_str(), format_version(s.version).c_str(),
                  release_name(version_release(s.version)), s.build_number,
                  printable(s.build_tag).c_str(), s.build_hash);
}

CommandResult cmd_ver(ShellContext& c, const Words&) {
    const DeviceIdentity& id = *c.identity;
    return ok(format("Product    %s %s\r\nSerial     %08u\r\n", c.profile->name,
                     format_part_number(id.product_part).c_str(), id.serial) +
              software_line("Software", id.application) +
              software_line("Bootloader", id.bootloader));
}

struct PostItem {
    const char* name;
    uint32_t feature; // 0: every model
};

const PostItem post_items[] = {
    {"RAM", 0},
    {"Flash", 0},
    {"Supply voltage", 0},
    {"Gyro", FEATURE_HEADING},
    {"Accelerometer", FEATURE_HEADING},
    {"Magnetometer", FEATURE_HEADING},
    {"GNSS receiver", FEATURE_GNSS},
    {"Barometer", FEATURE_METEO},
    {"CAN controller", FEATURE_N2K},
};

CommandResult cmd_post(ShellContext& c, const Words&) {
    std::string text = "Power on self test\r\n";
    bool failure_shown = false;
    for (const PostItem& item : post_items) {
        if (item.feature != 0 && !has(c, item.feature))
            continue;
        // The injected failure hits the sensor block, as a real one would.
        const bool fail = c.post_fail && !failure_shown && item.feature != 0;
        failure_shown = failure_shown || fail;
        text += format("  %-16s%s\r\n", item.name, fail ? "Fail (out of tolerance)" : "Pass");
    }
    return ok(text);
}

CommandResult cmd_event(ShellContext& c, const Words&) {
    std::string text = "No  Uptime       Event                     State\r\n"
                       " 1  0d 00:00:01  Power up                  Off\r\n"
                       " 2  0d 00:00:04  Configuration loaded      Off\r\n";
    if (has(c, FEATURE_GNSS))
        text += " 3  0d 00:00:31  GNSS antenna short        Off\r\n";
    if (c.events_active)
        text += " 4  0d 00:02:17  Supply voltage low        On \r\n"
                " 5  0d 00:02:18  Sensor temperature high   On \r\n";
    return ok(text);
}

CommandResult cmd_hsiron(ShellContext& c, const Words&) {
    const Calibration& cal = *c.calibration;
    if (!cal.completed)
        return ok(format("Magnetometer calibration: not done, count %u\r\n", cal.count));
    return ok(format("Magnetometer calibration\r\nTime: %" PRId64 "\r\nCount: %u\r\nScore: %u\r\n",
                     cal.time, cal.count, cal.score));
}

CommandResult cmd_reboot(ShellContext& c, const Words&) {
    c.reboot_requested = true;
    return ok("Rebooting...\r\n");
}

CommandResult cmd_help(ShellContext&, const Words&) {
    std::string text = "Commands:";
    for (const std::string& name : shell_command_names())
        text += " " + name;
    return ok(text + "\r\n");
}

using CommandHandler = CommandResult (*)(ShellContext&, const Words&);

struct CommandEntry {
    const char* name;
    CommandHandler handler;
};

const CommandEntry command_table[] = {
    {"cfg", cmd_cfg},       {"ver", cmd_ver},       {"post", cmd_post}, {"event", cmd_event},
    {"hsiron", cmd_hsiron}, {"reboot", cmd_reboot}, {"help", cmd_help},
};

CommandResult echo(const Words& words, uint32_t last_status) {
    std::string text;
    for (size_t i = 1; i < words.size(); ++i) {
        if (i > 1)
            text += ' ';
        text += words[i] == "$?" ? std::to_string(last_status) : words[i];
    }
    return ok(text + "\r\n");
}

CommandResult dispatch(ShellContext& c, const Words& words, uint32_t last_status) {
    if (words[0] == "echo")
        return echo(words, last_status);
    for (const CommandEntry& entry : command_table) {
        if (words[0] == entry.name)
            return entry.handler(c, words);
    }
    CommandResult diag;
    if (diag_command(c, words, &diag))
        return diag;
    return {format("%.64s: command not found\r\n", words[0].c_str()), STATUS_NOT_FOUND};
}

} // namespace

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char ch : line) {
        if (ch == ' ' || ch == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += ch;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

CommandResult run_command(ShellContext& context, const std::string& line, uint32_t last_status) {
    const Words words = split_words(line);
    if (words.empty())
        return ok();
    if (context.injected_failure) {
        if (const std::optional<uint32_t> status = context.injected_failure(line))
            return {"Error: command failed\r\n", *status};
    }
    return dispatch(context, words, last_status);
}

std::vector<std::string> shell_command_names() {
    std::vector<std::string> names = {"echo", "exit"};
    for (const CommandEntry& entry : command_table)
        names.push_back(entry.name);
    for (const std::string& name : diag_command_names())
        names.push_back(name);
    return names;
}

std::string shell_prompt(const ModelProfile& profile) {
    return std::string(profile.name[0] == '?' ? "NC" : profile.name) + "> ";
}

// ---- session

void ShellSession::reset() {
    state_ = State::USER;
    line_.clear();
    user_.clear();
    logged_out_ = false;
}

std::string ShellSession::feed(const std::string& text, ShellContext& context) {
    logged_out_ = false;
    std::string out;
    for (char ch : text)
        out += on_char(ch, context);
    return out;
}

std::string ShellSession::on_char(char ch, ShellContext& context) {
    const bool console = kind_ == Kind::CONSOLE;
    const bool hidden = state_ == State::PASSWORD;
    if (ch == '\r') {
        std::string line = std::move(line_);
        line_.clear();
        return (console ? "\r\n" : "") + on_line(line, context);
    }
    if (ch == '\b' || ch == 0x7F) {
        if (line_.empty())
            return {};
        line_.pop_back();
        return console && !hidden ? "\b" : "";
    }
    if (static_cast<unsigned char>(ch) < 0x20 || line_.size() >= SHELL_MAX_LINE)
        return {}; // LF and other control characters are not part of a line
    line_ += ch;
    return console && !hidden ? std::string(1, ch) : std::string();
}

std::string ShellSession::on_line(const std::string& line, ShellContext& context) {
    // Only the tunnel echoes whole lines; the console has echoed each character.
    const std::string echo_line =
        kind_ == Kind::TUNNEL && state_ != State::PASSWORD ? line + "\r\n" : std::string();
    switch (state_) {
    case State::USER:
        return echo_line + on_user(line);
    case State::PASSWORD:
        return (kind_ == Kind::TUNNEL ? "\r\n" : "") + on_password(line, context);
    case State::SHELL:
        break;
    }
    if (line == LOGIN_USER) // logging in again asks for the password again
        return echo_line + on_user(line);
    return echo_line + on_command(line, context);
}

std::string ShellSession::on_user(const std::string& line) {
    user_ = line;
    state_ = State::PASSWORD;
    return "Pass: ";
}

std::string ShellSession::on_password(const std::string& line, const ShellContext& context) {
    if (user_ != LOGIN_USER || !line.empty()) {
        state_ = State::USER;
        return "Login incorrect\r\nUser: ";
    }
    state_ = State::SHELL;
    last_status_ = 0;
    return std::string(context.profile->name[0] == '?' ? "NC" : context.profile->name) +
           " shell, type 'help' for a list of commands\r\n" + shell_prompt(*context.profile);
}

std::string ShellSession::on_command(const std::string& line, ShellContext& context) {
    executed_.push_back(line);
    const std::vector<std::string> words = split_words(line);
    if (!words.empty() && words[0] == "exit") {
        state_ = State::USER;
        logged_out_ = true;
        last_status_ = 0;
        return "logout\r\n";
    }
    const CommandResult result = run_command(context, line, last_status_);
    if (!words.empty())
        last_status_ = result.status;
    if (context.reboot_requested)
        return result.output; // no prompt: the device is going down
    return result.output + shell_prompt(*context.profile);
}

} // namespace sim
