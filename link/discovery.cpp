#include "link/discovery.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/device_wait.h"
#include "link/frame.h"
#include "link/serial.h"
#include "link/transport.h"

int active_mode = 0;

namespace {

constexpr uint32_t PASS_RATES[2] = {4800, 38400};
constexpr uint32_t SCAN_READ_TIMEOUT_MS = 100;
constexpr uint32_t SETTLE_MS = 500;

// Counts progress characters actually printed, so they can be blanked after;
// what the technician must be told is kept until the progress line is gone.
struct Progress {
    bool quiet = false; // a search repeated while waiting shows nothing
    int printed = 0;
    std::vector<std::string> notes;
    void mark(const char* text) {
        if (!quiet)
            printed += out_print(LEVEL_INFO, "%s", text);
    }
    void blank() {
        if (printed > 0)
            out_print(LEVEL_INFO, "\r%*s\n", printed, "");
        for (const std::string& note : notes) {
            if (!quiet)
                out_print(LEVEL_ERROR, "%s", note.c_str());
        }
    }
};

bool port_open(const SerialLink& link) { return link.port != INVALID_PORT; }

// Opens the link's port at its rate; a port opened anew has not failed yet.
// True when it opened; errno tells why not.
bool open_port(SerialLink& link) {
    link.port = serial_open(link.port_name.c_str(), link.baud_rate);
    link.port_failed = false;
    return port_open(link);
}

void close_port(SerialLink& link) {
    serial_close(link.port);
    link.port = INVALID_PORT;
}

bool skipped_in_second_pass(LinkState state) {
    return state == LINK_IDENTIFIED || state == LINK_ACCESS_DENIED ||
           state == LINK_NOT_AVAILABLE || state == LINK_COMM_ERROR;
}

// A port that refuses the pass's rate (a -b rate its driver cannot run) fails
// only this pass: the next one tries its own rate.
void note_open_failure(SerialLink& link, int open_error, int pass, Progress& progress) {
    out_print(LEVEL_DETAIL, "failed to open serial port: %s\n", link.port_name.c_str());
    if (open_error == EACCES) {
        link.state = LINK_ACCESS_DENIED;
    } else if (open_error == EINVAL && pass == 0) {
        link.state = LINK_NO_DATA;
        link.baud_rate = 0;
    } else {
        link.state = LINK_NOT_AVAILABLE;
    }
    if (open_error == EPERM && pass == 0)
        progress.notes.push_back("Error: no permission to open " + link.port_name + ": " +
                                 serial_permission_hint(link.port_name.c_str()) + "\n");
}

void open_for_scan(SerialLink& link, uint32_t pass_rate, int pass, Progress& progress) {
    if (pass == 1 && skipped_in_second_pass(link.state)) {
        link.port = INVALID_PORT;
        return;
    }
    if (pass == 0)
        link.state = LINK_INIT;
    if (link.baud_rate == 0)
        link.baud_rate = pass_rate;
    progress.mark(".");
    if (!open_port(link))
        note_open_failure(link, errno, pass, progress);
}

int probe(DeviceRecord& record) {
    if (active_mode) {
        const int result = identify_device(record, /*raw=*/0);
        return result < 0 ? identify_device(record, /*raw=*/1) : result;
    }
    const char* sentence = nullptr;
    const int heard = nmea_read_sentence(record, &sentence, SCAN_READ_TIMEOUT_MS);
    return heard < 0 ? heard : identify_device(record, /*raw=*/0);
}

bool identify_on_open_port(DeviceRecord& record, Progress& progress) {
    SerialLink& link = record.link;
    serial_set_read_timeout(link.port, SCAN_READ_TIMEOUT_MS);
    link_rx_clear();
    progress.mark(".");
    const int result = probe(record);
    const bool found = result == 1;
    if (found) {
        progress.mark(":");
        record.model_name = lookup_model(ident_part_number(record));
        link.state = LINK_IDENTIFIED;
    } else {
        link.state = result == RESULT_TIMEOUT ? LINK_NO_DATA : LINK_COMM_ERROR;
        link.baud_rate = 0; // so that the next pass tries its own rate
    }
    close_port(link);
    return found;
}

void settle(Progress& progress) {
    sleep_ms(SETTLE_MS);
    progress.mark(".");
    sleep_ms(SETTLE_MS);
}

const char* serial_text(uint32_t serial, char* buffer, size_t size) {
    if (serial == 0)
        return "?";
    std::snprintf(buffer, size, "%08u", serial);
    return buffer;
}

void print_device_row(const DeviceRecord& record) {
    const uint32_t part = ident_part_number(record);
    const uint16_t version = ident_software(record, 0).version;
    char serial[16];
    std::printf("%-2u  %-8s  %02u-%06u   %-8s  %u.%02u    %-5s  %u\n", record.link.list_number,
                record.model_name ? record.model_name : "-", part_prefix(part),
                part_number_low(part), serial_text(ident_serial(record), serial, sizeof serial),
                version_major(version), version_minor(version), record.link.port_name.c_str(),
                record.link.baud_rate);
}

// Early NC-4100 software does not know the protocol-version query.
bool answers_protocol_query(const DeviceRecord& record) {
    const uint16_t version = ident_software(record, 0).version;
    return !(model_is(record, "NC-4100") &&
             (version_major(version) == 0 || version_minor(version) <= 1));
}

void print_protocol_warning() {
    std::printf("This version of the NC-Service tool does not support the version of the \n"
                "device. Please update the NC-Service tool.\nLimited services will be available.\n");
    std::fflush(stdout);
}

int32_t query_protocol_version(DeviceRecord& record) {
    if (shell_transact(record, "cfg v\r", shell_reply_buffer, SHELL_REPLY_SIZE,
                       link_timeout_ms(record)) < 0)
        return -1;
    const char* line_end = std::strchr(shell_reply_buffer, '\n');
    unsigned version = 0, revision = 0;
    if (!line_end || std::sscanf(line_end + 1, "%u %u", &version, &revision) != 2)
        return -1;
    return static_cast<int32_t>(version);
}

} // namespace

