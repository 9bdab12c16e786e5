#include "link/device_wait.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/discovery.h"
#include "link/serial.h"
#include "link/transport.h"

uint32_t device_wait_seconds = 0;

namespace {

constexpr uint32_t LOOK_INTERVAL_MS = 250;
constexpr uint32_t READ_TIMEOUT_MS = 100;
// Long enough for the identification answer at the rate, short enough that a
// silent port does not hold up the search (the link's own time-out is seconds).
uint32_t answer_timeout_ms(uint32_t baud) { return baud <= 4800 ? 1000 : 400; }
constexpr uint32_t USUAL_RATES[2] = {4800, 38400};

// Shows the whole seconds left, in place, when they change.
struct TimeLeft {
    bool shown = false;
    uint64_t last_seconds = UINT64_MAX;
    void show(uint64_t left_ms) {
        const uint64_t seconds = (left_ms + 999) / 1000;
        if (!console_output_is_terminal() || seconds == last_seconds)
            return;
        last_seconds = seconds;
        shown |= out_print(LEVEL_INFO, "\r%llu s left ", static_cast<unsigned long long>(seconds)) > 0;
        std::fflush(stdout);
    }
    void blank() {
        if (shown)
            out_print(LEVEL_INFO, "\r%20s\r", "");
        std::fflush(stdout);
    }
};

// The rates to ask at: the device's own first, then the other usual one.
std::vector<uint32_t> rates_to_try(uint32_t known) {
    std::vector<uint32_t> rates;
    if (known != 0)
        rates.push_back(known);
    for (uint32_t rate : USUAL_RATES) {
        if (rate != known)
            rates.push_back(rate);
    }
    return rates;
}

// Asks the device on one port at one rate who it is, directly: in sentences,
// and at the rate it had also as raw bytes (as a bootloader answers). The
// candidate keeps its answer.
bool answers_as(DeviceRecord& candidate, uint32_t serial, bool also_raw) {
    SerialLink& link = candidate.link;
    link.port = serial_open(link.port_name.c_str(), link.baud_rate);
    if (link.port == INVALID_PORT)
        return false;
    link.port_failed = false;
    serial_set_read_timeout(link.port, READ_TIMEOUT_MS);
    link_rx_clear();
    const uint32_t timeout = answer_timeout_ms(link.baud_rate);
    int result = identify_device_within(candidate, /*raw=*/0, timeout);
    if (also_raw && result < 0 && result != RESULT_QUIT && !link.port_failed)
        result = identify_device_within(candidate, /*raw=*/1, timeout);
    serial_close(link.port);
    link.port = INVALID_PORT;
    return result == 1 && ident_serial(candidate) == serial;
}

// What a reconnect looks at: the port the device was on (a name such as
// /dev/serial/by-id/... follows the device by itself), and every port that
// was not there when the wait began, as a returning adapter may get a new name.
struct Search {
    DeviceRecord& record;
    std::string home_port;
    uint32_t serial;
    std::vector<std::string> ports_before;

    std::vector<std::string> candidates() const {
        std::vector<std::string> ports{home_port};
        for (const std::string& port : serial_list_ports()) {
            if (port != home_port &&
                std::find(ports_before.begin(), ports_before.end(), port) == ports_before.end())
                ports.push_back(port);
        }
        return ports;
    }

    bool look() {
        for (const std::string& port : candidates()) {
            for (uint32_t rate : rates_to_try(record.link.baud_rate)) {
                DeviceRecord candidate = record;
                candidate.link.port_name = port;
                candidate.link.baud_rate = rate;
                candidate.link.port = INVALID_PORT;
                if (termination_requested())
                    return false;
                if (answers_as(candidate, serial, rate == record.link.baud_rate)) {
                    take_answer(candidate);
                    return true;
                }
            }
        }
        return false;
    }

    // The device may have come back with other software (after an upload)
    // or in rescue mode.
    void take_answer(const DeviceRecord& candidate) {
        std::copy(std::begin(candidate.identification), std::end(candidate.identification),
                  std::begin(record.identification));
        record.model_name = lookup_model(ident_part_number(record));
        record.link.port_name = candidate.link.port_name;
        record.link.baud_rate = candidate.link.baud_rate;
        record.link.state = LINK_IDENTIFIED;
    }
};

std::string device_text(const DeviceRecord& record) {
    char text[64];
    std::snprintf(text, sizeof text, "%s (serial:%08u)", record.model_name ? record.model_name : "?",
                  ident_serial(record));
    return text;
}

} // namespace

void announce_wait(const char* what) {
    out_print(LEVEL_INFO, "Waiting up to %u s for %s, press ESC or Ctrl-C to stop\n",
              device_wait_seconds, what);
}

int wait_until_found(uint64_t deadline_ms, const std::function<bool()>& look) {
    set_input_mode(0); // keys one by one, without echo, for ESC
    TimeLeft time_left;
    int outcome = 0;
    for (;;) {
        const uint64_t now = clock_ms();
        if (now >= deadline_ms)
            break;
        time_left.show(deadline_ms - now);
        if (look()) {
            outcome = 1;
            break;
        }
        const uint64_t left = deadline_ms - std::min(deadline_ms, clock_ms());
        const int key = wait_for_key(static_cast<uint32_t>(std::min<uint64_t>(LOOK_INTERVAL_MS, left)));
        if (key < 0 || termination_requested()) {
            outcome = RESULT_QUIT;
            break;
        }
        if (key == KEY_ESC)
            break;
    }
    time_left.blank();
    set_input_mode(INPUT_COMMAND);
    return outcome;
}

int wait_and_reconnect(DeviceRecord& record) {
    record.link.state = LINK_NO_DATA;
    Search search{record, record.link.port_name, ident_serial(record), serial_list_ports()};
    announce_wait(device_text(record).c_str());
    const uint64_t deadline = clock_ms() + uint64_t{device_wait_seconds} * 1000;
    for (;;) {
        const int found = wait_until_found(deadline, [&search] { return search.look(); });
        if (found <= 0)
            return found == RESULT_QUIT ? RESULT_QUIT : RESULT_FAILED;
        if (connect_device(record) >= 0)
            return 0;
        // Answered, but did not take the login: give it the time that is left.
        if (record.link.port != INVALID_PORT) {
            serial_close(record.link.port);
            record.link.port = INVALID_PORT;
        }
    }
}
