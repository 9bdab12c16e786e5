// The dispatcher and the interactive loop over the command table.
#pragma once
#include <cstdint>
#include <vector>

#include "link/command_registry.h"

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
