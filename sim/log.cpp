#include "sim/log.h"

#include <cstdarg>
#include <cstdio>

namespace sim {

int log_verbosity = 0;

void log_message(int level, const char* format, ...) {
    if (level > log_verbosity)
        return;
    std::fputs("nc-sim: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

} // namespace sim
