#include "plot/stat_log.h"

#include <algorithm>
#include <cstdlib>

#include "base/text.h"
#include "reports/stream_stats.h"

namespace {

// A whole decimal number of at most digits digits, and where it ended.
bool read_number(const std::string& line, size_t* at, int64_t* value, size_t digits) {
    while (*at < line.size() && line[*at] == ' ')
        ++*at;
    const size_t start = *at;
    int64_t number = 0;
    while (*at < line.size() && line[*at] >= '0' && line[*at] <= '9' && *at - start < digits)
        number = number * 10 + (line[(*at)++] - '0');
    *value = number;
    return *at > start && (*at == line.size() || line[*at] < '0' || line[*at] > '9');
}

// "  1234   100: $HEHDT,...": false for anything else.
bool split_line(const std::string& line, int64_t* ms, int64_t* interval, std::string* sentence) {
    size_t at = 0;
    if (!read_number(line, &at, ms, 12) || *ms > STAT_LOG_MAX_MS)
        return false;
    if (!read_number(line, &at, interval, 10) || *interval > UINT32_MAX)
        return false;
    if (line.compare(at, 3, ": $") != 0)
        return false;
    *sentence = line.substr(at + 2);
    // A sentence is at most 82 characters; its checksum separator precedes the end.
    return sentence->size() >= 6 && sentence->size() <= 82 && sentence->find(',') != std::string::npos;
}

size_t row_of(StatLog& log, const std::string& identifier) {
    const auto found = std::find(log.identifiers.begin(), log.identifiers.end(), identifier);
    if (found != log.identifiers.end())
        return static_cast<size_t>(found - log.identifiers.begin());
    log.identifiers.push_back(identifier);
    return log.identifiers.size() - 1;
}

void count(uint32_t* counter, uint32_t* first_line, uint32_t line_number) {
    if (++*counter == 1)
        *first_line = line_number;
}

} // namespace

std::string row_identifier(const std::string& sentence) {
    const size_t comma = sentence.find(',');
    const std::string address = sentence.substr(1, std::min<size_t>(comma, 6) - 1);
    std::string identifier = stat_identifier(sentence, address.c_str());
    const uint32_t sequence = stat_sequence_of(sentence);
    if (sequence != STAT_NO_SEQUENCE)
        identifier += "." + std::to_string(sequence);
    return identifier;
}

StatLog parse_stat_log(const std::string& text, double from_s, double to_s) {
    StatLog log;
    int64_t last_ms = -1;
    uint32_t line_number = 0;
    for (const std::string& line : text_lines(text)) {
        ++line_number;
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue; // a blank line, as an editor may leave at the end
        int64_t ms = 0, interval = 0;
        std::string sentence;
        if (!split_line(line, &ms, &interval, &sentence)) {
            count(&log.bad_lines, &log.first_bad_line, line_number);
            continue;
        }
        if (ms < last_ms) {
            count(&log.backwards, &log.first_backwards_line, line_number);
            continue;
        }
        last_ms = ms;
        if ((from_s >= 0 && ms < from_s * 1000) || (to_s >= 0 && ms > to_s * 1000))
            continue;
        LoggedSentence logged;
        logged.ms = ms;
        logged.interval = static_cast<uint32_t>(interval);
        logged.length = static_cast<uint32_t>(sentence.size() + 2);
        logged.row = row_of(log, row_identifier(sentence));
        log.sentences.push_back(logged);
    }
    return log;
}
