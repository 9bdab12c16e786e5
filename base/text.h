// Small text helpers shared by the commands.
#pragma once
#include <cctype>

// Keywords typed by the user are compared without regard to case (ASCII).
inline bool equals_ignore_case(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}
