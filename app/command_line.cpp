// Cutting a typed command line into words.
#include <cstring>

#include "app/commands.h"

namespace {

constexpr char QUOTED_SPACE = 0x01; // stands for a space inside quotes while splitting
constexpr const char* SEPARATORS = " \t\n\r";

// Protects the spaces of each "quoted" stretch and removes its quote characters.
void protect_quoted_spaces(char* line) {
    char* search = line;
    for (;;) {
        char* open = std::strchr(search, '"');
        if (!open)
            return;
        char* close = std::strchr(open + 1, '"');
        if (!close)
            return;
        for (char* p = open + 1; p < close; ++p) {
            if (*p == ' ')
                *p = QUOTED_SPACE;
        }
        const size_t enclosed = static_cast<size_t>(close - open - 1);
        std::memmove(open, open + 1, enclosed);
        std::memmove(open + enclosed, close + 1, std::strlen(close + 1) + 1);
        search = open + enclosed;
    }
}

void restore_spaces(char* word) {
    for (char* p = word; *p; ++p) {
        if (*p == QUOTED_SPACE)
            *p = ' ';
    }
}

} // namespace

int split_command_line(char* line, char** words, int max_words) {
    protect_quoted_spaces(line);
    int count = 0;
    char* p = line;
    while (count < max_words) {
        p += std::strspn(p, SEPARATORS);
        if (*p == '\0')
            break;
        char* word = p;
        p += std::strcspn(p, SEPARATORS);
        if (*p != '\0')
            *p++ = '\0';
        restore_spaces(word);
        words[count++] = word;
    }
    return count;
}
