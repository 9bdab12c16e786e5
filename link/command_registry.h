// The command table: every command registers its handler under its name during
// static initialisation, from whichever floor it lives on. The dispatcher and
// the interactive loop that use the table are in app/commands.h.
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

// Cleared for a command given on the command line (no questions asked then).
extern int interactive_mode;

// Commands register during static initialisation; see REGISTER_COMMAND.
int register_command(const char* name, CommandHandler handler);
const std::vector<CommandEntry>& command_table();
// The entry of that exact name, or nullptr.
const CommandEntry* find_command(const char* name);

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
