// Small text helpers shared by the commands.
#pragma once
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// Keywords typed by the user are compared without regard to case (ASCII).
inline bool equals_ignore_case(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// A decimal whole number that fits 32 bits and is nothing else: the C
// library's converters would read "38k" as 38 and "abc" as 0 without a word.
inline bool read_u32(const char* text, uint32_t* value) {
    uint64_t number = 0;
    if (!text || !*text)
        return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(*text - '0');
        if (number > UINT32_MAX)
            return false;
    }
    *value = static_cast<uint32_t>(number);
    return true;
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

// The lines of a text, without their LF or CR LF; a last line without a line
// end counts too.
inline std::vector<std::string> text_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r')
            lines.back().pop_back();
        start = end + 1;
    }
    return lines;
}
