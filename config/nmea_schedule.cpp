#include "config/nmea_schedule.h"

#include <cstring>

#include "base/console.h"

namespace {

constexpr uint64_t OFFSET_STEP_MS = 25;

struct SentenceLength {
    const char* formatter;
    uint32_t length;
};

const SentenceLength sentence_length_table[] = {
    {"THS", 19}, {"HDT", 19}, {"att", 34}, {"HDG", 35},
    {"HDM", 19}, {"ROT", 21}, {"XDR", 36}, {"MDA", 73},
};

// Where the next sentence goes. Signed where room can run out.
struct Slot {
    uint64_t slot_ms = 0;   // m: the shortest interval
    uint64_t base_load = 0; // S: characters of the sentences at m
    int64_t empty_room = 0; // R0: room of a slot that holds only the base load
    int64_t room = 0;       // R: room left in the current slot
    uint64_t position = 0;  // P: characters used in the current slot
    uint64_t base_fill = 0; // Q: characters of the base sentences placed so far
    uint64_t start_ms = 0;  // T: start of the current slot
    uint32_t placed = 0;    // K: slower sentences in the current slot
};

uint64_t step_down(uint64_t ms) {
    return ms / OFFSET_STEP_MS * OFFSET_STEP_MS;
}

bool is_placed(const SentenceEntry& entry) {
    return entry.interval != 0 && nmea_fixed_interval(entry.formatter) < 0;
}

uint64_t shortest_interval(const std::vector<SentenceEntry>& entries) {
    uint64_t shortest = 0;
    for (const SentenceEntry& entry : entries) {
        if (entry.interval != 0 && (shortest == 0 || entry.interval < shortest))
            shortest = entry.interval;
    }
    return shortest;
}

uint64_t place_base(Slot& slot, const SentenceEntry& entry, uint32_t baud) {
    uint64_t offset = step_down(nmea_transmission_ms(slot.base_fill, baud));
    if (offset > slot.slot_ms) {
        out_print(LEVEL_ERROR, "Warning: too many sentences assigned to the %ums interval\n",
                  static_cast<unsigned>(slot.slot_ms));
        offset = 0;
    }
    slot.base_fill += entry.length;
    return offset;
}

// A slower sentence; returns its offset and sets its jitter.
uint64_t place_slower(Slot& slot, const SentenceEntry& entry, uint32_t baud, uint64_t* jitter) {
    const uint64_t interval = entry.interval;
    const int64_t length = entry.length;
    *jitter = 0;
    if (length < slot.room) {
        const uint64_t offset =
            (step_down(nmea_transmission_ms(slot.position, baud)) + slot.start_ms) % interval;
        slot.position += entry.length;
        slot.room -= length;
        ++slot.placed;
        return offset;
    }
    if (slot.placed == 0) { // runs over into the next slot
        *jitter = nmea_transmission_ms(
            static_cast<uint64_t>(slot.room > 0 ? length - slot.room : length), baud);
        const uint64_t offset =
            (step_down(nmea_transmission_ms(slot.position, baud)) + slot.start_ms) % interval;
        slot.room = slot.empty_room;
        slot.start_ms += slot.slot_ms;
        slot.position = slot.base_load;
        return offset;
    }
    slot.room = slot.empty_room - length; // first in the next slot
    if (slot.room < 0)
        *jitter = nmea_transmission_ms(static_cast<uint64_t>(-slot.room), baud);
    slot.start_ms += slot.slot_ms;
    slot.placed = 1;
    slot.position = slot.base_load + entry.length;
    return (step_down(nmea_transmission_ms(slot.base_load, baud)) + slot.start_ms) % interval;
}

} // namespace

uint32_t nmea_sentence_length(const char* formatter) {
    for (const SentenceLength& entry : sentence_length_table) {
        if (std::strcmp(entry.formatter, formatter) == 0)
            return entry.length;
    }
    return 0;
}

uint64_t nmea_transmission_ms(uint64_t characters, uint32_t baud) {
    return baud == 0 ? 0 : characters * 10000 / baud;
}

void nmea_schedule(std::vector<SentenceEntry>& entries, uint32_t baud) {
    for (SentenceEntry& entry : entries)
        entry.offset = 0;
    Slot slot;
    slot.slot_ms = shortest_interval(entries);
    if (slot.slot_ms == 0 || baud == 0)
        return;
    for (const SentenceEntry& entry : entries) {
        if (entry.interval == slot.slot_ms)
            slot.base_load += entry.length;
    }
    // In 64 bits: slots longer than about 111.8 s at 38400 baud would wrap in 32.
    const uint64_t capacity = slot.slot_ms * baud / 10000;
    slot.empty_room = static_cast<int64_t>(capacity) - static_cast<int64_t>(slot.base_load);
    if (capacity <= slot.base_load) {
        out_print(LEVEL_DETAIL, "Warning: high frequency sentences cause %ums jitter\n",
                  static_cast<unsigned>(nmea_transmission_ms(slot.base_load - capacity, baud)));
        slot.room = 0;
    } else {
        slot.room = slot.empty_room;
    }
    slot.position = slot.base_load;
    for (SentenceEntry& entry : entries) {
        if (!is_placed(entry))
            continue;
        uint64_t jitter = 0;
        const uint64_t offset = entry.interval == slot.slot_ms
                                    ? place_base(slot, entry, baud)
                                    : place_slower(slot, entry, baud, &jitter);
        entry.offset = static_cast<uint32_t>(offset);
        out_print(LEVEL_DETAIL, "sentence: %s, intv: %4u, offset: %3ums, jitter: %ums\n",
                  entry.formatter, entry.interval, entry.offset, static_cast<unsigned>(jitter));
    }
}
