// The console on Windows: the console API for window, modes, keys, cursor and
// colours when the standard handles are a console; plain reads and writes when
// they are pipes or files.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/console.h"
#include "base/console_win32.h"

namespace {

constexpr DWORD MODE_PROCESSED = 0x01;
constexpr DWORD MODE_LINE = 0x02;
constexpr DWORD MODE_ECHO = 0x04;
constexpr DWORD MODE_WINDOW_EVENTS = 0x08;
constexpr DWORD MODE_INSERT = 0x20;
constexpr DWORD MODE_QUICK_EDIT = 0x40;
constexpr DWORD MODE_EXTENDED = 0x80;
constexpr DWORD COOKED_MODE = MODE_PROCESSED | MODE_LINE | MODE_ECHO | MODE_WINDOW_EVENTS |
                              MODE_INSERT | MODE_EXTENDED;  // 0xAF
constexpr DWORD RAW_MODE = MODE_PROCESSED | MODE_WINDOW_EVENTS; // 0x09
constexpr DWORD SETUP_MODE = MODE_PROCESSED | MODE_LINE | MODE_ECHO | MODE_INSERT |
                             MODE_QUICK_EDIT | MODE_EXTENDED; // 0xE7

constexpr WORD NORMAL_COLOURS = 0x17;    // grey on blue
constexpr WORD HIGHLIGHT_COLOURS = 0x1F; // bright white on blue
constexpr UINT WESTERN_CODE_PAGE = 1252;
constexpr COORD BUFFER_SIZE = {80, 5000};
constexpr SMALL_RECT WINDOW_RECT = {0, 0, 79, 49};
constexpr DWORD MAX_EVENTS_PER_READ = 128;

HANDLE output = INVALID_HANDLE_VALUE;
HANDLE input = INVALID_HANDLE_VALUE;
bool output_is_console = false;
bool input_is_console = false;
bool line_reading = true;
bool colours_enabled = false;
bool colours_used = false;

// What the console had before we came, put back on every way out.
DWORD found_input_mode = 0;
bool input_mode_found = false;
WORD found_attributes = 0;
UINT found_input_code_page = 0;
UINT found_output_code_page = 0;

std::atomic<int> pending_signal{0};
// Real handle of the main thread, whose blocking reads a console event cancels.
HANDLE main_thread = nullptr;

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return usable(handle) && GetConsoleMode(handle, &mode) != 0;
}

void show_cursor(bool visible) {
    CONSOLE_CURSOR_INFO cursor{};
    if (!output_is_console || !GetConsoleCursorInfo(output, &cursor))
        return;
    cursor.bVisible = visible ? TRUE : FALSE; // its size is kept
    SetConsoleCursorInfo(output, &cursor);
}

// Safe from the control handler's thread: console calls only.
void restore_console() {
    if (input_mode_found)
        SetConsoleMode(input, found_input_mode);
    if (!output_is_console)
        return;
    show_cursor(true);
    if (colours_used)
        SetConsoleTextAttribute(output, found_attributes);
    if (found_output_code_page != 0) {
        SetConsoleCP(found_input_code_page);
        SetConsoleOutputCP(found_output_code_page);
    }
}

void restore_at_exit() { restore_console(); }

int signal_for(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM; // the window closed, log-off, shut-down
    }
}

// Runs on a thread of its own. The first event only asks the program to end:
// it unwinds through its closing steps (goodbye to the device, port and
// console put back). A second one ends it at once.
BOOL WINAPI on_console_event(DWORD event) {
    if (pending_signal.exchange(signal_for(event)) != 0) {
        restore_console();
        TerminateProcess(GetCurrentProcess(), CONTROL_C_EXIT);
    }
    SetEvent(termination_event());
    if (main_thread)
        CancelSynchronousIo(main_thread); // a read of a pipe or of the console
    const bool window_going = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
    // Returning from these ends the process at once; the main thread ends it
    // when it has closed down (or Windows does, after its grace period).
    if (window_going)
        Sleep(INFINITE);
    return TRUE;
}

