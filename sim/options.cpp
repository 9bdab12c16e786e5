#include "sim/options.h"

#include <cstdlib>
#include <getopt.h>

#include "link/identity.h"
#include "sim/replay.h"

namespace sim {
namespace {

bool parse_hex32(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 10)
        return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 16);
    if (*end != '\0' || parsed > UINT32_MAX)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool parse_u16(const std::string& text, uint16_t* value) {
    uint32_t parsed = 0;
    if (!parse_u32(text, &parsed) || parsed > 0xFFFF)
        return false;
    *value = static_cast<uint16_t>(parsed);
    return true;
}

bool set_version(const std::string& text, uint16_t* version) {
    const uint32_t release = version_release(*version);
    if (!parse_version(text, version))
        return false;
    *version = static_cast<uint16_t>(*version | release << 14);
    return true;
}

bool set_release(const std::string& text, uint16_t* version) {
    uint32_t release = 0;
    if (!parse_release_type(text, &release))
        return false;
    *version = static_cast<uint16_t>((*version & 0x3FFF) | release << 14);
    return true;
}

bool set_tag(const std::string& text, std::string* tag) {
    if (text.size() > 4)
        return false;
    *tag = text;
    return true;
}

bool set_model(const std::string& text, SimSettings* settings) {
    const ModelProfile* profile = find_profile_by_name(text);
    uint32_t part = 0;
    if (!profile && !parse_part_number(text, &part))
        return false;
    const uint32_t serial = settings->identity.serial;
    *settings = default_settings(profile ? *profile : profile_for_part_number(part));
    settings->identity.serial = serial;
    return true;
}

bool set_ident(const std::string& text, SimSettings* settings) {
    if (text != "sentence" && text != "raw" && text != "both")
        return false;
    settings->ident_sentence = text != "raw";
    settings->ident_raw = text != "sentence";
    return true;
}

bool set_baud(const std::string& text, SimSettings* settings) {
    return parse_u32(text, &settings->baud) && valid_nmea_baud(settings->baud);
}

using Apply = bool (*)(const std::string& value, SimOptions& options);

SoftwareInfo& app(SimOptions& o) {
    return o.settings.identity.application;
}
SoftwareInfo& boot(SimOptions& o) {
    return o.settings.identity.bootloader;
}

struct OptionEntry {
    const char* name;
    int has_arg;
    Apply apply;
};

// --model is applied before all others, since it sets their defaults.
const OptionEntry option_table[] = {
    {"model", required_argument,
     [](const std::string& v, SimOptions& o) { return set_model(v, &o.settings); }},
    {"serial", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_u32(v, &o.settings.identity.serial); }},
    {"baud", required_argument,
     [](const std::string& v, SimOptions& o) { return set_baud(v, &o.settings); }},
    {"link", required_argument,
     [](const std::string& v, SimOptions& o) {
         o.link_path = v;
         return !v.empty();
     }},
    {"record", required_argument,
     [](const std::string& v, SimOptions& o) {
         o.record_path = v;
         return !v.empty();
     }},
    {"no-nmea", no_argument,
     [](const std::string&, SimOptions& o) {
         o.settings.nmea = false;
         return true;
     }},
    {"ident", required_argument,
     [](const std::string& v, SimOptions& o) { return set_ident(v, &o.settings); }},
    {"rescue", no_argument,
     [](const std::string&, SimOptions& o) {
         o.settings.rescue = true;
         return true;
     }},
    {"protocol-version", required_argument,
     [](const std::string& v, SimOptions& o) {
         return parse_u32(v, &o.settings.protocol_version);
     }},
    {"sw-version", required_argument,
     [](const std::string& v, SimOptions& o) { return set_version(v, &app(o).version); }},
    {"sw-release", required_argument,
     [](const std::string& v, SimOptions& o) { return set_release(v, &app(o).version); }},
    {"sw-part", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_part_number(v, &app(o).part_number); }},
    {"sw-build", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_u16(v, &app(o).build_number); }},
    {"sw-word", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_hex32(v, &app(o).build_word); }},
    {"sw-tag", required_argument,
     [](const std::string& v, SimOptions& o) { return set_tag(v, &app(o).build_tag); }},
    {"sw-hash", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_hex32(v, &app(o).build_hash); }},
    {"boot-version", required_argument,
     [](const std::string& v, SimOptions& o) { return set_version(v, &boot(o).version); }},
    {"boot-release", required_argument,
     [](const std::string& v, SimOptions& o) { return set_release(v, &boot(o).version); }},
    {"boot-part", required_argument,
     [](const std::string& v, SimOptions& o) {
         return parse_part_number(v, &boot(o).part_number);
     }},
    {"boot-build", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_u16(v, &boot(o).build_number); }},
    {"boot-word", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_hex32(v, &boot(o).build_word); }},
    {"boot-tag", required_argument,
     [](const std::string& v, SimOptions& o) { return set_tag(v, &boot(o).build_tag); }},
    {"boot-hash", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_hex32(v, &boot(o).build_hash); }},
    {"min-version", required_argument,
     [](const std::string& v, SimOptions& o) {
         return parse_version(v, &o.settings.identity.min_version);
     }},
    {"reboot-time", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_u32(v, &o.settings.reboot_time_ms); }},
    {"seed", required_argument,
     [](const std::string& v, SimOptions& o) { return parse_u32(v, &o.settings.seed); }},
    {"replay", required_argument,
     [](const std::string& v, SimOptions& o) {
         return load_replay(v, &o.settings.replay, &o.replay_error);
     }},
    {"replay-rate", required_argument,
     [](const std::string& v, SimOptions& o) {
         return parse_u32(v, &o.settings.replay_rate) && o.settings.replay_rate <= 1000;
     }},
    {"fault", required_argument,
     [](const std::string& v, SimOptions& o) {
         o.fault_lines.push_back(v);
         return true;
     }},
    {"verbose", no_argument,
     [](const std::string&, SimOptions& o) {
         ++o.verbosity;
         return true;
     }},
    {"help", no_argument,
     [](const std::string&, SimOptions& o) {
         o.help = true;
         return true;
     }},
};
constexpr size_t OPTION_COUNT = sizeof option_table / sizeof option_table[0];
constexpr int FIRST_OPTION_ID = 1000;
constexpr size_t MODEL_OPTION = 0;

