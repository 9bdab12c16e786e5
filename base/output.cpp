// Leveled output, the traffic log and bounded formatting: portable parts of the console.
#include <cerrno>
#include <cstring>

#include "base/clock.h"
#include "base/console.h"

int quiet_mode = 0;
int verbose_mode = 0;
FILE* traffic_log = nullptr;

namespace {

FILE* stream_for_level(int level) {
    if (level == LEVEL_ERROR)
        return stderr;
    if (level == LEVEL_INFO)
        return (!quiet_mode || verbose_mode) ? stdout : nullptr;
    return verbose_mode ? stdout : nullptr;
}

} // namespace

int out_print(int level, const char* format, ...) {
    FILE* stream = stream_for_level(level);
    if (!stream)
        return 0;
    // Errors and information may interleave on a terminal: keep their order.
    if (stream == stderr)
        std::fflush(stdout);
    va_list args;
    va_start(args, format);
    const int printed = std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
    return printed < 0 ? 0 : printed;
}

int log_open(const char* path) {
    if (!path)
        return 0;
    out_print(LEVEL_DETAIL, "Open log file:%s\n", path);
    // Binary, so that the log holds the bytes exchanged: in text mode Windows
    // would turn a sentence's CR LF into CR CR LF.
    traffic_log = std::fopen(path, "wb");
    if (!traffic_log) {
        out_print(LEVEL_ERROR, "ERROR opening log file:%s, %s\n", path, std::strerror(errno));
        return -1;
    }
    return 0;
}

void log_close() {
    if (traffic_log)
        std::fclose(traffic_log);
    traffic_log = nullptr;
}

void log_traffic(const char* prefix, const char* suffix, int raw, const uint8_t* bytes,
                 uint32_t count) {
    if (!traffic_log)
        return;
    std::fprintf(traffic_log, "%lu ", static_cast<unsigned long>(clock_ms()));
    std::fputs(prefix, traffic_log);
    if (raw) {
        std::fwrite(bytes, 1, count, traffic_log);
    } else {
        for (uint32_t i = 0; i < count; ++i)
            std::fprintf(traffic_log, "%02x", bytes[i]);
    }
    if (suffix)
        std::fputs(suffix, traffic_log);
    std::fflush(traffic_log);
}

int format_bounded(char* buffer, size_t size, const char* format, ...) {
    if (size == 0)
        return 0;
    va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    if (wanted < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(wanted) < size ? wanted : static_cast<int>(size - 1);
}
