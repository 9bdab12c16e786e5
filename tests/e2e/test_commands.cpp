// A command that exists only in the test build of the tool, to show the words
// a handler receives.
#include <cstdio>

#include "app/commands.h"

namespace {

int32_t words_command(DeviceRecord&, int32_t argc, char** argv) {
    std::printf("%d words:", argc);
    for (int32_t i = 0; i < argc; ++i)
        std::printf(" [%s]", argv[i]);
    std::printf("\n");
    return 0;
}

} // namespace

REGISTER_COMMAND("words", words_command);
