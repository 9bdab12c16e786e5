// nmea0183: the output baud rate (NC-350) and the table of output sentences
// with their intervals, talkers and scheduled offsets.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/console.h"
#include "base/results.h"
#include "base/text.h"
#include "config/nmea_schedule.h"
#include "config/queries.h"
#include "link/command_registry.h"
#include "link/transport.h"

namespace {

constexpr uint32_t MIN_INTERVAL_MS = 25;

int32_t baudrate_form(DeviceRecord& device, int32_t argc, char** argv) {
    uint32_t baud = 0;
    if (argc == 2) {
        if (cfg_get_nmea_baudrate(device, &baud) < 0)
            out_print(LEVEL_ERROR, "Error: Failed to read NMEA 0183 baudrate\n");
        else
            std::printf("NMEA 0183 baudrate: %u\n", baud);
        return 0;
    }
    uint32_t wanted = 0;
    if (!read_u32(argv[2], &wanted) || (wanted != 4800 && wanted != 38400)) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[2]);
        return 0;
    }
    format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg n b %u\r", wanted);
    if (shell_transact(device, shell_command_buffer, shell_reply_buffer, SHELL_REPLY_SIZE,
                       link_timeout_ms(device)) < 0 ||
        cfg_get_nmea_baudrate(device, &baud) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to set NMEA-183 baudrate\n");
        return 0;
    }
    std::printf("NMEA-183 baudrate: %u\n", baud);
    std::printf("The configuration takes effect when the device is rebooted\n");
    return 0;
}

int32_t list_sentences(DeviceRecord& device) {
    std::vector<SentenceEntry> list;
    if (cfg_get_sentences(device, &list) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to read NMEA 0183 sentences\n");
        return 0;
    }
    for (const SentenceEntry& entry : list) {
        if (std::strchr(entry.talker, '-'))
            std::printf("%s:%u ", entry.formatter, entry.interval);
        else
            std::printf("%s%s:%u ", entry.talker, entry.formatter, entry.interval);
    }
    std::printf("\n");
    return 0;
}

int32_t restore_default_sentences(DeviceRecord& device) {
    if (cfg_checked_transact(device, "cfg n s d\r") < 0)
        out_print(LEVEL_ERROR, "Error: Failed to set NMEA 0183 sentences\n");
    shell_transact(device, "cfg n s w\r", shell_reply_buffer, SHELL_REPLY_SIZE,
                   link_timeout_ms(device));
    return 0;
}

struct SentenceItem {
    bool has_talker = false;
    char talker[3] = {};
    char formatter[4] = {};
    uint32_t interval = 0;
};

bool parse_item(const char* word, SentenceItem* item) {
    char c[5];
    unsigned interval = 0;
    if (std::sscanf(word, "%c%c%c%c%c:%u", &c[0], &c[1], &c[2], &c[3], &c[4], &interval) == 6) {
        item->has_talker = true;
        std::memcpy(item->talker, c, 2);
        std::memcpy(item->formatter, c + 2, 3);
    } else if (std::sscanf(word, "%c%c%c:%u", &c[0], &c[1], &c[2], &interval) == 4) {
        std::memcpy(item->formatter, c, 3);
    } else {
        return false;
    }
    item->interval = interval;
    return true;
}

SentenceEntry* find_formatter(std::vector<SentenceEntry>& list, const char* formatter) {
    for (SentenceEntry& entry : list) {
        if (std::strcmp(entry.formatter, formatter) == 0)
            return &entry;
    }
    return nullptr;
}

bool valid_talker(const char* talker) {
    return std::isupper(static_cast<unsigned char>(talker[0])) &&
           std::isupper(static_cast<unsigned char>(talker[1]));
}

bool check_talker(const SentenceItem& item, SentenceEntry& entry) {
    if (!item.has_talker)
        return true;
    if (std::strchr(entry.talker, '-')) {
        out_print(LEVEL_ERROR, "Error: talker id can not be set for sentence: %s\n",
                  item.formatter);
        return false;
    }
    if (!valid_talker(item.talker)) {
        out_print(LEVEL_ERROR, "Error: %s: illegal talker id: %s\n", item.formatter, item.talker);
        return false;
    }
    std::memcpy(entry.talker, item.talker, sizeof entry.talker);
    return true;
}

