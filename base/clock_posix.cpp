#include "base/clock.h"
#include "base/console.h"

#include <cerrno>
#include <sched.h>
#include <time.h>

namespace {

uint64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}

// Taken during static initialisation, before main runs.
const uint64_t program_start_ns = now_ns();

int saved_policy = -1;
sched_param saved_param{};

} // namespace

uint64_t clock_ms() { return (now_ns() - program_start_ns) / 1000000ULL; }

uint64_t clock_us() { return (now_ns() - program_start_ns) / 1000ULL; }

uint64_t clock_ns() { return now_ns() - program_start_ns; }

void sleep_ms(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
        if (termination_requested())
            return;
    }
}

int raise_realtime_priority() {
    saved_policy = sched_getscheduler(0);
    sched_getparam(0, &saved_param);
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    return sched_setscheduler(0, SCHED_FIFO, &param) == 0 ? 0 : -1;
}

void restore_normal_priority() {
    if (saved_policy >= 0)
        sched_setscheduler(0, saved_policy, &saved_param);
    saved_policy = -1;
}