void remember_main_thread() {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                    THREAD_TERMINATE | THREAD_QUERY_INFORMATION, FALSE, 0);
}

// A buffer narrower than the window showing it is refused, so after shrinking
// the window the buffer is tried again.
void size_window() {
    const bool buffer_set = SetConsoleScreenBufferSize(output, BUFFER_SIZE) != 0;
    SetConsoleWindowInfo(output, TRUE, &WINDOW_RECT);
    if (!buffer_set)
        SetConsoleScreenBufferSize(output, BUFFER_SIZE);
}

void set_code_pages() {
    found_input_code_page = GetConsoleCP();
    found_output_code_page = GetConsoleOutputCP();
    SetConsoleCP(WESTERN_CODE_PAGE);
    SetConsoleOutputCP(WESTERN_CODE_PAGE);
}

template <typename Function> Function kernel32_function(const char* name) {
    const FARPROC address = GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// Looked up at run time: older consoles lack the calls, and keep their font.
void set_font() {
    using GetFont = BOOL(WINAPI*)(HANDLE, BOOL, PCONSOLE_FONT_INFOEX);
    using SetFont = BOOL(WINAPI*)(HANDLE, BOOL, PCONSOLE_FONT_INFOEX);
    const auto get_font = kernel32_function<GetFont>("GetCurrentConsoleFontEx");
    const auto set_font_call = kernel32_function<SetFont>("SetCurrentConsoleFontEx");
    if (!get_font || !set_font_call)
        return;
    CONSOLE_FONT_INFOEX font{};
    static_assert(sizeof font == 84);
    font.cbSize = sizeof font;
    font.dwFontSize = {7, 12};
    font.FontWeight = FW_NORMAL;
    std::wcscpy(font.FaceName, L"Lucida Console");
    set_font_call(output, /*maximum_window=*/FALSE, &font);
}

// The whole buffer, not only new text, turns blue at once.
void paint_window() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    SetConsoleTextAttribute(output, NORMAL_COLOURS);
    colours_used = true;
    if (!GetConsoleScreenBufferInfo(output, &info))
        return;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    DWORD painted = 0;
    FillConsoleOutputAttribute(output, NORMAL_COLOURS, cells, COORD{0, 0}, &painted);
}

void find_console_state() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (output_is_console && GetConsoleScreenBufferInfo(output, &info))
        found_attributes = info.wAttributes;
    input_mode_found = input_is_console && GetConsoleMode(input, &found_input_mode);
}

int set_colours(int stream, WORD attributes) {
    if (stream != 1)
        return -1;
    if (!colours_enabled)
        return 0;
    std::fflush(stdout); // text printed so far keeps its colour
    colours_used = true;
    return SetConsoleTextAttribute(output, attributes) ? 0 : -1;
}

int read_console_line(char* buffer, uint32_t max) {
    DWORD read = 0;
    if (!ReadConsoleA(input, buffer, max, &read, nullptr) || read == 0 || pending_signal)
        return -1;
    return static_cast<int>(read);
}

// The input pipe or file read on a thread of its own, a byte on request, so
// that the main thread waits for the byte and for Ctrl-C at once: a blocked
// pipe read is not always cancelled (wine cannot cancel it at all).
struct StreamReader {
    HANDLE wanted = nullptr;  // the main thread asks for a byte
    HANDLE arrived = nullptr; // the reader has one, or found the end
    HANDLE thread = nullptr;
    char byte = 0;
    bool read = false;
    bool asked = false; // a request is outstanding
};
StreamReader stream_reader;

DWORD WINAPI read_stream_bytes(void*) {
    for (;;) {
        WaitForSingleObject(stream_reader.wanted, INFINITE);
        DWORD count = 0;
        stream_reader.read = ReadFile(input, &stream_reader.byte, 1, &count, nullptr) && count == 1;
        SetEvent(stream_reader.arrived);
    }
}

bool start_stream_reader() {
    if (stream_reader.thread)
        return true;
    stream_reader.wanted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stream_reader.arrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (stream_reader.wanted && stream_reader.arrived)
        stream_reader.thread = CreateThread(nullptr, 0, read_stream_bytes, nullptr, 0, nullptr);
    return stream_reader.thread != nullptr;
}

