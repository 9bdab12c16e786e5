#include "reports/stream_stats.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

StatFramer stat_framer;

namespace {

constexpr uint32_t MAX_ADDRESS = 5;
constexpr int64_t SETTLE_SECONDS = 5;

std::string sentence_text(std::string_view sentence) {
    // Scanned as text: never beyond the characters stored.
    return std::string(sentence.substr(0, STAT_SENTENCE_SIZE));
}

} // namespace

uint32_t stat_sequence_of(std::string_view sentence) {
    const std::string text = sentence_text(sentence);
    char talker[2];
    int total = 0, number = 0, mode_prn = 0;
    char mode = 0;
    if (std::sscanf(text.c_str(), "$%c%cGSV,%d,%d", &talker[0], &talker[1], &total, &number) == 4)
        return static_cast<uint32_t>(number);
    if (std::sscanf(text.c_str(), "$%c%cGSA,%c,%d,%d", &talker[0], &talker[1], &mode, &total,
                    &mode_prn) == 5)
        return mode_prn >= 65 ? 2 : 1;
    return STAT_NO_SEQUENCE;
}

std::string stat_log_prefix(uint64_t ms, uint32_t interval) {
    char text[48];
    std::snprintf(text, sizeof text, "%6llu %4u: ", static_cast<unsigned long long>(ms), interval);
    return text;
}

std::string stat_identifier(std::string_view sentence, const char* address) {
    if (std::strcmp(address, "PFEC") != 0)
        return address;
    const size_t first = sentence.find(',');
    if (first == std::string_view::npos)
        return address;
    const size_t second = sentence.find(',', first + 1);
    if (second == std::string_view::npos || second - first - 1 > MAX_ADDRESS)
        return address;
    return std::string(sentence.substr(first + 1, second - first - 1));
}

StreamAnalyser::StreamAnalyser(StatFramer& framer, uint32_t baud, int64_t wall_now)
    : framer_(framer) {
    link_.char_time_us = baud ? 10'000'000 / baud : 0;
    link_.settle_time = wall_now;
}

void StreamAnalyser::start_sentence(uint64_t now_ns) {
    framer_.checksum = 0;
    framer_.sub_index = 0;
    framer_.length = 1;
    framer_.start_ns = now_ns;
    framer_.state = 2;
}

// Idle, and nothing of the broken sentence is kept: a later overlong check
// must not count what went before.
void StreamAnalyser::go_idle(bool frame_error) {
    if (frame_error)
        ++link_.frame_errors;
    framer_.state = 0;
    framer_.length = 0;
}

StreamAnalyser::Fed StreamAnalyser::feed(uint8_t byte, uint64_t now_ns, int64_t wall_now) {
    if (framer_.length < STAT_SENTENCE_SIZE) {
        framer_.sentence[framer_.length] = static_cast<char>(byte);
    } else {
        go_idle(/*frame_error=*/true);
        framer_.sentence[0] = static_cast<char>(byte);
        if (byte == '$')
            start_sentence(now_ns);
        return Fed::NOTHING;
    }
    return step(byte, now_ns, wall_now);
}

// A "$" never belongs inside a sentence: it ends a broken one (a frame error)
// and starts the next, which is not lost with it.
StreamAnalyser::Fed StreamAnalyser::step(uint8_t byte, uint64_t now_ns, int64_t wall_now) {
    StatFramer& f = framer_;
    if (byte == '$') {
        if (f.state >= 2)
            ++link_.frame_errors;
        start_sentence(now_ns);
        return Fed::NOTHING;
    }
    switch (f.state) {
    case 0:
    case 1:
        go_idle(/*frame_error=*/f.state == 1);
        break;
    case 2:
        if (byte == ',' || f.sub_index == MAX_ADDRESS || ends_data(byte)) {
            f.address[f.sub_index] = '\0';
            f.state = 3;
            return step_data(byte, now_ns, wall_now);
        }
        f.checksum ^= byte;
        ++f.length;
        f.address[f.sub_index++] = static_cast<char>(byte);
        break;
    case 3:
        return step_data(byte, now_ns, wall_now);
    case 4:
        step_checksum(byte);
        break;
    case 5:
        ++f.length;
        if (byte == '\r')
            ++f.sub_index;
        else if (byte == '\n' && f.sub_index == 1)
            return complete_sentence(now_ns, wall_now);
        else
            go_idle(/*frame_error=*/true);
        break;
    default:
        go_idle(/*frame_error=*/false);
    }
    return Fed::NOTHING;
}

