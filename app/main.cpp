// Start-up: options, console and log, discovery, choice of the device,
// connection, then one command or the interactive loop, and closing down.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/commands.h"
#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "base/text.h"
#include "base/version.h"
#include "link/crc16.h"
#include "link/device_wait.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "link/transport.h"

namespace {

struct Options {
    const char* port = nullptr;
    uint32_t baud = 0;
    const char* log_path = nullptr;
    uint32_t serial_filter = 0;
    int word_count = 0;
    char** words = nullptr;
};

enum class ParseOutcome { Run, Help, Error };

void print_usage(FILE* stream, const char* program) {
    std::fprintf(stream, "Usage: %s [options] [cmd [options]]\n", program);
    std::fputs("Options:\n"
               "-a            Active mode (connects without waiting for NMEA data)\n"
               "-p <port>     Com port\n"
               "-b <rate>     Baud rate (4800 or 38400)\n"
               "-l <filename> Log device communication to file\n"
               "-s <serial>   Serial number of device\n"
               "-q            Quiet, do not print user information\n"
               "-v            Verbose, print detailed user information\n"
               "-w <seconds>  Wait this long for a lost device to come back\n"
               "cmd           Command, see description below\n",
               stream);
}

// An option's number, or an error line naming what was wrong with it.
bool read_option_number(const char* what, const char* text, uint32_t* value) {
    if (read_u32(text, value))
        return true;
    std::fprintf(stderr, "Error: Invalid %s: %s\n", what, text);
    return false;
}

ParseOutcome parse_options(int argc, char** argv, Options& options) {
    int option = 0;
    while ((option = getopt(argc, argv, "+ab:hl:p:s:vqw:")) != -1) {
        switch (option) {
        case 'a': active_mode = 1; break;
        case 'b':
            if (!read_option_number("baud rate", optarg, &options.baud))
                return ParseOutcome::Error;
            break;
        case 'h': return ParseOutcome::Help;
        case 'l': options.log_path = optarg; break;
        case 'p': options.port = optarg; break;
        case 's':
            if (!read_option_number("serial number", optarg, &options.serial_filter))
                return ParseOutcome::Error;
            break;
        case 'q': quiet_mode = 1; break;
        case 'w':
            if (!read_option_number("wait time", optarg, &device_wait_seconds))
                return ParseOutcome::Error;
            break;
        case 'v': verbose_mode = 1; break;
        default: return ParseOutcome::Error;
        }
    }
    if (optind < argc) {
        options.word_count = argc - optind;
        options.words = argv + optind;
    }
    return ParseOutcome::Run;
}

DeviceRecord make_record(std::string port_name, uint32_t baud) {
    DeviceRecord record;
    record.link.port_name = std::move(port_name);
    record.link.baud_rate = baud;
    return record;
}

std::vector<DeviceRecord> build_records(const Options& options, bool quiet = false) {
    std::vector<DeviceRecord> records;
    if (options.port) {
        records.push_back(make_record(options.port, options.baud));
        return records;
    }
    const std::vector<std::string> ports = serial_list_ports();
    if (ports.empty()) {
        if (!quiet)
            out_print(LEVEL_ERROR, "No available serial ports\n");
        return records;
    }
    for (const std::string& port : ports)
        records.push_back(make_record(port, 0));
    if (!quiet)
        out_print(LEVEL_INFO, "searching for NC navigation devices:\n");
    return records;
}

// An identified device that passes the -s filter.
bool any_listed(const std::vector<DeviceRecord>& records, uint32_t serial_filter) {
    for (const DeviceRecord& record : records) {
        if (record.link.state == LINK_IDENTIFIED &&
            (serial_filter == 0 || ident_serial(record) == serial_filter))
            return true;
    }
    return false;
}

void close_down(DeviceRecord* device) {
    if (device && device->link.state == LINK_CONNECTED)
        shell_transact(*device, "exit\r", nullptr, 0, link_timeout_ms(*device));
    if (device && device->link.port != INVALID_PORT) {
        serial_close(device->link.port);
        device->link.port = INVALID_PORT;
    }
    restore_input_mode();
    log_close();
}

// With -w and nothing found at start-up: the search again, quietly, on the
// ports there are now, until a device (the one asked for with -s) answers.
uint32_t wait_for_a_device(std::vector<DeviceRecord>& records, const Options& options) {
    announce_wait("a device");
    const uint64_t deadline = clock_ms() + uint64_t{device_wait_seconds} * 1000;
    const auto look = [&] {
        std::vector<DeviceRecord> now = build_records(options, /*quiet=*/true);
        if (now.empty() || scan_devices_quietly(now.data(), static_cast<uint32_t>(now.size())) == 0 ||
            !any_listed(now, options.serial_filter))
            return false;
        records = std::move(now);
        return true;
    };
    if (wait_until_found(deadline, look) != 1)
        return 0;
    return show_devices(records.data(), static_cast<uint32_t>(records.size()), options.serial_filter);
}

int report_nothing_found(std::vector<DeviceRecord>& records, int argc) {
    show_ports(records.data(), static_cast<uint32_t>(records.size()));
    std::printf("\nNo devices found\n");
    if (argc == 1)
        wait_for_enter();
    close_down(nullptr);
    return 1;
}

constexpr int EXIT_SETTINGS_DIFFER = 3; // for scripts that check a fleet

// The exit status: 0, or 3 when a one-shot settings compare found a difference.
int run_session(DeviceRecord& device, const Options& options, int argc) {
    if (connect_device(device) < 0)
        return 0;
    active_mode = 1; // every later search for this device asks it directly
    if (options.word_count == 0) {
        interactive_loop(device, argc);
        return 0;
    }
    interactive_mode = 0;
    const int32_t result = run_command(device, options.word_count, options.words);
    return result == RESULT_SETTINGS_DIFFER ? EXIT_SETTINGS_DIFFER : 0;
}

int run_tool(int argc, char** argv) {
    Options options;
    switch (parse_options(argc, argv, options)) {
    case ParseOutcome::Help: print_usage(stdout, argv[0]); return 0;
    case ParseOutcome::Error: print_usage(stderr, argv[0]); return 1;
    case ParseOutcome::Run: break;
    }
    console_setup("NC-Service Tool");
    set_input_mode(INPUT_COMMAND);
    crc16_init_table();
    transport_init();
    if (log_open(options.log_path) < 0) {
        restore_input_mode();
        return 1;
    }
    out_print(LEVEL_INFO, "NC-Service Tool, %s, version: %u.%02u\n\n", TOOL_PART_NUMBER,
              TOOL_VERSION_MAJOR, TOOL_VERSION_MINOR);
    out_print(LEVEL_INFO, "Type 'help' to get a list of all available commands\n\n");

    std::vector<DeviceRecord> records = build_records(options);
    const uint32_t count = static_cast<uint32_t>(records.size());
    describe_ports(records.data(), count);
    if (count > 0)
        scan_devices(records.data(), count);
    if (termination_requested()) {
        close_down(nullptr);
        return 1;
    }
    uint32_t listed = show_devices(records.data(), count, options.serial_filter);
    if (listed == 0 && device_wait_seconds > 0)
        listed = wait_for_a_device(records, options);
    if (termination_requested()) {
        close_down(nullptr);
        return 1;
    }
    if (listed == 0)
        return report_nothing_found(records, argc);
    DeviceRecord* device =
        select_device(records.data(), static_cast<uint32_t>(records.size()), listed);
    if (!device) {
        close_down(nullptr);
        return 1; // input ended before a device was chosen
    }
    const int status = run_session(*device, options, argc);
    close_down(device);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    guard_standard_descriptors();
    int status = 1;
    try {
        status = run_tool(argc, argv);
    } catch (const std::bad_alloc&) {
        out_print(LEVEL_ERROR, "out of memory\n");
        restore_input_mode();
        log_close();
    }
    // Ended by Ctrl-C or a signal: the closing steps are done, now end as that
    // signal asks, so that the caller sees why.
    end_on_pending_signal();
    return status;
}