// One byte of the stream: false at its end, on a failure, or when the program
// is asked to end (the read then stays pending until the program has ended).
bool next_stream_byte(char* byte) {
    if (!start_stream_reader()) {
        DWORD count = 0;
        return ReadFile(input, byte, 1, &count, nullptr) && count == 1;
    }
    if (!stream_reader.asked) {
        stream_reader.asked = true;
        SetEvent(stream_reader.wanted);
    }
    const HANDLE waits[2] = {stream_reader.arrived, termination_event()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
        return false;
    stream_reader.asked = false;
    *byte = stream_reader.byte;
    return stream_reader.read;
}

// A pipe or a file: byte by byte up to the line end, as a console line would.
int read_stream_line(char* buffer, uint32_t max) {
    uint32_t stored = 0;
    while (stored < max && !pending_signal) {
        if (!next_stream_byte(buffer + stored))
            break;
        if (buffer[stored++] == '\n')
            break;
    }
    // Part of a line read when the program was asked to end is no command.
    return stored > 0 && !pending_signal ? static_cast<int>(stored) : -1;
}

int read_console_keys(char* buffer, uint32_t max) {
    DWORD pending = 0;
    if (!GetNumberOfConsoleInputEvents(input, &pending))
        return -1;
    if (pending == 0 || max == 0)
        return 0;
    INPUT_RECORD events[MAX_EVENTS_PER_READ];
    const DWORD wanted = std::min({pending, static_cast<DWORD>(max), MAX_EVENTS_PER_READ});
    DWORD read = 0;
    if (!ReadConsoleInputA(input, events, wanted, &read))
        return -1;
    return static_cast<int>(keys_from_events(events, read, buffer, max));
}

// The bytes a pipe holds now, without waiting; -1 once its writer has gone.
// A file never makes a read wait.
int read_stream_keys(char* buffer, uint32_t max) {
    DWORD available = max;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE)
            return -1;
        available = max;
    }
    if (available == 0 || max == 0)
        return 0;
    DWORD read = 0;
    if (!ReadFile(input, buffer, std::min(available, static_cast<DWORD>(max)), &read, nullptr) ||
        read == 0)
        return -1;
    return static_cast<int>(read);
}

