// help, about and quit.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/commands.h"
#include "base/console.h"
#include "app/help_texts.h"
#include "base/results.h"
#include "base/version.h"

namespace {

struct SetupEntry {
    const char* text;
    std::initializer_list<const char*> models; // empty: every model, known or not
};

const SetupEntry setup_entries[] = {
    {"  attitude filter [<time constant>]", {"NC-4100", "NC-350"}},
    {"  autolevel [run|reset]", {"NC-4100", "NC-350"}},
    {"  deviation calibration [standard | adaptive | off | reset]", {"NC-4100"}},
    {"  deviation calibration [on | off | reset]", {"NC-350"}},
    {"  deviation options [5deg pause | none]", {"NC-4100", "NC-350"}},
    {"  gnss receiver [<type>...]", {"NC-4100", "NC-210"}},
    {"  heading <actual heading>", {"NC-4100", "NC-350"}},
    {"  heading offset [<offset>]", {"NC-4100", "NC-350"}},
    {"  nmea0183 baudrate [4800 | 38400]", {"NC-350"}},
    {"  nmea0183 sentences [default | <sentence>:<interval>...]", {}},
    {"  nmea2000 bus [term | open]", {"NC-350", "NC-210"}},
    {"  pitch offset [<offset>]", {"NC-4100", "NC-350"}},
    {"  roll offset [<offset>]", {"NC-4100", "NC-350"}},
    {"  variation source [auto | off | user <variation>]", {"NC-350"}},
    {"  vertical offset [<offset>]", {"NC-4100", "NC-350"}},
};

const char* const utility_entries[] = {"  mon", "  nav", "  stat [-l <file path>]"};

const char* const system_entries[] = {
    "  about", "  diag [<path>]", "  event",  "  factory default", "  help [<command>]", "  post",
    "  quit",  "  reboot",        "  status", "  upload <file path>", "  ver",
};

bool applies_to(const SetupEntry& entry, const char* model) {
    if (entry.models.size() == 0)
        return true;
    for (const char* name : entry.models) {
        if (model_is(model, name))
            return true;
    }
    return false;
}

void print_title(const char* title) {
    set_text_highlight(1);
    std::printf("%s\n", title);
    std::fflush(stdout);
    set_text_normal(1);
}

void print_line(const char* text) { std::printf("%s\n", text); }

void print_overview(const DeviceRecord& device) {
    print_line("");
    print_title("SETUP");
    for (const SetupEntry& entry : setup_entries) {
        if (applies_to(entry, device.model_name))
            print_line(entry.text);
    }
    print_title("\nUTILITIES");
    for (const char* text : utility_entries)
        print_line(text);
    print_title("\nSYSTEM");
    for (const char* text : system_entries)
        print_line(text);
    print_line("\n  []: option       <>: parameter      |: choice\n"
               "  No option prints the current setting.");
    print_line("\nType 'help' and the name of the command to get a detailed description.");
}

void print_section(const HelpSection& section) {
    if (section.title)
        print_title(section.title);
    std::fputs(section.body, stdout);
    if (section.add_line_break)
        std::fputs("\n", stdout);
}

int32_t help_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (argc < 2) {
        print_overview(device);
    } else {
        HelpSection sections[MAX_HELP_SECTIONS];
        const int count = help_sections_for(argv[1], device.model_name, sections);
        if (count == 0)
            std::printf("Error: Unknown command: %s\n", argv[1]);
        for (int i = 0; i < count; ++i)
            print_section(sections[i]);
    }
    std::fflush(stdout);
    return 0;
}

int32_t about_command(DeviceRecord&, int32_t, char**) {
    std::printf("NC_Service Tool, version %u.%02u.\n\n", TOOL_VERSION_MAJOR, TOOL_VERSION_MINOR);
    std::printf("%s\n    %s\n\n", TOOL_MAKER, TOOL_MAKER_WEB);
    std::printf("The NC-Service Tool is a Console Application, which makes it possible to\n"
                "configure and service following products:\nNC-210, NC-350 and NC-4100\n");
    std::fflush(stdout);
    return 0;
}

int32_t quit_command(DeviceRecord&, int32_t, char**) { return RESULT_QUIT; }

} // namespace

REGISTER_COMMAND("help", help_command);
REGISTER_COMMAND("quit", quit_command);
REGISTER_COMMAND("about", about_command);
