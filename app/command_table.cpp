// The dispatcher and the interactive loop.
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "app/commands.h"
#include "app/prompt_completion.h"
#include "base/console.h"
#include "base/results.h"
#include "link/device_wait.h"
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

// Reads and drops what is left of a line that did not fit; false when the
// input ended meanwhile.
bool skip_rest_of_line() {
    char piece[COMMAND_LINE_SIZE];
    for (;;) {
        const int n = read_command_input("", piece, sizeof piece);
        if (n < 0)
            return false;
        if (n > 0 && piece[n - 1] == '\n')
            return true;
    }
}

enum class PromptOutcome { Line, Ended, PortHungUp };

// Reads one line while watching the port, which may hang up meanwhile; Ended
// at end of input or when the console cannot be read. A line longer than the
// buffer arrives in pieces. Run one by one, the first would send the device a
// setting cut short and the rest would run as a command of its own: the whole
// line is refused instead, and line is empty.
PromptOutcome read_command_line(DeviceRecord& device, char* line) {
    set_input_mode(INPUT_PROMPT);
    watch_during_input(serial_watch_handle(device.link.port));
    const int n = read_command_input("nc> ", line, COMMAND_LINE_SIZE);
    watch_during_input(-1);
    if (n == INPUT_WATCH_FIRED)
        return PromptOutcome::PortHungUp;
    if (n < 0)
        return PromptOutcome::Ended;
    line[n] = '\0';
    if (static_cast<uint32_t>(n) == COMMAND_LINE_SIZE && line[n - 1] != '\n') {
        line[0] = '\0';
        const bool more = skip_rest_of_line();
        std::printf("Error: Line too long, at most %u characters\n\n", COMMAND_LINE_SIZE - 1);
        return more ? PromptOutcome::Line : PromptOutcome::Ended;
    }
    return PromptOutcome::Line;
}

// Noticed at the prompt: the port is let go at once, so that an adapter put
// back gets its old name.
void report_hang_up(DeviceRecord& device) {
    out_print(LEVEL_ERROR, "Error: the device on %s hung up\n", device.link.port_name.c_str());
    serial_close(device.link.port);
    device.link.port = INVALID_PORT;
}

// After a lost device: true when it is connected again, else the session ends
// as the loop always ended it.
bool found_again(DeviceRecord& device, int program_argc) {
    if (reconnect_device(device) >= 0)
        return true;
    if (termination_requested())
        return false;
    std::printf("\nNo devices found\n");
    if (program_argc == 1)
        wait_for_enter();
    return false;
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
    while (!termination_requested()) {
        const PromptOutcome outcome = read_command_line(device, line);
        if (outcome == PromptOutcome::Ended)
            return;
        if (outcome == PromptOutcome::PortHungUp) {
            report_hang_up(device);
            if (!found_again(device, program_argc))
                return;
            continue;
        }
        // One word more than a command may have, to tell that there were too
        // many: dropping the rest would change a setting only in part.
        char* words[MAX_COMMAND_WORDS + 1];
        const int count = split_command_line(line, words, MAX_COMMAND_WORDS + 1);
        if (count == 0)
            continue;
        if (count > MAX_COMMAND_WORDS) {
            std::printf("Error: Too many words, at most %d\n\n", MAX_COMMAND_WORDS);
            continue;
        }
        set_input_mode(INPUT_COMMAND);
        const int32_t result = run_command(device, count, words);
        if (termination_requested())
            return;
        if (device_lost(result)) {
            if (!found_again(device, program_argc))
                return;
            if (device_wait_seconds > 0)
                out_print(LEVEL_INFO, "'%s' was interrupted and is not repeated\n\n", words[0]);
            continue;
        }
        if (result == RESULT_QUIT)
            return;
    }
}
