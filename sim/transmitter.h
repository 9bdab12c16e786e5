// The device's serial transmitter: one writer that puts queued sentences on
// the line at 10 bits per character. Replies go first; navigation sentences
// go by priority (shorter interval first), and a sentence marked as a gap
// filler only starts when it ends before the next higher-priority deadline,
// so slow sentences never shift the fast ones.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct TxItem {
    std::string bytes;
    uint64_t ready_us = 0;    // not before this time
    uint64_t rank = 0;        // lower goes first; 0 for replies
    uint32_t entry_id = 0;    // sentence table row, 0 for replies
    uint64_t max_wait_us = 0; // 0: never waits for a gap; else waits at most this long
    uint32_t baud_after = 0;  // switch the line to this rate once sent
};

struct TxChunk {
    std::string bytes;
    uint32_t baud = 0; // the line rate these bytes were sent at
};

class Transmitter {
  public:
    // May an item of this rank occupy the line from now until end?
    using GapCheck = std::function<bool(uint64_t rank, uint64_t end_us)>;

    explicit Transmitter(uint32_t baud) : baud_(baud) {}

    void set_baud(uint32_t baud) { baud_ = baud; }
    uint32_t baud() const { return baud_; }
    // Microseconds from the start of the first to the start of character n.
    uint64_t char_offset_us(uint64_t n) const { return n * 10000000ULL / baud_; }

    void enqueue(TxItem item);
    size_t drop_entry(uint32_t entry_id); // queued items of a row that have not started
    size_t drop_sentences();              // every queued navigation sentence
    void clear();                         // everything, the character on the wire too

    // The bytes due by now (and up to a millisecond ahead), all at one rate:
    // it stops after an item that changes the rate. The last byte of a reply
    // waits until it has fully crossed the line.
    TxChunk take_due(uint64_t now_us, const GapCheck& fits);
    // When take_due has something to do next; UINT64_MAX when idle.
    uint64_t next_wake_us(uint64_t now_us) const;

    bool idle() const { return !current_ && queue_.empty(); }
    bool replies_pending() const; // a reply is queued or on the line
    bool entry_waiting(uint32_t entry_id) const; // an item of that row waits in the queue
    size_t queued_bytes() const;

  private:
    struct Queued {
        TxItem item;
        uint64_t order;
    };
    bool start_next(uint64_t now_us, const GapCheck& fits);
    bool holds_last_byte(uint64_t now_us) const;
    uint64_t byte_time(size_t index) const { return start_us_ + char_offset_us(index); }

    uint32_t baud_;
    std::vector<Queued> queue_;
    uint64_t next_order_ = 0;
    std::optional<TxItem> current_;
    size_t position_ = 0;
    uint64_t start_us_ = 0;
    uint64_t wire_free_us_ = 0;
};

} // namespace sim