int identify_device(DeviceRecord& record, int raw) {
    return identify_device_within(record, raw, link_timeout_ms(record));
}

int identify_device_within(DeviceRecord& record, int raw, uint32_t timeout_ms) {
    const uint8_t request[FRAME_HEADER_SIZE] = {FRAME_IDENTIFY_REQUEST, 0, 0, 0};
    return frame_transact(record, request, FRAME_IDENTIFY_ANSWER, record.identification,
                          sizeof record.identification, timeout_ms, raw);
}

namespace {

int scan_with(DeviceRecord* records, uint32_t count, Progress& progress) {
    int identified = 0;
    for (int pass = 0; pass < 2 && !termination_requested(); ++pass) {
        for (uint32_t i = 0; i < count; ++i)
            open_for_scan(records[i].link, PASS_RATES[pass], pass, progress);
        settle(progress);
        for (uint32_t i = 0; i < count; ++i) {
            if (port_open(records[i].link) && identify_on_open_port(records[i], progress))
                ++identified;
        }
    }
    progress.blank();
    return identified;
}

} // namespace

int scan_devices(DeviceRecord* records, uint32_t count) {
    Progress progress;
    return scan_with(records, count, progress);
}

int scan_devices_quietly(DeviceRecord* records, uint32_t count) {
    Progress progress;
    progress.quiet = true;
    return scan_with(records, count, progress);
}

uint32_t show_devices(DeviceRecord* records, uint32_t count, uint32_t serial_filter) {
    uint32_t listed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        DeviceRecord& record = records[i];
        if (record.link.state != LINK_IDENTIFIED)
            continue;
        const uint32_t serial = ident_serial(record);
        if (serial_filter != 0 && serial != serial_filter) {
            out_print(LEVEL_DETAIL, "Device with no matching serial number: %08u\n", serial);
            continue;
        }
        if (listed == 0)
            std::printf("\nNo  Model     Part no     Serial    SW ver  Port   Baudrate\n");
        record.link.list_number = ++listed;
        print_device_row(record);
    }
    std::fflush(stdout);
    return listed;
}

