// Monotonic time and sleeps: the one place the program asks the system for time.
#pragma once
#include <cstdint>

// Milliseconds since the program started, from a monotonic clock.
uint64_t clock_ms();
// Microseconds and nanoseconds since the program started, same clock, for
// interval measurements.
uint64_t clock_us();
uint64_t clock_ns();
// Sleeps for the given time; resumes after signals until it has passed, but
// returns early when the program is asked to end.
void sleep_ms(uint32_t milliseconds);

// Milliseconds left until start + timeout at time now; 0 once it has passed.
inline uint32_t remaining_ms(uint64_t now, uint64_t start, uint32_t timeout) {
    const uint64_t end = start + timeout;
    return now >= end ? 0 : static_cast<uint32_t>(end - now);
}

// Real-time scheduling for measurements that need it. 0 on success, -1 when the
// system refused. restore_normal_priority puts back what was there before.
int raise_realtime_priority();
void restore_normal_priority();
