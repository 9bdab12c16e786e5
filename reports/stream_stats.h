// The NMEA 0183 stream analyser behind stat: its own byte framer (independent
// of the transport's, so that it sees and counts every fault on the line),
// statistics per sentence identifier, and the link's disruption and load.
// Pure code: bytes come in with their arrival times.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t STAT_NO_SEQUENCE = 0xFFFFFFFF;
constexpr uint32_t STAT_SENTENCE_SIZE = 82;

struct SentenceStats {
    char name[6] = {};                     // talker + type, or the PFEC sub-type
    uint32_t sequence = STAT_NO_SEQUENCE;  // sentence number within a GSV or GSA group
    uint64_t last_start_ns = 0;            // arrival of the "$" of the latest one
    uint32_t length_min = 99;
    uint32_t length_max = 0;
    uint32_t count = 0;
    uint32_t breaks = 0;        // intervals at least twice the one before
    uint32_t interval_min = 999; // ms; shown as 999 until a second one arrived
    uint32_t interval_max = 0;
    float interval_avg = 0; // moving average, ms
    bool is_reference = false; // its cycle is the window for the utilization
    uint32_t interval_last = 0;
};

struct LinkStats {
    uint32_t char_time_us = 0; // 10 bits per character
    uint32_t frame_errors = 0;
    uint32_t syntax_errors = 0;
    uint32_t checksum_errors = 0;
    int32_t disruption_max_us = 0; // largest gap between characters of a sentence
    uint32_t utilization = 0;      // percent of the line's capacity
    uint32_t utilization_min = 0;
    uint32_t utilization_max = 0;
    bool repick_reference = false;
    uint64_t reference_bytes = 0; // characters since the reference's last sentence
    int64_t settle_time = 0;      // wall seconds when the set of identifiers last grew
};

// The framer's state; it lives on between runs of stat.
struct StatFramer {
    int state = 0; // 0 idle, 1 after a sentence, 2 address, 3 data, 4 checksum, 5 line end
    char sentence[STAT_SENTENCE_SIZE] = {};
    uint32_t length = 0;
    char address[6] = {};
    uint32_t sub_index = 0; // address position, checksum digit or carriage returns
    uint8_t checksum = 0;
    char checksum_text[3] = {};
    uint64_t start_ns = 0;
};
extern StatFramer stat_framer;

class StreamAnalyser {
  public:
    StreamAnalyser(StatFramer& framer, uint32_t baud, int64_t wall_now);

    enum class Fed { NOTHING, SENTENCE, OUT_OF_MEMORY };
    // One byte that arrived at now_ns (monotonic) in wall-clock second wall_now.
    // SENTENCE when it completed a well-formed sentence (see last_sentence).
    Fed feed(uint8_t byte, uint64_t now_ns, int64_t wall_now);

    // The sentence just completed, exactly as received, with the arrival of its
    // "$" and its identifier's latest interval: what the statistics log holds.
    std::string_view last_sentence() const { return completed_; }
    uint64_t last_start_ns() const { return last_start_ns_; }
    uint32_t last_interval() const { return last_interval_; }

    const std::vector<SentenceStats>& records() const { return records_; }
    const LinkStats& link() const { return link_; }

    // The table rows, one per identifier in order of first appearance, and the
    // block of counters below them.
    std::vector<std::string> table_rows() const;
    std::vector<std::string> counter_lines() const;

  private:
    void start_sentence(uint64_t now_ns);
    void go_idle(bool frame_error);
    Fed step(uint8_t byte, uint64_t now_ns, int64_t wall_now);
    Fed step_data(uint8_t byte, uint64_t now_ns, int64_t wall_now);
    void step_checksum(uint8_t byte);
    static bool ends_data(uint8_t byte);
    Fed complete_sentence(uint64_t now_ns, int64_t wall_now);
    SentenceStats* find_or_add(const char* name, uint32_t sequence, int64_t wall_now);
    void update_reference(SentenceStats& record, int64_t wall_now);
    void update_disruption(uint64_t now_ns);
    void update_intervals(SentenceStats& record);

    StatFramer& framer_;
    LinkStats link_;
    std::vector<SentenceStats> records_;
    size_t reference_ = 0;
    uint64_t last_start_ns_ = 0;
    uint32_t last_interval_ = 0;
    std::string completed_;
};

// The sequence of a GSV (its sentence number) or GSA (1 below PRN 65, else 2)
// sentence, or STAT_NO_SEQUENCE.
uint32_t stat_sequence_of(std::string_view sentence);
// The start of a statistics log line: the sentence's arrival in milliseconds
// since the program started and its identifier's interval, "%6llu %4u: ". In
// 64 bits: a 32-bit long would wrap after 24.8 days.
std::string stat_log_prefix(uint64_t ms, uint32_t interval);

// The identifier under which a sentence is counted.
std::string stat_identifier(std::string_view sentence, const char* address);