bool write_all(HANDLE handle, const char* bytes, uint32_t count) {
    while (count > 0) {
        DWORD written = 0;
        const BOOL ok = output_is_console ? WriteConsoleA(handle, bytes, count, &written, nullptr)
                                          : WriteFile(handle, bytes, count, &written, nullptr);
        if (!ok || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

} // namespace

HANDLE termination_event() {
    static const HANDLE event = CreateEventA(nullptr, /*manual_reset=*/TRUE, FALSE, nullptr);
    return event;
}

DWORD console_mode_for(int flags) {
    const DWORD mode = (flags & INPUT_COOKED) ? COOKED_MODE : RAW_MODE;
    return (flags & INPUT_QUICK_EDIT) ? mode | MODE_QUICK_EDIT : mode;
}

uint32_t keys_from_events(const INPUT_RECORD* events, uint32_t count, char* buffer, uint32_t max) {
    uint32_t stored = 0;
    for (uint32_t i = 0; i < count && stored < max; ++i) {
        const INPUT_RECORD& event = events[i];
        if (event.EventType == WINDOW_BUFFER_SIZE_EVENT) {
            buffer[stored++] = KEY_RESIZE;
        } else if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown &&
                   event.Event.KeyEvent.uChar.AsciiChar != 0) {
            buffer[stored++] = event.Event.KeyEvent.uChar.AsciiChar;
        }
    }
    return stored;
}

int console_setup(const char* title) {
    clear_screen();
    SetConsoleTitleA(title);
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    input = GetStdHandle(STD_INPUT_HANDLE);
    if (!usable(output) || !usable(input))
        return -1;
    output_is_console = is_console(output);
    input_is_console = is_console(input);
    const char* no_color = std::getenv("NO_COLOR");
    colours_enabled = output_is_console && (no_color == nullptr || no_color[0] == '\0');
    find_console_state();
    remember_main_thread();
    termination_event();
    SetConsoleCtrlHandler(on_console_event, TRUE);
    std::atexit(restore_at_exit);
    if (output_is_console) {
        size_window();
        set_code_pages();
        set_font();
    }
    if (input_is_console)
        SetConsoleMode(input, SETUP_MODE);
    if (colours_enabled)
        paint_window();
    return 0;
}

void restore_input_mode() { restore_console(); }

int termination_requested() { return pending_signal; }

void end_on_pending_signal() {
    if (!pending_signal)
        return;
    restore_console();
    std::fflush(nullptr);
    ExitProcess(CONTROL_C_EXIT);
}

// The C runtime keeps descriptors 0 to 2 for the standard streams even when
// the program was started without them, so no port or file can take their place.
void guard_standard_descriptors() {}

int set_input_mode(int flags) {
    line_reading = (flags & INPUT_LINES) != 0;
    int result = 0;
    if (input_is_console && !SetConsoleMode(input, console_mode_for(flags)))
        result = -1;
    show_cursor((flags & INPUT_HIDE_CURSOR) == 0);
    return result;
}

int read_input(char* buffer, uint32_t max) {
    std::fflush(stdout);
    if (pending_signal || !usable(input))
        return -1;
    if (line_reading)
        return input_is_console ? read_console_line(buffer, max) : read_stream_line(buffer, max);
    return input_is_console ? read_console_keys(buffer, max) : read_stream_keys(buffer, max);
}

// The console's own line input already recalls earlier lines (arrow keys, F7),
// so the prompt is read as any line; Tab completion is not offered here.
int read_command_input(const char* prompt, char* buffer, uint32_t max) {
    std::fputs(prompt, stdout);
    return read_input(buffer, max);
}

void set_completion_source(CompletionSource) {}

// The console's line input cannot be waited for beside a COM port's events: a
// lost device shows at the next command.
void watch_during_input(intptr_t) {}

int wait_for_key(uint32_t timeout_ms) {
    std::fflush(stdout);
    if (pending_signal)
        return -1;
    if (!input_is_console) {
        WaitForSingleObject(termination_event(), timeout_ms);
        return pending_signal ? -1 : 0;
    }
    const HANDLE waits[2] = {input, termination_event()};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, timeout_ms);
    if (pending_signal)
        return -1;
    if (woken != WAIT_OBJECT_0)
        return 0;
    char keys[16];
    const int count = read_console_keys(keys, sizeof keys);
    if (count <= 0)
        return 0; // a mouse or focus event: no key
    return std::memchr(keys, KEY_ESC, static_cast<size_t>(count)) ? KEY_ESC
                                                                  : static_cast<unsigned char>(keys[0]);
}

int console_output_is_terminal() { return output_is_console ? 1 : 0; }

int write_console(const char* bytes, uint32_t count) {
    std::fflush(stdout);
    if (!usable(output) || !write_all(output, bytes, count))
        return -1;
    return static_cast<int>(count);
}

int set_cursor_position(uint16_t column, uint16_t row) {
    if (!output_is_console || column > 0x7FFF || row > 0x7FFF)
        return -1;
    std::fflush(stdout);
    const COORD position{static_cast<SHORT>(column), static_cast<SHORT>(row)};
    return SetConsoleCursorPosition(output, position) ? 0 : -1;
}

// Only a console is cleared: in a pipe or a file the output holds the
// program's text alone.
void clear_screen() {
    if (!is_console(GetStdHandle(STD_OUTPUT_HANDLE)))
        return;
    std::fflush(stdout);
    (void)std::system("cls");
}

int set_text_normal(int stream) { return set_colours(stream, NORMAL_COLOURS); }

int set_text_highlight(int stream) { return set_colours(stream, HIGHLIGHT_COLOURS); }

const char* degree_sign() { return GetConsoleOutputCP() == CP_UTF8 ? "\xc2\xb0" : "\xb0"; }
