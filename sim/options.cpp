#include "sim/options.h"

#include <cstdlib>
#include <getopt.h>

#include "link/device.h"

namespace sim {
namespace {

enum OptionId {
    OPT_MODEL = 1000,
    OPT_SERIAL,
    OPT_BAUD,
    OPT_LINK,
    OPT_RECORD,
    OPT_NO_NMEA,
    OPT_IDENT,
    OPT_RESCUE,
    OPT_PROTOCOL,
    OPT_SW_VERSION,
    OPT_SW_RELEASE,
    OPT_SW_PART,
    OPT_SW_BUILD,
    OPT_SW_WORD,
    OPT_SW_TAG,
    OPT_SW_HASH,
    OPT_BOOT_VERSION,
    OPT_BOOT_RELEASE,
    OPT_BOOT_PART,
    OPT_BOOT_BUILD,
    OPT_BOOT_WORD,
    OPT_BOOT_TAG,
    OPT_BOOT_HASH,
    OPT_MIN_VERSION,
    OPT_REBOOT_TIME,
    OPT_SEED,
    OPT_FAULT,
};

const option long_options[] = {
    {"model", required_argument, nullptr, OPT_MODEL},
    {"serial", required_argument, nullptr, OPT_SERIAL},
    {"baud", required_argument, nullptr, OPT_BAUD},
    {"link", required_argument, nullptr, OPT_LINK},
    {"record", required_argument, nullptr, OPT_RECORD},
    {"no-nmea", no_argument, nullptr, OPT_NO_NMEA},
    {"ident", required_argument, nullptr, OPT_IDENT},
    {"rescue", no_argument, nullptr, OPT_RESCUE},
    {"protocol-version", required_argument, nullptr, OPT_PROTOCOL},
    {"sw-version", required_argument, nullptr, OPT_SW_VERSION},
    {"sw-release", required_argument, nullptr, OPT_SW_RELEASE},
    {"sw-part", required_argument, nullptr, OPT_SW_PART},
    {"sw-build", required_argument, nullptr, OPT_SW_BUILD},
    {"sw-word", required_argument, nullptr, OPT_SW_WORD},
    {"sw-tag", required_argument, nullptr, OPT_SW_TAG},
    {"sw-hash", required_argument, nullptr, OPT_SW_HASH},
    {"boot-version", required_argument, nullptr, OPT_BOOT_VERSION},
    {"boot-release", required_argument, nullptr, OPT_BOOT_RELEASE},
    {"boot-part", required_argument, nullptr, OPT_BOOT_PART},
    {"boot-build", required_argument, nullptr, OPT_BOOT_BUILD},
    {"boot-word", required_argument, nullptr, OPT_BOOT_WORD},
    {"boot-tag", required_argument, nullptr, OPT_BOOT_TAG},
    {"boot-hash", required_argument, nullptr, OPT_BOOT_HASH},
    {"min-version", required_argument, nullptr, OPT_MIN_VERSION},
    {"reboot-time", required_argument, nullptr, OPT_REBOOT_TIME},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"fault", required_argument, nullptr, OPT_FAULT},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

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

// Applies one option (the model was applied before all others).
bool apply_option(int id, const std::string& value, SimOptions* options) {
    SimSettings& s = options->settings;
    SoftwareInfo& app = s.identity.application;
    SoftwareInfo& boot = s.identity.bootloader;
    switch (id) {
    case OPT_MODEL:
        return true;
    case OPT_SERIAL:
        return parse_u32(value, &s.identity.serial);
    case OPT_BAUD:
        return set_baud(value, &s);
    case OPT_LINK:
        options->link_path = value;
        return !value.empty();
    case OPT_RECORD:
        options->record_path = value;
        return !value.empty();
    case OPT_NO_NMEA:
        s.nmea = false;
        return true;
    case OPT_IDENT:
        return set_ident(value, &s);
    case OPT_RESCUE:
        s.rescue = true;
        return true;
    case OPT_PROTOCOL:
        return parse_u32(value, &s.protocol_version);
    case OPT_SW_VERSION:
        return set_version(value, &app.version);
    case OPT_SW_RELEASE:
        return set_release(value, &app.version);
    case OPT_SW_PART:
        return parse_part_number(value, &app.part_number);
    case OPT_SW_BUILD:
        return parse_u16(value, &app.build_number);
    case OPT_SW_WORD:
        return parse_hex32(value, &app.build_word);
    case OPT_SW_TAG:
        return set_tag(value, &app.build_tag);
    case OPT_SW_HASH:
        return parse_hex32(value, &app.build_hash);
    case OPT_BOOT_VERSION:
        return set_version(value, &boot.version);
    case OPT_BOOT_RELEASE:
        return set_release(value, &boot.version);
    case OPT_BOOT_PART:
        return parse_part_number(value, &boot.part_number);
    case OPT_BOOT_BUILD:
        return parse_u16(value, &boot.build_number);
    case OPT_BOOT_WORD:
        return parse_hex32(value, &boot.build_word);
    case OPT_BOOT_TAG:
        return set_tag(value, &boot.build_tag);
    case OPT_BOOT_HASH:
        return parse_hex32(value, &boot.build_hash);
    case OPT_MIN_VERSION:
        return parse_version(value, &s.identity.min_version);
    case OPT_REBOOT_TIME:
        return parse_u32(value, &s.reboot_time_ms);
    case OPT_SEED:
        return parse_u32(value, &s.seed);
    case OPT_FAULT:
        options->fault_lines.push_back(value);
        return true;
    case 'v':
        ++options->verbosity;
        return true;
    case 'h':
        options->help = true;
        return true;
    default:
        return false;
    }
}

const char* option_name(int id) {
    for (const option& o : long_options) {
        if (o.val == id && o.name)
            return o.name;
    }
    return "?";
}

} // namespace

bool parse_options(int argc, char** argv, SimOptions* options, std::string* error) {
    std::vector<std::pair<int, std::string>> given;
    optind = 1;
    opterr = 0;
    int id = 0;
    while ((id = getopt_long(argc, argv, "vh", long_options, nullptr)) != -1) {
        if (id == '?') {
            *error = std::string("unknown option or missing value: ") + argv[optind - 1];
            return false;
        }
        given.emplace_back(id, optarg ? optarg : "");
    }
    if (optind < argc) {
        *error = std::string("unexpected argument: ") + argv[optind];
        return false;
    }
    options->settings = default_settings(*find_profile_by_name("NC-4100"));
    for (const auto& [option_id, value] : given) {
        if (option_id == OPT_MODEL && !set_model(value, &options->settings)) {
            *error = "--model: not a model name or PP-NNNNNN part number: " + value;
            return false;
        }
    }
    for (const auto& [option_id, value] : given) {
        if (!apply_option(option_id, value, options)) {
            *error = std::string("--") + option_name(option_id) + ": bad value: " + value;
            return false;
        }
    }
    return true;
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
           "  -v, --verbose            report every device event on standard error\n"
           "  -h, --help               this text\n"
           "\n"
           "Control lines:\n" +
           control_help();
}

} // namespace sim