void describe_ports(const DeviceRecord* records, uint32_t count) {
    if (!verbose_mode)
        return; // reading sysfs is for nothing then
    for (uint32_t i = 0; i < count; ++i) {
        const std::string& port = records[i].link.port_name;
        const std::string adapter = serial_port_description(port.c_str());
        if (!adapter.empty())
            out_print(LEVEL_DETAIL, "%s: %s\n", port.c_str(), adapter.c_str());
    }
}

void show_ports(const DeviceRecord* records, uint32_t count) {
    std::printf("\nPort     Info\n");
    for (uint32_t i = 0; i < count; ++i) {
        const SerialLink& link = records[i].link;
        std::printf("%-8s %s%s\n", link.port_name.c_str(), link_state_name(link.state),
                    link.state == LINK_ACCESS_DENIED ? " (might be opened by another application)"
                                                     : "");
    }
    std::fflush(stdout);
}

DeviceRecord* select_device(DeviceRecord* records, uint32_t count, uint32_t listed) {
    uint32_t choice = 1;
    if (listed > 1) {
        std::printf("\nMultiple devices found, please select one of the devices (1-%u)\n", listed);
        choice = 0;
        while (choice < 1 || choice > listed) {
            std::printf("> ");
            std::fflush(stdout);
            char line[16] = {};
            const int n = read_input(line, sizeof line - 1);
            if (n < 0)
                return nullptr;
            const unsigned long value = std::strtoul(line, nullptr, 10);
            choice = value <= listed ? static_cast<uint32_t>(value) : 0;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (records[i].link.state == LINK_IDENTIFIED && records[i].link.list_number == choice)
            return &records[i];
    }
    return nullptr;
}

int connect_device(DeviceRecord& record) {
    SerialLink& link = record.link;
    if (!open_port(link)) {
        const int open_error = errno;
        out_print(LEVEL_ERROR, "failed to open serial port: %s\n", link.port_name.c_str());
        if (open_error == EPERM)
            out_print(LEVEL_ERROR, "Error: no permission to open %s: %s\n",
                      link.port_name.c_str(),
                      serial_permission_hint(link.port_name.c_str()).c_str());
        return RESULT_FAILED;
    }
    serial_set_read_timeout(link.port, SCAN_READ_TIMEOUT_MS);
    link_rx_clear();
    if (!application_running(record)) {
        out_print(LEVEL_INFO, "\nDevice in rescue-mode (ready for software upload)\n\n");
        return 0;
    }
    if (shell_transact(record, "kestrel\r\r", shell_reply_buffer, SHELL_REPLY_SIZE,
                       link_timeout_ms(record)) < 0) {
        out_print(LEVEL_ERROR, "failed to connect to device: %s (%s)\n",
                  record.model_name ? record.model_name : "?", link.port_name.c_str());
        return RESULT_FAILED;
    }
    link.state = LINK_CONNECTED;
    out_print(LEVEL_INFO, "\nConnected to %s (serial:%08u) at %s\n\n",
              record.model_name ? record.model_name : "?", ident_serial(record),
              link.port_name.c_str());
    record.protocol_version = 0;
    if (!answers_protocol_query(record))
        return 0;
    record.protocol_version = query_protocol_version(record);
    if (record.protocol_version != 0)
        print_protocol_warning();
    return 0;
}

int reconnect_device(DeviceRecord& record) {
    if (record.link.port != INVALID_PORT)
        close_port(record.link);
    if (device_wait_seconds > 0)
        return wait_and_reconnect(record);
    record.link.baud_rate = 0;
    if (scan_devices(&record, 1) == 0)
        return RESULT_FAILED;
    const int result = connect_device(record);
    return result < 0 ? result : 0;
}
