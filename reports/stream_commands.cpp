// mon and stat: the raw stream on the line, and its analysis.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/command_registry.h"
#include "link/serial.h"
#include "reports/keys.h"
#include "reports/stream_stats.h"

namespace {

constexpr uint32_t MON_READ_SIZE = 1024;
// What arrives within this is shown at once: fifty writes a second at most.
constexpr uint32_t MON_GATHER_MS = 20;
constexpr uint32_t DRAIN_LIMIT_MS = 1000;
constexpr uint32_t PRIORITY_FAILURE_PAUSE_MS = 2000;
constexpr uint16_t COUNTER_ROW = 30;
constexpr uint16_t STAT_EXIT_ROW = 37;

int32_t mon_command(DeviceRecord& device, int32_t, char**) {
    set_input_mode(0);
    for (;;) {
        uint8_t bytes[MON_READ_SIZE];
        const int n = serial_read(device.link.port, bytes, sizeof bytes);
        if (n < 0)
            return n == RESULT_QUIT ? 0 : n;
        if (n > 0)
            write_console(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(n));
        if (pending_keys() == KeyOutcome::LEAVE)
            return 0;
        // Drained: let the next bytes gather instead of waking for each few.
        if (n > 0 && static_cast<uint32_t>(n) < sizeof bytes)
            sleep_ms(MON_GATHER_MS);
    }
}

// ---------------------------------------------------------------- stat

struct StatRun {
    DeviceRecord& device;
    FILE* log = nullptr;
    const char* log_path = nullptr;
    bool redraw = true;
};

// When the table was last refreshed, for the whole program run.
int64_t last_refresh = -1;

int64_t wall_seconds() { return static_cast<int64_t>(std::time(nullptr)); }

bool valid_arguments(int32_t argc, char** argv) {
    return argc == 1 || (argc == 3 && std::strcmp(argv[1], "-l") == 0);
}

// Before the measurement: what has queued up belongs to no sentence timing.
void drain_input(PortHandle port) {
    serial_purge_rx(port);
    const uint64_t start = clock_ms();
    uint8_t byte = 0;
    while (clock_ms() - start <= DRAIN_LIMIT_MS && serial_read(port, &byte, 1) > 0) {
    }
}

void raise_priority() {
    if (raise_realtime_priority() == 0)
        return;
    std::printf("Failed to set real-time process priority\n");
    std::fflush(stdout);
    sleep_ms(PRIORITY_FAILURE_PAUSE_MS);
}

void log_sentence(StatRun& run, const StreamAnalyser& analyser) {
    if (!run.log)
        return;
    // Milliseconds since the program started: never negative, however long
    // the machine has been up.
    std::fputs(stat_log_prefix(analyser.last_start_ns() / 1'000'000, analyser.last_interval()).c_str(),
               run.log);
    const std::string_view sentence = analyser.last_sentence();
    std::fwrite(sentence.data(), 1, sentence.size(), run.log);
}

void show_table(StatRun& run, const StreamAnalyser& analyser) {
    const bool header = run.redraw;
    if (run.redraw) {
        clear_screen();
        set_input_mode(INPUT_HIDE_CURSOR);
        std::fputs("Id       length  [freq  avg] [intv  avg  min  max] brk  cnt", stdout);
        run.redraw = false;
    }
    const int64_t now = wall_seconds();
    if (last_refresh < 0)
        last_refresh = now;
    if (now > last_refresh) {
        last_refresh = now;
        set_cursor_position(0, 2);
        for (const std::string& row : analyser.table_rows())
            std::fputs(row.c_str(), stdout);
        set_cursor_position(0, COUNTER_ROW);
        for (const std::string& line : analyser.counter_lines())
            std::fputs(line.c_str(), stdout);
        if (header)
            std::fputs("\npress ECS to interrupt", stdout);
    }
    std::fflush(stdout);
}

// Feeds what one read brought; every byte carries the time of that read.
int32_t analyse(StatRun& run, StreamAnalyser& analyser, const uint8_t* bytes, int count) {
    const uint64_t now_ns = clock_ns();
    const int64_t now = wall_seconds();
    for (int i = 0; i < count; ++i) {
        const StreamAnalyser::Fed fed = analyser.feed(bytes[i], now_ns, now);
        if (fed == StreamAnalyser::Fed::OUT_OF_MEMORY)
            return RESULT_FAILED;
        if (fed == StreamAnalyser::Fed::SENTENCE)
            log_sentence(run, analyser);
    }
    return 0;
}

int32_t measure(StatRun& run) {
    PortHandle port = run.device.link.port;
    StreamAnalyser analyser(stat_framer, run.device.link.baud_rate, wall_seconds());
    for (;;) {
        uint8_t bytes[64];
        const int n = serial_read(port, bytes, sizeof bytes);
        if (n == RESULT_QUIT)
            return 0;
        if (n < 0) {
            out_print(LEVEL_ERROR, "Error reading device\n");
            return n;
        }
        if (analyse(run, analyser, bytes, n) < 0)
            return RESULT_FAILED;
        show_table(run, analyser);
        const KeyOutcome keys = pending_keys();
        if (keys == KeyOutcome::LEAVE)
            return 0;
        if (keys == KeyOutcome::REDRAW)
            run.redraw = true;
    }
}

void close_log(StatRun& run) {
    if (!run.log)
        return;
    const bool written = !std::ferror(run.log);
    if (std::fclose(run.log) != 0 || !written)
        out_print(LEVEL_ERROR, "Error: writing %s failed: %s\n", run.log_path, std::strerror(errno));
    run.log = nullptr;
}

int32_t stat_command(DeviceRecord& device, int32_t argc, char** argv) {
    // After a failed reconnect the link has no rate and no port.
    if (device.link.baud_rate == 0 || device.link.port == INVALID_PORT) {
        out_print(LEVEL_ERROR, "Error reading device\n");
        return RESULT_PORT_ERROR;
    }
    if (!valid_arguments(argc, argv)) {
        out_print(LEVEL_ERROR, "ERROR unknown argument\n");
        return 0;
    }
    StatRun run{device};
    if (argc == 3) {
        run.log_path = argv[2];
        run.log = std::fopen(run.log_path, "wb");
        if (!run.log) {
            out_print(LEVEL_ERROR, "ERROR opening file: %s, %s\n", run.log_path,
                      std::strerror(errno));
            return 0;
        }
    }
    raise_priority();
    drain_input(device.link.port);
    const int32_t result = measure(run);
    restore_normal_priority();
    close_log(run);
    set_cursor_position(0, STAT_EXIT_ROW);
    std::fflush(stdout);
    return result;
}

REGISTER_COMMAND("mon", mon_command);
REGISTER_COMMAND("stat", stat_command);

} // namespace
