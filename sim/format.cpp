#include "sim/format.h"

#include <cstdarg>
#include <cstdio>

namespace sim {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

std::string printable(const std::string& text) {
    std::string shown = text;
    for (char& ch : shown) {
        if (ch < 0x20 || ch > 0x7E)
            ch = '?';
    }
    return shown;
}

} // namespace sim