bool check_interval(const SentenceItem& item) {
    const int fixed = nmea_fixed_interval(item.formatter);
    if (fixed > 0 && item.interval != 0 && item.interval != static_cast<uint32_t>(fixed)) {
        out_print(LEVEL_ERROR, "Error: %s: interval can't be changed (fixed %ums)\n",
                  item.formatter, static_cast<unsigned>(fixed));
        return false;
    }
    if (item.interval >= 1 && item.interval < MIN_INTERVAL_MS) {
        out_print(LEVEL_ERROR, "Error: %s: interval must at least be %ums\n", item.formatter,
                  MIN_INTERVAL_MS);
        return false;
    }
    if (item.interval % MIN_INTERVAL_MS != 0) {
        out_print(LEVEL_ERROR, "Error: %s: interval must a multiple of %ums\n", item.formatter,
                  MIN_INTERVAL_MS);
        return false;
    }
    return true;
}

// Applies one item to the table; false after its error message.
bool apply_item(std::vector<SentenceEntry>& list, const char* word) {
    SentenceItem item;
    if (!parse_item(word, &item)) {
        out_print(LEVEL_ERROR, "Error: Format error: %s\n", word);
        return false;
    }
    SentenceEntry* entry = find_formatter(list, item.formatter);
    if (!entry) {
        out_print(LEVEL_ERROR, "Error: Unknown type: %s\n", item.formatter);
        return false;
    }
    entry->interval = item.interval;
    return check_talker(item, *entry) && check_interval(item);
}

void write_sentences(DeviceRecord& device, const std::vector<SentenceEntry>& list) {
    for (const SentenceEntry& entry : list) {
        format_bounded(shell_command_buffer, SHELL_COMMAND_SIZE, "cfg n s %u %s %s %u %u\r",
                       entry.id, entry.talker, entry.formatter, entry.interval, entry.offset);
        if (cfg_checked_transact(device, shell_command_buffer) < 0)
            out_print(LEVEL_ERROR, "Error: Failed to set NMEA 0183 sentence: %s\n",
                      entry.formatter);
    }
    shell_transact(device, "cfg n s w\r", shell_reply_buffer, SHELL_REPLY_SIZE,
                   link_timeout_ms(device));
}

int32_t set_sentences(DeviceRecord& device, int32_t argc, char** argv) {
    std::vector<SentenceEntry> list;
    if (cfg_get_sentences(device, &list) < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to read NMEA 0183 sentences\n");
        return 0;
    }
    // The sentences named replace the whole set.
    for (SentenceEntry& entry : list)
        entry.interval = 0;
    for (int32_t i = 2; i < argc; ++i) {
        if (!apply_item(list, argv[i]))
            return 0; // nothing has been sent yet
    }
    for (SentenceEntry& entry : list)
        entry.length = nmea_sentence_length(entry.formatter);
    nmea_schedule(list, device.link.baud_rate);
    write_sentences(device, list);
    return 0;
}

int32_t nmea0183_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (cfg_protocol_check(device) < 0)
        return RESULT_UNSUPPORTED_PROTOCOL;
    if (argc < 2) {
        out_print(LEVEL_ERROR, "Error: Missing parameter\n");
        return RESULT_USAGE;
    }
    if (model_is(device, "NC-350") && equals_ignore_case(argv[1], "baudrate"))
        return baudrate_form(device, argc, argv);
    if (!equals_ignore_case(argv[1], "sentences")) {
        out_print(LEVEL_ERROR, "Error: Illegal parameter: %s\n", argv[1]);
        return 0;
    }
    if (!extended_firmware(device)) {
        report_unsupported_option();
        return RESULT_FAILED;
    }
    if (argc == 2)
        return list_sentences(device);
    if (argc == 3 && equals_ignore_case(argv[2], "default"))
        return restore_default_sentences(device);
    return set_sentences(device, argc, argv);
}

} // namespace

REGISTER_COMMAND("nmea0183", nmea0183_command);