// A byte that ends the data of a sentence, or breaks it.
bool StreamAnalyser::ends_data(uint8_t byte) {
    return byte == '*' || byte == '\r' || byte == '\n' || byte == 0;
}

StreamAnalyser::Fed StreamAnalyser::step_data(uint8_t byte, uint64_t, int64_t) {
    StatFramer& f = framer_;
    ++f.length;
    if (byte == '*') {
        f.sub_index = 0;
        f.state = 4;
    } else if (byte == '\r') {
        f.sub_index = 1;
        f.state = 5;
    } else if (byte == '\n' || byte == 0) {
        go_idle(/*frame_error=*/true);
    } else {
        f.checksum ^= byte;
    }
    return Fed::NOTHING;
}

void StreamAnalyser::step_checksum(uint8_t byte) {
    StatFramer& f = framer_;
    ++f.length;
    if (!std::isxdigit(byte)) {
        go_idle(/*frame_error=*/true);
        return;
    }
    f.checksum_text[f.sub_index++] = static_cast<char>(byte);
    if (f.sub_index < 2)
        return;
    f.checksum_text[2] = '\0';
    unsigned value = 0;
    if (std::sscanf(f.checksum_text, "%x", &value) == 1 && value == f.checksum) {
        f.sub_index = 0;
        f.state = 5;
    } else {
        ++link_.checksum_errors;
        go_idle(/*frame_error=*/false);
    }
}

