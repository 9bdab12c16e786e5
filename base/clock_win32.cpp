// Time and priority on Windows: the system's millisecond tick count for
// deadlines, the performance counter for interval measurements.
#include "base/clock.h"
#include "base/console_win32.h"

namespace {

uint64_t counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

uint64_t counter_frequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

// Taken during static initialisation, before main runs. The 64-bit tick
// count, since the 32-bit one wraps after 49.7 days of uptime.
const uint64_t program_start_ticks = GetTickCount64();
const uint64_t program_start_count = counter_now();
const uint64_t count_frequency = counter_frequency();

DWORD saved_priority_class = 0;

// Split so that counts times 10^9 cannot overflow.
uint64_t counts_to_ns(uint64_t counts) {
    const uint64_t whole_seconds = counts / count_frequency;
    const uint64_t rest = counts % count_frequency;
    return whole_seconds * 1000000000ULL + rest * 1000000000ULL / count_frequency;
}

} // namespace

uint64_t clock_ms() { return GetTickCount64() - program_start_ticks; }

uint64_t clock_us() { return clock_ns() / 1000ULL; }

uint64_t clock_ns() { return counts_to_ns(counter_now() - program_start_count); }

// Wakes early when the program is asked to end.
void sleep_ms(uint32_t milliseconds) {
    const HANDLE ended = termination_event();
    if (!ended || WaitForSingleObject(ended, milliseconds) == WAIT_FAILED)
        Sleep(milliseconds);
}

int raise_realtime_priority() {
    saved_priority_class = GetPriorityClass(GetCurrentProcess());
    // Without the privilege Windows quietly grants the high class instead.
    if (!SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS))
        return -1;
    return GetPriorityClass(GetCurrentProcess()) == REALTIME_PRIORITY_CLASS ? 0 : -1;
}

void restore_normal_priority() {
    if (saved_priority_class != 0)
        SetPriorityClass(GetCurrentProcess(), saved_priority_class);
    saved_priority_class = 0;
}
