#include "link/ncterm.h"

#include <cstring>
#include <string_view>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/command_registry.h"
#include "link/discovery.h"
#include "link/transport.h"

namespace {

constexpr char LOGIN_PROMPT[] = "User:";
constexpr uint32_t PROMPT_LENGTH = sizeof LOGIN_PROMPT - 1;
constexpr uint32_t SETTLE_MS = 500;
constexpr uint32_t READ_TIMEOUT_MS = 100;
constexpr uint32_t LOGIN_DELAY_MS = 3000;
constexpr uint32_t CHUNK = 16;
constexpr char BACKSPACE = '\b';
// The login name, an empty password, then logging out of the shell again,
// which brings the device back to sending sentences.
constexpr char LOGIN_LINE[] = "kestrel\r\rexit\r";

int write_text(SerialLink& link, const char* text) {
    const int written = serial_write(link.port, reinterpret_cast<const uint8_t*>(text),
                                     static_cast<uint32_t>(std::strlen(text)));
    return written < 0 ? written : 0;
}

bool contains(const uint8_t* bytes, int count, const char* text) {
    const std::string_view received(reinterpret_cast<const char*>(bytes),
                                    static_cast<size_t>(count));
    return received.find(text) != std::string_view::npos;
}

// The console shows "User:" only when the whole prompt arrived, since the
// comparison consumed it. Ends after 100 ms of silence, or after the link's
// time-out for a device that keeps sending without ever showing the prompt,
// whose stream would otherwise hold the wait with no key able to end it.
int wait_for_login_prompt(DeviceRecord& device) {
    const uint64_t start = clock_ms();
    const uint32_t timeout_ms = link_timeout_ms(device);
    LoginPromptMatcher matcher;
    while (clock_ms() - start < timeout_ms) {
        uint8_t byte = 0;
        const int n = serial_read(device.link.port, &byte, 1);
        if (n <= 0)
            return n;
        if (matcher.feed(byte)) {
            write_console(LOGIN_PROMPT, PROMPT_LENGTH);
            return 1;
        }
    }
    return 0;
}

// Until ESC alone is pressed: 0, or the failure of the port (-5, -4) or of
// the console (-1).
int run_terminal(SerialLink& link) {
    for (;;) {
        uint8_t from_device[CHUNK];
        const int n = serial_read(link.port, from_device, CHUNK);
        if (n < 0)
            return n;
        if (n > 0) {
            const std::string shown = terminal_display(from_device, static_cast<uint32_t>(n));
            write_console(shown.data(), static_cast<uint32_t>(shown.size()));
        }
        char keys[CHUNK];
        const int k = read_input(keys, CHUNK);
        if (k < 0)
            return RESULT_FAILED;
        if (k == 1 && keys[0] == KEY_ESC)
            return 0;
        if (k > 0) {
            const int written = serial_write(link.port, reinterpret_cast<const uint8_t*>(keys),
                                             static_cast<uint32_t>(k));
            if (written < 0)
                return written;
        }
    }
}

int enter_plain_console(DeviceRecord& device) {
    SerialLink& link = device.link;
    set_input_mode(0); // raw keys, cursor shown
    clear_screen();
    sleep_ms(SETTLE_MS);
    link_purge(link);
    serial_set_read_timeout(link.port, READ_TIMEOUT_MS);
    const int sent = write_text(link, "\r");
    if (sent < 0)
        return sent;
    out_print(LEVEL_INFO, "Entering %s shell, press ESC to exit\n",
              device.model_name ? device.model_name : "?");
    const int waited = wait_for_login_prompt(device);
    return waited < 0 ? waited : 0;
}

// A device already sending sentences is left alone; one still at its plain
// console is logged out, and logged in and out once more should it have been
// waiting for a password, so that it returns to sending sentences.
int leave_plain_console(SerialLink& link) {
    uint8_t received[CHUNK];
    link_purge(link);
    sleep_ms(SETTLE_MS);
    int n = serial_read(link.port, received, CHUNK);
    if (n != 0)
        return n < 0 ? n : 0;
    int result = write_text(link, "exit\r");
    if (result < 0)
        return result;
    sleep_ms(SETTLE_MS);
    n = serial_read(link.port, received, CHUNK);
    if (n <= 0 || contains(received, n, "$"))
        return n < 0 ? n : 0;
    if (contains(received, n, "Pass:")) {
        result = write_text(link, "\r");
        if (result < 0)
            return result;
    }
    sleep_ms(LOGIN_DELAY_MS);
    return write_text(link, LOGIN_LINE);
}

int32_t ncterm_command(DeviceRecord& device, int32_t, char**) {
    if (shell_transact(device, "\rexit\r", nullptr, 0, link_timeout_ms(device)) < 0) {
        out_print(LEVEL_ERROR, "Failed to disconnect\n\n");
        return 0;
    }
    int result = enter_plain_console(device);
    if (result == 0)
        result = run_terminal(device.link);
    if (result < 0)
        return result;
    clear_screen();
    out_print(LEVEL_INFO, "Entering NC-Service shell\n");
    result = leave_plain_console(device.link);
    if (result < 0)
        return result;
    if (reconnect_device(device) < 0) {
        out_print(LEVEL_ERROR, "Failed to reconnect\n");
        return RESULT_QUIT;
    }
    return 0;
}

} // namespace

bool LoginPromptMatcher::feed(uint8_t byte) {
    if (byte == static_cast<uint8_t>(LOGIN_PROMPT[matched_]))
        ++matched_;
    else
        matched_ = 0;
    if (matched_ < PROMPT_LENGTH)
        return false;
    matched_ = 0;
    return true;
}

std::string terminal_display(const uint8_t* bytes, uint32_t count) {
    std::string shown;
    shown.reserve(count * 3);
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] == BACKSPACE)
            shown += "\b \b";
        else
            shown += static_cast<char>(bytes[i]);
    }
    return shown;
}

REGISTER_COMMAND("ncterm", ncterm_command);
