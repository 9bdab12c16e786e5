// Arbitrary bytes through the stream analyser at arbitrary arrival times: the
// first two bytes choose the line rate and the clock's pace.
#include <cstddef>
#include <cstdint>

#include "reports/stream_stats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    static const uint32_t rates[] = {4800, 38400, 115200, 1};
    StatFramer framer;
    StreamAnalyser analyser(framer, rates[data[0] % 4], 1000);
    uint64_t now_ns = 0;
    int64_t wall = 1000;
    for (size_t i = 2; i < size; ++i) {
        now_ns += (static_cast<uint64_t>(data[1]) << (data[i] % 24)) + 1;
        wall = 1000 + static_cast<int64_t>(now_ns / 1'000'000'000);
        analyser.feed(data[i], now_ns, wall);
    }
    analyser.table_rows();
    analyser.counter_lines();
    return 0;
}
