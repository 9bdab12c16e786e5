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

INPUT_RECORD key(char ch, bool down = true, WORD repeat = 1) {
    INPUT_RECORD event{};
    event.EventType = KEY_EVENT;
    event.Event.KeyEvent.bKeyDown = down;
    event.Event.KeyEvent.wRepeatCount = repeat;
    event.Event.KeyEvent.uChar.AsciiChar = ch;
    return event;
}

INPUT_RECORD of_type(WORD type) {
    INPUT_RECORD event{};
    event.EventType = type;
    return event;
}

std::string keys_of(const std::vector<INPUT_RECORD>& events, uint32_t max = 16) {
    std::string keys(max, '?');
    const uint32_t stored = keys_from_events(events.data(), static_cast<uint32_t>(events.size()),
                                             keys.data(), max);
    return keys.substr(0, stored);
}

// Stands in for QueryDosDeviceA: the list needs `needed` bytes, and each call
// is counted.
std::string listed;
DWORD needed = 0;
DWORD refusal = ERROR_INSUFFICIENT_BUFFER;
int calls = 0;

DWORD WINAPI fake_query(LPCSTR, LPSTR names, DWORD size) {
    ++calls;
    if (size < needed) {
        SetLastError(refusal);
        return 0;
    }
    std::copy(listed.begin(), listed.end(), names);
    return static_cast<DWORD>(listed.size());
}

std::vector<std::string> ports_listed(const std::string& list, DWORD list_needs, DWORD error) {
    listed = list;
    needed = list_needs;
    refusal = error;
    calls = 0;
    return com_ports_in(dos_device_names(fake_query));
}

using Ports = std::vector<std::string>;

} // namespace

TEST(Win32Console, InputFlagsGiveTheConsoleModes) {
    const struct {
        int flags;
        DWORD mode;
    } cases[] = {
        {0, 0x09}, {INPUT_HIDE_CURSOR, 0x09}, {INPUT_COMMAND, 0xAF}, {INPUT_PROMPT, 0xEF},
        {INPUT_QUICK_EDIT, 0x49}, {INPUT_COOKED, 0xAF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(console_mode_for(c.flags), c.mode) << "flags " << c.flags;
}

TEST(Win32Console, KeyEventsGiveOneCharacterPerPressAndTwelveForAResize) {
    EXPECT_EQ(keys_of({key('a', true, 3)}), "a") << "a held down repeats, and counts once";
    EXPECT_EQ(keys_of({key(0)}), "") << "Shift or an arrow has no character for the device";
    EXPECT_EQ(keys_of({of_type(MOUSE_EVENT), of_type(FOCUS_EVENT), of_type(MENU_EVENT)}), "");
    EXPECT_EQ(keys_of({key('\x1b'), key('\x1b', false), of_type(WINDOW_BUFFER_SIZE_EVENT),
                       key('\r')}),
              "\x1b\x0c\r")
        << "a release gives nothing, a resize Ctrl-L";
    EXPECT_EQ(keys_of({key('1'), key('2'), key('3')}, 2), "12") << "never more than max";
}

TEST(Win32Serial, PortListKeepsComNamesInTheSystemsOrder) {
    const std::string list = std::string("COM3\0LPT1\0COM10\0com4\0NUL\0COM1\0\0", 31);
    EXPECT_EQ(ports_listed(list, 1, 0), (Ports{"COM3", "COM10", "COM1"}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ports_listed(std::string("\0", 1), 1, 0), Ports{}) << "no ports at all";
}

TEST(Win32Serial, PortListGrowsItsBufferOnlyWhileTooSmall) {
    const std::string list = std::string("COM7\0\0", 6);
    EXPECT_EQ(ports_listed(list, 3 * 4096 + 1, ERROR_INSUFFICIENT_BUFFER), Ports{"COM7"});
    EXPECT_EQ(calls, 4) << "4096, 8192, 12288, then 16384 bytes";

    EXPECT_EQ(ports_listed(list, 409600, ERROR_INSUFFICIENT_BUFFER), Ports{"COM7"});
    EXPECT_EQ(calls, 100) << "the last size tried is 409600";

    EXPECT_EQ(ports_listed(list, 409601, ERROR_INSUFFICIENT_BUFFER), Ports{});
    EXPECT_EQ(calls, 100);

    EXPECT_EQ(ports_listed(list, 1 << 20, ERROR_ACCESS_DENIED), Ports{});
    EXPECT_EQ(calls, 1) << "any other failure is not retried";
}

// wine lets a second program open a port, so the conflict is only seen here.
TEST(Win32Serial, OnlyAccessDeniedMeansThePortIsHeldElsewhere) {
    EXPECT_EQ(open_failure_errno(ERROR_ACCESS_DENIED), EACCES);
    for (DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_SHARING_VIOLATION,
                        ERROR_INVALID_PARAMETER, ERROR_GEN_FAILURE})
        EXPECT_EQ(open_failure_errno(error), EBADF) << "system error " << error;
}

TEST(Win32Serial, MissingPortFailsSilentlyWithEbadf) {
    testing::internal::CaptureStderr();
    errno = 0;
    EXPECT_EQ(serial_open("COM249", 38400), INVALID_PORT);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Win32Serial, SystemErrorIsOneLineAndKeepsTheErrorCodes) {
    testing::internal::CaptureStderr();
    SetLastError(ERROR_FILE_NOT_FOUND);
    errno = EACCES;
    print_system_error("Error, reading from serial port");
    const DWORD error_after = GetLastError();
    const int errno_after = errno;
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error_after, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(errno_after, EACCES);
    ASSERT_GT(printed.size(), 36u) << printed;
    EXPECT_EQ(printed.rfind("Error, reading from serial port: ", 0), 0u) << printed;
    EXPECT_EQ(printed.find_first_of("\r\n"), printed.size() - 1) << printed;
}

// The tick count moves in steps of up to 16 ms; the performance counter is fine.
TEST(Win32Clock, MillisecondsAndNanosecondsRunTogether) {
    const uint64_t ms = clock_ms();
    const uint64_t ns = clock_ns();
    Sleep(100);
    const int64_t ms_passed = static_cast<int64_t>(clock_ms() - ms);
    const int64_t ns_passed = static_cast<int64_t>(clock_ns() - ns);
    EXPECT_GE(ns_passed, 95000000);
    EXPECT_LT(ns_passed, 2000000000);
    EXPECT_NEAR(ms_passed, ns_passed / 1000000, 33);
}