SentenceStats* StreamAnalyser::find_or_add(const char* name, uint32_t sequence, int64_t wall_now) {
    for (SentenceStats& record : records_) {
        if (std::strcmp(record.name, name) == 0 &&
            (sequence == STAT_NO_SEQUENCE || record.sequence == sequence))
            return &record;
    }
    link_.settle_time = wall_now; // a new identifier: the load settles anew
    SentenceStats record;
    std::snprintf(record.name, sizeof record.name, "%s", name);
    record.sequence = sequence;
    record.last_start_ns = framer_.start_ns;
    record.is_reference = records_.empty();
    try {
        records_.push_back(record);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return &records_.back();
}

// The load of the line over one cycle of the reference identifier. The product
// is taken in 64 bits: a long cycle at a high rate would wrap in 32.
void StreamAnalyser::update_reference(SentenceStats& record, int64_t wall_now) {
    const uint64_t period_us = (framer_.start_ns - record.last_start_ns) / 1000;
    if (wall_now > link_.settle_time + SETTLE_SECONDS && period_us != 0) {
        const uint64_t load = link_.reference_bytes * link_.char_time_us * 100 / period_us;
        link_.utilization = static_cast<uint32_t>(std::min<uint64_t>(load, 100));
        link_.utilization_max = std::max(link_.utilization_max, link_.utilization);
        if (link_.utilization_min == 0 || link_.utilization < link_.utilization_min)
            link_.utilization_min = link_.utilization;
    }
    link_.reference_bytes = 0;
    if (!link_.repick_reference)
        return;
    link_.repick_reference = false;
    record.is_reference = false;
    reference_ = static_cast<size_t>(&record - records_.data());
    for (size_t i = records_.size(); i-- > 0;) {
        if (records_[i].interval_max != 0) {
            reference_ = i;
            break;
        }
    }
    records_[reference_].is_reference = true;
}

void StreamAnalyser::update_disruption(uint64_t now_ns) {
    const int32_t duration_us = static_cast<int32_t>((now_ns - framer_.start_ns) / 1000);
    const int64_t gap = static_cast<int64_t>(duration_us) -
                        static_cast<int64_t>(framer_.length) * link_.char_time_us;
    const int64_t threshold = link_.char_time_us + link_.char_time_us / 2;
    if (gap > threshold && gap > link_.disruption_max_us)
        link_.disruption_max_us = static_cast<int32_t>(gap);
}

void StreamAnalyser::update_intervals(SentenceStats& record) {
    if (record.count < 2)
        return;
    const uint32_t interval = static_cast<uint32_t>((framer_.start_ns - record.last_start_ns) / 1'000'000);
    if (record.interval_avg == 0)
        record.interval_avg = static_cast<float>(interval);
    record.interval_avg = record.interval_avg * 49 / 50 + static_cast<float>(interval) / 50;
    if (record.count != 2 && interval >= 2 * record.interval_last)
        ++record.breaks;
    record.interval_last = interval;
    if (interval > record.interval_max) {
        record.interval_max = interval;
        link_.repick_reference = true;
    }
    // The first measured interval is the first minimum: starting from the 999
    // shown until then would hide every interval of a second or more.
    if (record.count == 2 || interval < record.interval_min)
        record.interval_min = interval;
}

StreamAnalyser::Fed StreamAnalyser::complete_sentence(uint64_t now_ns, int64_t wall_now) {
    const std::string_view sentence(framer_.sentence, framer_.length);
    const std::string name = stat_identifier(sentence, framer_.address);
    SentenceStats* record = find_or_add(name.c_str(), stat_sequence_of(sentence), wall_now);
    if (!record)
        return Fed::OUT_OF_MEMORY;
    ++record->count;
    if (record->is_reference)
        update_reference(*record, wall_now);
    link_.reference_bytes += framer_.length;
    record->length_min = std::min(record->length_min, framer_.length);
    record->length_max = std::max(record->length_max, framer_.length);
    update_disruption(now_ns);
    update_intervals(*record);
    record->last_start_ns = framer_.start_ns;
    last_start_ns_ = framer_.start_ns;
    last_interval_ = record->interval_last;
    completed_ = std::string(sentence);
    framer_.state = 1;
    framer_.length = 0;
    return Fed::SENTENCE;
}

std::vector<std::string> StreamAnalyser::table_rows() const {
    std::vector<std::string> rows;
    for (const SentenceStats& r : records_) {
        char id[24];
        if (r.sequence == STAT_NO_SEQUENCE)
            std::snprintf(id, sizeof id, "%s", r.name);
        else
            std::snprintf(id, sizeof id, "%s.%u", r.name, r.sequence);
        const double frequency = r.interval_last ? 1000.0 / r.interval_last : 0.0;
        const double average = r.interval_avg >= 0.1f ? 1000.0 / r.interval_avg : 0.0;
        char row[160];
        std::snprintf(row, sizeof row, "%-9s %-2u-%-2u %5.1f %5.1f   %4u %4.0f %4u %4u %3u %5u    \n",
                      id, r.length_min, r.length_max, frequency, average, r.interval_last,
                      static_cast<double>(r.interval_avg), r.interval_min, r.interval_max,
                      r.breaks, r.count);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> StreamAnalyser::counter_lines() const {
    char text[5][80];
    std::snprintf(text[0], sizeof text[0], "Frame err   :%4u\n", link_.frame_errors);
    std::snprintf(text[1], sizeof text[1], "Syntax err  :%4u\n", link_.syntax_errors);
    std::snprintf(text[2], sizeof text[2], "Checksum err:%4u\n", link_.checksum_errors);
    std::snprintf(text[3], sizeof text[3], "Disruption  :%4.1f ms\n",
                  link_.disruption_max_us / 1000.0);
    std::snprintf(text[4], sizeof text[4], "Utilization :%4u %% [%u-%u]    \n", link_.utilization,
                  link_.utilization_min, link_.utilization_max);
    return {text[0], text[1], text[2], text[3], text[4]};
}
