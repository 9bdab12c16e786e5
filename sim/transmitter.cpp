#include "sim/transmitter.h"

#include <algorithm>

namespace sim {
namespace {

// Bytes due within this window go out together, so that the writer wakes at
// most about once a millisecond.
constexpr uint64_t WRITE_AHEAD_US = 1000;
// A wake-up this late still counts as on time: the sentence keeps its slot.
constexpr uint64_t LATE_WAKE_US = 1000;

bool goes_before(const TxItem& a, uint64_t order_a, const TxItem& b, uint64_t order_b) {
    if (a.rank != b.rank)
        return a.rank < b.rank;
    if (a.ready_us != b.ready_us)
        return a.ready_us < b.ready_us;
    return order_a < order_b;
}

} // namespace

void Transmitter::enqueue(TxItem item) {
    queue_.push_back({std::move(item), next_order_++});
}

size_t Transmitter::drop_entry(uint32_t entry_id) {
    return std::erase_if(queue_, [&](const Queued& q) { return q.item.entry_id == entry_id; });
}

size_t Transmitter::drop_sentences() {
    return std::erase_if(queue_, [](const Queued& q) { return q.item.entry_id != 0; });
}

void Transmitter::clear() {
    queue_.clear();
    current_.reset();
    position_ = 0;
}

bool Transmitter::replies_pending() const {
    if (current_ && current_->entry_id == 0)
        return true;
    return std::any_of(queue_.begin(), queue_.end(),
                       [](const Queued& q) { return q.item.entry_id == 0; });
}

bool Transmitter::entry_waiting(uint32_t entry_id) const {
    return std::any_of(queue_.begin(), queue_.end(),
                       [entry_id](const Queued& q) { return q.item.entry_id == entry_id; });
}

size_t Transmitter::queued_bytes() const {
    size_t total = current_ ? current_->bytes.size() - position_ : 0;
    for (const Queued& q : queue_)
        total += q.item.bytes.size();
    return total;
}

bool Transmitter::start_next(uint64_t now_us, const GapCheck& fits) {
    std::vector<size_t> ready;
    for (size_t i = 0; i < queue_.size(); ++i) {
        if (queue_[i].item.ready_us <= now_us)
            ready.push_back(i);
    }
    std::sort(ready.begin(), ready.end(), [&](size_t a, size_t b) {
        return goes_before(queue_[a].item, queue_[a].order, queue_[b].item, queue_[b].order);
    });
    const uint64_t earliest = now_us > LATE_WAKE_US ? now_us - LATE_WAKE_US : 0;
    for (size_t index : ready) {
        const TxItem& item = queue_[index].item;
        const uint64_t start = std::max({item.ready_us, wire_free_us_, earliest});
        if (start > now_us)
            return false; // the line is still busy
        const uint64_t end = start + char_offset_us(item.bytes.size());
        const bool waited_enough = now_us >= item.ready_us + item.max_wait_us;
        if (item.max_wait_us != 0 && !waited_enough && !fits(item.rank, end))
            continue;
        current_ = std::move(queue_[index].item);
        queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(index));
        position_ = 0;
        start_us_ = start;
        return true;
    }
    return false;
}

TxChunk Transmitter::take_due(uint64_t now_us, const GapCheck& fits) {
    TxChunk chunk{{}, baud_};
    for (;;) {
        if (!current_ && !start_next(now_us, fits))
            break;
        const std::string& bytes = current_->bytes;
        while (position_ < bytes.size() && byte_time(position_) <= now_us + WRITE_AHEAD_US &&
               !holds_last_byte(now_us))
            chunk.bytes += bytes[position_++];
        if (position_ < bytes.size())
            break;
        wire_free_us_ = byte_time(bytes.size());
        const uint32_t switch_to = current_->baud_after;
        current_.reset();
        if (switch_to != 0) {
            baud_ = switch_to;
            break;
        }
    }
    return chunk;
}

// A reply is complete at the other end only when its last character has
// crossed the line: writing it early would let the tool answer sooner than a
// real line allows.
bool Transmitter::holds_last_byte(uint64_t now_us) const {
    return current_->entry_id == 0 && position_ + 1 == current_->bytes.size() &&
           byte_time(position_ + 1) > now_us;
}

uint64_t Transmitter::next_wake_us(uint64_t now_us) const {
    if (current_) {
        if (holds_last_byte(now_us))
            return byte_time(position_ + 1);
        const uint64_t due = byte_time(position_);
        return due > now_us + WRITE_AHEAD_US ? due - WRITE_AHEAD_US : now_us;
    }
    uint64_t wake = UINT64_MAX;
    for (const Queued& q : queue_) {
        uint64_t at = q.item.ready_us;
        if (at <= now_us)
            at = wire_free_us_ > now_us ? wire_free_us_ : q.item.ready_us + q.item.max_wait_us;
        wake = std::min(wake, std::max(at, now_us));
    }
    return wake;
}

} // namespace sim
