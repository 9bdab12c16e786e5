// The Windows platform files: what they make of console events, input flags,
// the system's device list and its failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/console_win32.h"
#include "link/serial.h"
#include "link/serial_win32.h"

namespace {

INPUT_RECORD of_type(WORD type) {
    INPUT_RECORD event{};
    event.EventType = type;
    return event;
}

INPUT_RECORD key(char ch, bool down = true, WORD repeat = 1) {
    INPUT_RECORD event = of_type(KEY_EVENT);
    event.Event.KeyEvent.bKeyDown = down;
    event.Event.KeyEvent.wRepeatCount = repeat;
    event.Event.KeyEvent.uChar.AsciiChar = ch;
    return event;
}

std::string keys_of(const std::vector<INPUT_RECORD>& events, uint32_t max = 16) {
    std::string keys(max, '?');
    const uint32_t stored = keys_from_events(events.data(), static_cast<uint32_t>(events.size()),
                                             keys.data(), max);
    return keys.substr(0, stored);
}

// Stands in for QueryDosDeviceA: the list needs `needed` bytes, a smaller
// buffer is refused with `refusal`, and each call is counted.
struct {
    std::string listed;
    DWORD needed = 0, refusal = 0;
    int calls = 0;
} fake;

DWORD WINAPI fake_query(LPCSTR, LPSTR names, DWORD size) {
    ++fake.calls;
    if (size < fake.needed) {
        SetLastError(fake.refusal);
        return 0;
    }
    std::copy(fake.listed.begin(), fake.listed.end(), names);
    return static_cast<DWORD>(fake.listed.size());
}

// The COM ports in the list, and how often it was asked for.
std::string ports_listed(const std::string& list, DWORD needed, DWORD refusal) {
    fake = {list, needed, refusal, 0};
    std::string ports;
    for (const std::string& port : com_ports_in(dos_device_names(fake_query)))
        ports += port + " ";
    return ports + "in " + std::to_string(fake.calls) + " calls";
}

} // namespace

TEST(Win32Console, ModesForTheInputFlagsAndKeysFromTheEvents) {
    EXPECT_EQ(console_mode_for(0), 0x09u);
    EXPECT_EQ(console_mode_for(INPUT_HIDE_CURSOR), 0x09u);
    EXPECT_EQ(console_mode_for(INPUT_COMMAND), 0xAFu);
    EXPECT_EQ(console_mode_for(INPUT_PROMPT), 0xEFu);
    EXPECT_EQ(console_mode_for(INPUT_QUICK_EDIT), 0x49u);
    // A held key counts once; a key without a character (Shift, an arrow), a
    // release, mouse, focus and menu events give nothing; a resize Ctrl-L.
    EXPECT_EQ(keys_of({key('a', true, 3), key(0), key('\x1b'), key('\x1b', false),
                       of_type(MOUSE_EVENT), of_type(FOCUS_EVENT), of_type(MENU_EVENT),
                       of_type(WINDOW_BUFFER_SIZE_EVENT), key('\r')}),
              "a\x1b\x0c\r");
    EXPECT_EQ(keys_of({key('1'), key('2'), key('3')}, 2), "12") << "never more than max";
}

// The port list keeps the COM names in order and grows its buffer only while
// it is too small; what a failed open means, and how an error is printed.
TEST(Win32Serial, PortListOpenFailuresAndSystemErrors) {
    const std::string coms = std::string("COM3\0LPT1\0COM10\0com4\0NUL\0COM1\0\0", 31);
    EXPECT_EQ(ports_listed(coms, 1, 0), "COM3 COM10 COM1 in 1 calls");
    EXPECT_EQ(ports_listed(std::string("\0", 1), 1, 0), "in 1 calls"); // no ports at all
    const std::string list = std::string("COM7\0\0", 6);
    // 4096, 8192 and so on up to 409600 bytes; any other failure is not retried.
    EXPECT_EQ(ports_listed(list, 409600, ERROR_INSUFFICIENT_BUFFER), "COM7 in 100 calls");
    EXPECT_EQ(ports_listed(list, 409601, ERROR_INSUFFICIENT_BUFFER), "in 100 calls");
    EXPECT_EQ(ports_listed(list, 1 << 20, ERROR_ACCESS_DENIED), "in 1 calls");

    // Only access denied means that the port is held elsewhere: wine lets a
    // second program open a port, so the conflict is only seen here.
    EXPECT_EQ(open_failure_errno(ERROR_ACCESS_DENIED), EACCES);
    EXPECT_EQ(open_failure_errno(ERROR_SHARING_VIOLATION), EBADF);
    // A missing port fails so, and silently.
    testing::internal::CaptureStderr();
    errno = 0;
    EXPECT_EQ(serial_open("COM249", 38400), INVALID_PORT);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // The system's message is one line and keeps the error codes.
    testing::internal::CaptureStderr();
    SetLastError(ERROR_FILE_NOT_FOUND);
    errno = EACCES;
    print_system_error("Error, reading from serial port");
    const std::string codes = std::to_string(GetLastError()) + " " + std::to_string(errno);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(codes, std::to_string(ERROR_FILE_NOT_FOUND) + " " + std::to_string(EACCES));
    ASSERT_GT(printed.size(), 36u) << printed;
    EXPECT_EQ(printed.rfind("Error, reading from serial port: ", 0), 0u) << printed;
    EXPECT_EQ(printed.find_first_of("\r\n"), printed.size() - 1) << printed;
}

// The tick count moves in steps of up to 16 ms; the performance counter is fine.
TEST(Win32Clock, MillisecondsAndNanosecondsRunTogether) {
    const uint64_t ms = clock_ms(), ns = clock_ns();
    Sleep(100);
    const int64_t ms_passed = static_cast<int64_t>(clock_ms() - ms);
    const int64_t ns_passed = static_cast<int64_t>(clock_ns() - ns);
    EXPECT_GE(ns_passed, 95000000);
    EXPECT_LT(ns_passed, 2000000000);
    EXPECT_NEAR(ms_passed, ns_passed / 1000000, 33);
}
