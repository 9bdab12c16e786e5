// ver, post, event, factory and reboot: the device as a whole.
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "base/text.h"
#include "config/queries.h"
#include "link/command_registry.h"
#include "link/discovery.h"
#include "link/transport.h"

namespace {

constexpr uint32_t SUFFIX_SIZE = 32;
constexpr uint32_t ANSWER_SIZE = 3;
constexpr uint32_t FACTORY_PAUSE_MS = 1500;
constexpr uint32_t REBOOT_PAUSE_MS = 3000;

int32_t ver_command(DeviceRecord& device, int32_t, char**) {
    const SoftwareEntry software = ident_software(device, 0);
    const uint32_t release = version_release(software.version);
    char suffix[SUFFIX_SIZE] = "";
    if (release != 0)
        format_bounded(suffix, sizeof suffix, " (%s-%u %08x)", software.build_tag,
                       static_cast<unsigned>(software.build_number), software.build_hash);
    const uint32_t part = ident_part_number(device);
    std::printf(
        "\nProduct %s:\nPart no: %02u-%06u\nSerial no: %08u\nSoftware version: %u.%02u %s%s\n",
        device.model_name ? device.model_name : "?", part_prefix(part), part_number_low(part),
        ident_serial(device), version_major(software.version), version_minor(software.version),
        release_type_name(release), suffix);
    return 0;
}

// Runs a report command and prints its text after the echoed command word.
void print_report(DeviceRecord& device, const char* command_line, size_t echo_length,
                  const char* error_line) {
    const int result = shell_transact(device, command_line, shell_reply_buffer, SHELL_REPLY_SIZE,
                                      link_timeout_ms(device));
    if (result <= 0 || shell_exit_status(device) != 0) {
        std::printf("%s\n", error_line);
        return;
    }
    if (std::strlen(shell_reply_buffer) >= echo_length) {
        std::fputs(shell_reply_buffer + echo_length, stdout);
        std::fputs("\n", stdout);
    }
}

int32_t post_command(DeviceRecord& device, int32_t, char**) {
    print_report(device, "post\r", 4, "Error: Failed to get POST report");
    return 0;
}

int32_t event_command(DeviceRecord& device, int32_t, char**) {
    print_report(device, "event\r", 5, "Error: Failed to get event list");
    return 0;
}

// Only an answer that starts with a lower-case y confirms; an empty or failed
// read must not act on whatever the buffer held before.
bool factory_reset_confirmed() {
    std::printf("Press 'y' to confirm reset to factory default or 'n' to cancel:\n");
    std::fflush(stdout);
    char answer[ANSWER_SIZE + 1] = {};
    const int count = read_input(answer, ANSWER_SIZE);
    return count > 0 && answer[0] == 'y';
}

int32_t factory_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (model_is(device, "NC-4100") && !extended_firmware(device)) {
        report_unsupported_option();
        return RESULT_FAILED;
    }
    if (argc < 2) {
        out_print(LEVEL_ERROR, "Error: Missing argument\n");
        return 0;
    }
    if (!equals_ignore_case(argv[1], "default")) {
        out_print(LEVEL_ERROR, "Error: Illegal argument\n");
        return 0;
    }
    if (interactive_mode && !factory_reset_confirmed()) {
        std::printf("canceled\n");
        return 0;
    }
    if (cfg_checked_transact(device, "cfg f\r") < 0) {
        out_print(LEVEL_ERROR, "Error: Failed to reset to factory default\n");
        return 0;
    }
    sleep_ms(FACTORY_PAUSE_MS);
    out_print(LEVEL_INFO, "reset to factory default.\nThe new configuration takes effect when the "
                          "system is rebooted\n");
    return 0;
}

int32_t reboot_command(DeviceRecord& device, int32_t, char**) {
    shell_transact(device, "reboot\r", nullptr, 0, 0);
    std::printf("Device is rebooting...\n");
    std::fflush(stdout);
    sleep_ms(REBOOT_PAUSE_MS);
    if (reconnect_device(device) >= 0)
        return 0;
    out_print(LEVEL_ERROR, "Error: Failed to re-connect to the device\n");
    return RESULT_QUIT;
}

} // namespace

REGISTER_COMMAND("reboot", reboot_command);
REGISTER_COMMAND("factory", factory_command);
REGISTER_COMMAND("event", event_command);
REGISTER_COMMAND("post", post_command);
REGISTER_COMMAND("ver", ver_command);
