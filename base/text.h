// Small text helpers shared by the commands.
#pragma once
#include <cctype>
#include <cstdio>
#include <ctime>
#include <string>

// Keywords typed by the user are compared without regard to case (ASCII).
inline bool equals_ignore_case(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// The calendar form "Mon Dec  1 12:00:00 2025" (the C library's asctime without
// its line end), spelled out because not every C library's strftime knows %e.
// Empty when the fields are out of range.
inline std::string calendar_text(const std::tm& t) {
    static const char days[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 || t.tm_mon > 11)
        return "";
    char text[96];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", days[t.tm_wday],
                  months[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}
