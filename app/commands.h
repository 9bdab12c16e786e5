// The command table, the dispatcher and the interactive loop.
#pragma once
#include <cstdint>
#include <vector>

#include "link/device.h"

// A command's handler: the connected device and the words of the command line
// (argv[0] is the command name, argc >= 1). Results: 0 done, -2 not a valid use
// (the dispatcher reports an unknown command), -4 leave the program, -5 port
// failure and -32 device lost (the loop reconnects), anything else: reported.
using CommandHandler = int32_t (*)(DeviceRecord& device, int32_t argc, char** argv);

struct CommandEntry {
    const char* name;
    CommandHandler handler;
};

extern int interactive_mode; // cleared for a command given on the command line

// Commands register during static initialisation; see REGISTER_COMMAND.
int register_command(const char* name, CommandHandler handler);
const std::vector<CommandEntry>& command_table();

// Runs one command line against the device: purges the input, calls the handler,
// prints a newline and pauses 500 ms. Unknown commands print the error and give 0.
int32_t run_command(DeviceRecord& device, int32_t argc, char** argv);

// Prompts, reads and runs command lines until quit, end of input, or a device
// that is lost for good. program_argc is the program's own argument count.
void interactive_loop(DeviceRecord& device, int program_argc);

constexpr int MAX_COMMAND_WORDS = 32;
constexpr uint32_t COMMAND_LINE_SIZE = 256;

// Splits a line in place into at most max_words words at spaces, tabs, CR and
// LF; double quotes protect spaces (the quotes are removed). Returns the count.
int split_command_line(char* line, char** words, int max_words);

// Waits for one line on the console (after "Press <enter> to quit").
void wait_for_enter();

struct CommandRegistration {
    CommandRegistration(const char* name, CommandHandler handler) {
        register_command(name, handler);
    }
};

#define COMMAND_CONCAT_(a, b) a##b
#define COMMAND_CONCAT(a, b) COMMAND_CONCAT_(a, b)
// One handler may serve several names; each registration gets its own variable.
#define REGISTER_COMMAND(name, handler)                                                            \
    static const CommandRegistration COMMAND_CONCAT(command_registration_, __LINE__)(name, handler)
