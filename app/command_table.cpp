// The dispatcher and the interactive loop.
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "app/commands.h"
#include "app/prompt_completion.h"
#include "base/console.h"
#include "base/results.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "link/transport.h"

namespace {

constexpr uint32_t PAUSE_AFTER_COMMAND_MS = 500;

void print_unknown_command(const char* name) {
    std::printf("Error: Unknown command: %s\n\n", name);
    std::fflush(stdout);
}

bool device_lost(int32_t result) {
    return result == RESULT_PORT_ERROR || result == RESULT_DEVICE_LOST;
}

// Reads one line; false at end of input or when the console cannot be read.
bool read_command_line(char* line) {
    set_input_mode(INPUT_PROMPT);
    const int n = read_command_input("nc> ", line, COMMAND_LINE_SIZE);
    if (n < 0)
        return false;
    line[n] = '\0';
    return true;
}

} // namespace

int32_t run_command(DeviceRecord& device, int32_t argc, char** argv) {
    if (argc < 1 || argv[0][0] == '\0')
        return 0;
    const CommandEntry* command = find_command(argv[0]);
    if (!command) {
        print_unknown_command(argv[0]);
        return 0;
    }
    link_purge(device.link);
    int32_t result = command->handler(device, argc, argv);
    // A command that reported its failed queries and went on (the status
    // report does) still lost the device: the loop reconnects as for -5.
    if (result == 0 && device.link.port_failed)
        result = RESULT_PORT_ERROR;
    std::printf("\n");
    std::fflush(stdout);
    if (result == RESULT_UNKNOWN_COMMAND) {
        print_unknown_command(argv[0]);
        return 0;
    }
    sleep_ms(PAUSE_AFTER_COMMAND_MS);
    return result;
}

void wait_for_enter() {
    std::printf("Press <enter> to quit\n");
    std::fflush(stdout);
    set_input_mode(INPUT_COMMAND);
    char line[COMMAND_LINE_SIZE];
    read_input(line, sizeof line);
}

void interactive_loop(DeviceRecord& device, int program_argc) {
    char line[COMMAND_LINE_SIZE + 1];
    start_prompt_completion(device);
    while (!termination_requested() && read_command_line(line)) {
        char* words[MAX_COMMAND_WORDS];
        const int count = split_command_line(line, words, MAX_COMMAND_WORDS);
        if (count == 0)
            continue;
        set_input_mode(INPUT_COMMAND);
        const int32_t result = run_command(device, count, words);
        if (termination_requested())
            return;
        if (device_lost(result)) {
            if (reconnect_device(device) >= 0)
                continue;
            std::printf("\nNo devices found\n");
            if (program_argc == 1)
                wait_for_enter();
            return;
        }
        if (result == RESULT_QUIT)
            return;
    }
}
