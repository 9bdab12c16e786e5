// The statistics log that "stat -l" writes, read back: one line per sentence,
// "<ms since start> <interval of its identifier in ms>: <sentence>".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct LoggedSentence {
    int64_t ms = 0;        // arrival of its "$"
    uint32_t interval = 0; // since the one before of the same identifier, as stat measured it
    uint32_t length = 0;   // characters on the wire, line end included
    size_t row = 0;        // its identifier's index in StatLog::identifiers
};

struct StatLog {
    std::vector<std::string> identifiers; // in the order of first appearance
    std::vector<LoggedSentence> sentences; // in the order of the file
    uint32_t bad_lines = 0;                // not log lines: left out
    uint32_t first_bad_line = 0;           // its line number, 0 when none
    uint32_t backwards = 0;                // earlier than the line before: left out
    uint32_t first_backwards_line = 0;
};

// The times a log can hold: stat's clock runs from the program's start, and a
// year of it is far more than any log.
constexpr int64_t STAT_LOG_MAX_MS = 366LL * 24 * 3600 * 1000;

// Splits a log's text. Lines that are no log line, and lines whose time goes
// back, are counted and left out; from and to (seconds, -1: open) keep a window.
StatLog parse_stat_log(const std::string& text, double from_s = -1, double to_s = -1);

// The identifier under which stat counts a sentence: its address, the sub-type
// of a PFEC sentence, and ".n" for the parts of a GSV or GSA group.
std::string row_identifier(const std::string& sentence);