std::vector<option> getopt_table() {
    std::vector<option> options;
    for (size_t i = 0; i < OPTION_COUNT; ++i)
        options.push_back({option_table[i].name, option_table[i].has_arg, nullptr,
                           FIRST_OPTION_ID + static_cast<int>(i)});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

// The table index of a getopt result, with the short forms -v and -h.
size_t option_index(int id) {
    if (id == 'v' || id == 'h') {
        const char* name = id == 'v' ? "verbose" : "help";
        for (size_t i = 0; i < OPTION_COUNT; ++i) {
            if (std::string(option_table[i].name) == name)
                return i;
        }
    }
    return static_cast<size_t>(id - FIRST_OPTION_ID);
}

bool apply_all(const std::vector<std::pair<size_t, std::string>>& given, bool model_only,
               SimOptions* options, std::string* error) {
    for (const auto& [index, value] : given) {
        if ((index == MODEL_OPTION) != model_only)
            continue;
        if (!option_table[index].apply(value, *options)) {
            *error = std::string("--") + option_table[index].name + ": " +
                     (options->replay_error.empty() ? "bad value: " + value : options->replay_error);
            return false;
        }
    }
    return true;
}

} // namespace

bool parse_options(int argc, char** argv, SimOptions* options, std::string* error) {
    const std::vector<option> long_options = getopt_table();
    std::vector<std::pair<size_t, std::string>> given;
    optind = 1;
    opterr = 0;
    int id = 0;
    while ((id = getopt_long(argc, argv, "vh", long_options.data(), nullptr)) != -1) {
        if (id == '?') {
            *error = std::string("unknown option or missing value: ") + argv[optind - 1];
            return false;
        }
        given.emplace_back(option_index(id), optarg ? optarg : "");
    }
    if (optind < argc) {
        *error = std::string("unexpected argument: ") + argv[optind];
        return false;
    }
    options->settings = default_settings(*find_profile_by_name("NC-4100"));
    return apply_all(given, /*model_only=*/true, options, error) &&
           apply_all(given, /*model_only=*/false, options, error);
}

std::string usage_text() {
    return "usage: nc-sim [options]\n"
           "Simulates one NC device on a pseudo-terminal. The first line on standard\n"
           "output is the device path of the port; control lines are read from\n"
           "standard input; SIGTERM or SIGINT ends it.\n"
           "\n"
           "  --model NAME|PP-NNNNNN   NC-210, NC-350, NC-4100 (default) or a product part number\n"
           "  --serial N               serial number (default 12345)\n"
           "  --baud 4800|38400        line rate (default: the model's, NC-350 4800, else 38400)\n"
           "  --link PATH              keep a symlink to the port at PATH\n"
           "  --record FILE            write every event as a JSON line to FILE\n"
           "  --no-nmea                send no navigation sentences\n"
           "  --ident sentence|raw|both  identification forms answered (default both)\n"
           "  --rescue                 start in the bootloader without an application\n"
           "  --protocol-version N     answer to \"cfg v\" (default 0)\n"
           "  --sw-version X.YY        application version (default 1.05)\n"
           "  --sw-release TYPE        release, developer or engineering\n"
           "  --sw-part PP-NNNNNN      application part number\n"
           "  --sw-build N             application build number\n"
           "  --sw-word HEX            application build word\n"
           "  --sw-tag TEXT            application build tag (up to 4 characters)\n"
           "  --sw-hash HEX            application build hash\n"
           "  --boot-version, --boot-release, --boot-part, --boot-build,\n"
           "  --boot-word, --boot-tag, --boot-hash   the same for the bootloader\n"
           "  --min-version X.YY       lowest software version accepted for upload\n"
           "  --reboot-time MS         silence during a reboot (default 1500)\n"
           "  --seed N                 start conditions of the motion and of random faults\n"
           "  --fault LINE             apply a control line at start (repeatable)\n"
           "  --replay FILE            send the NMEA lines of a capture instead of the sentence\n"
           "                           table, over and over (\"#\" lines dropped, LF made CR LF)\n"
           "  --replay-rate N          ... at N sentences a second (default: at the line rate)\n"
           "  -v, --verbose            report every device event on standard error;\n"
           "                           twice: every command line and frame too\n"
           "  -h, --help               this text\n"
           "\n"
           "Control lines:\n" +
           control_help();
}

} // namespace sim
