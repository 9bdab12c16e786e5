#include "link/command_registry.h"

#include <cstring>
#include <new>

int interactive_mode = 1;

namespace {

// A function-local static exists before any registration can run.
std::vector<CommandEntry>& table() {
    static std::vector<CommandEntry> entries;
    return entries;
}

} // namespace

int register_command(const char* name, CommandHandler handler) {
    try {
        table().push_back({name, handler});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

const std::vector<CommandEntry>& command_table() { return table(); }

const CommandEntry* find_command(const char* name) {
    for (const CommandEntry& entry : table()) {
        if (std::strcmp(entry.name, name) == 0)
            return &entry;
    }
    return nullptr;
}
