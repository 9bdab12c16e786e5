// The console on a POSIX terminal: termios for the input modes, ANSI escape
// sequences for cursor, colours and clearing (only when output is a terminal).
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <langinfo.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "base/console.h"

namespace {

termios saved_termios{};
bool termios_saved = false;
bool output_is_terminal = false;
bool colours_enabled = false;
bool colours_used = false;
bool line_reading = true;
volatile sig_atomic_t resize_pending = 0;
volatile sig_atomic_t pending_signal = 0;
// Written to by the signal handler, so that a wait for input wakes up.
int wake_pipe[2] = {-1, -1};

const char SHOW_CURSOR[] = "\x1b[?25h";
const char HIDE_CURSOR[] = "\x1b[?25l";
const char RESET_COLOURS[] = "\x1b[0m";
const char NORMAL_COLOURS[] = "\x1b[0;37;44m";    // grey on blue
const char HIGHLIGHT_COLOURS[] = "\x1b[1;97;44m"; // bright white on blue

void write_all(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

// Async-signal-safe: only tcsetattr and write.
void restore_terminal() {
    if (termios_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
    if (output_is_terminal) {
        write_all(STDOUT_FILENO, SHOW_CURSOR, sizeof SHOW_CURSOR - 1);
        if (colours_used)
            write_all(STDOUT_FILENO, RESET_COLOURS, sizeof RESET_COLOURS - 1);
    }
}

// The first Ctrl-C, SIGTERM or SIGHUP only asks the program to end: it unwinds
// through its normal closing steps (goodbye to the device, port and terminal
// put back) and then ends by the signal. A second one ends it at once.
void on_terminating_signal(int signal_number) {
    if (pending_signal) {
        restore_terminal();
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    pending_signal = signal_number;
    if (wake_pipe[1] >= 0) {
        const char byte = 1;
        (void)!write(wake_pipe[1], &byte, 1);
    }
}

void on_window_resize(int) { resize_pending = 1; }

// Without SA_RESTART, so that a blocking call returns and the program can
// notice the request. A signal the program was started to ignore (nohup)
// stays ignored.
void install_handler(int signal_number, void (*handler)(int), int flags) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
        return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal_number, &action, nullptr);
}

void make_wake_pipe() {
    if (wake_pipe[0] >= 0 || pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) == 0)
        return;
    wake_pipe[0] = wake_pipe[1] = -1;
}

void emit(const char* sequence) {
    if (!output_is_terminal)
        return;
    std::fputs(sequence, stdout);
    std::fflush(stdout);
}

// Colours apply to standard output only.
int set_colours(int stream, const char* sequence) {
    if (stream != 1)
        return -1;
    if (colours_enabled) {
        emit(sequence);
        colours_used = true;
    }
    return 0;
}

bool descriptor_open(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0;
}

// Waits until standard input has something or the program is asked to end.
bool wait_for_input() {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    for (;;) {
        if (pending_signal)
            return false;
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && !pending_signal;
    }
}

int read_line(char* buffer, uint32_t max) {
    uint32_t stored = 0;
    while (stored < max) {
        if (!wait_for_input())
            break;
        char ch = 0;
        const ssize_t n = read(STDIN_FILENO, &ch, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        buffer[stored++] = ch;
        if (ch == '\n')
            break;
    }
    // Part of a line read when the program was asked to end is no command.
    return stored > 0 && !pending_signal ? static_cast<int>(stored) : -1;
}

int read_pending_keys(char* buffer, uint32_t max) {
    if (pending_signal)
        return -1;
    uint32_t stored = 0;
    if (resize_pending && max > 0) {
        resize_pending = 0;
        buffer[stored++] = KEY_RESIZE;
    }
    if (stored == max)
        return static_cast<int>(stored);
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0)
        return static_cast<int>(stored);
    const ssize_t n = read(STDIN_FILENO, buffer + stored, max - stored);
    if (n > 0)
        return static_cast<int>(stored + static_cast<uint32_t>(n));
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return static_cast<int>(stored);
    return stored > 0 ? static_cast<int>(stored) : -1; // end of input
}

// Applies a terminal mode and reads it back: a terminal may take only part of it.
bool apply_terminal_mode(const termios& mode) {
    if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0)
        return false;
    termios actual{};
    if (tcgetattr(STDIN_FILENO, &actual) != 0)
        return false;
    return actual.c_lflag == mode.c_lflag && actual.c_iflag == mode.c_iflag &&
           actual.c_cc[VMIN] == mode.c_cc[VMIN] && actual.c_cc[VTIME] == mode.c_cc[VTIME];
}

termios terminal_mode(int flags) {
    termios mode = saved_termios;
    if (flags & INPUT_COOKED) {
        mode.c_lflag |= ICANON | ECHO | ISIG;
        // A terminal left raw by another program would deliver Enter as CR,
        // and a line would never end.
        mode.c_iflag |= ICRNL;
        mode.c_iflag &= ~static_cast<tcflag_t>(INLCR | IGNCR);
    } else {
        // Keys go to the device byte for byte: Enter stays CR, Ctrl-S/Q/V/O pass.
        mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
        mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | IXOFF);
        mode.c_lflag |= ISIG; // Ctrl-C still ends the program
        mode.c_cc[VMIN] = 0;
        mode.c_cc[VTIME] = 0;
    }
    return mode;
}

} // namespace

int console_setup(const char* title) {
    output_is_terminal = isatty(STDOUT_FILENO) != 0;
    const char* no_color = std::getenv("NO_COLOR");
    colours_enabled = output_is_terminal && (no_color == nullptr || no_color[0] == '\0');
    clear_screen();
    if (output_is_terminal) {
        std::printf("\x1b]0;%s\a", title);
        std::fflush(stdout);
    }
    if (!descriptor_open(STDIN_FILENO) || !descriptor_open(STDOUT_FILENO))
        return -1;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_termios) == 0)
        termios_saved = true;
    std::atexit(restore_terminal);
    make_wake_pipe();
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        install_handler(signal_number, on_terminating_signal, 0);
    install_handler(SIGWINCH, on_window_resize, SA_RESTART);
    set_input_mode(INPUT_COOKED | INPUT_LINES);
    if (colours_enabled) {
        set_text_normal(1);
        clear_screen(); // paints the whole window in the background colour
    }
    return 0;
}

void restore_input_mode() { restore_terminal(); }

int termination_requested() { return pending_signal; }

void end_on_pending_signal() {
    const int signal_number = pending_signal;
    if (!signal_number)
        return;
    restore_terminal();
    std::fflush(nullptr);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void guard_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // open() takes the lowest free descriptor: this one.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd)
            close(opened);
    }
}

int set_input_mode(int flags) {
    line_reading = (flags & INPUT_LINES) != 0;
    int result = 0;
    if (termios_saved && !apply_terminal_mode(terminal_mode(flags)))
        result = -1;
    emit((flags & INPUT_HIDE_CURSOR) ? HIDE_CURSOR : SHOW_CURSOR);
    return result;
}

int read_input(char* buffer, uint32_t max) {
    std::fflush(stdout);
    return line_reading ? read_line(buffer, max) : read_pending_keys(buffer, max);
}

int write_console(const char* bytes, uint32_t count) {
    std::fflush(stdout);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = write(STDOUT_FILENO, bytes + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int>(count);
}

int set_cursor_position(uint16_t column, uint16_t row) {
    if (!output_is_terminal)
        return -1;
    std::printf("\x1b[%u;%uH", static_cast<unsigned>(row) + 1, static_cast<unsigned>(column) + 1);
    std::fflush(stdout);
    return 0;
}

void clear_screen() { emit("\x1b[2J\x1b[H"); }

int set_text_normal(int stream) { return set_colours(stream, NORMAL_COLOURS); }

int set_text_highlight(int stream) { return set_colours(stream, HIGHLIGHT_COLOURS); }

const char* degree_sign() {
    static const char* sign = [] {
        std::setlocale(LC_CTYPE, "");
        const char* codeset = nl_langinfo(CODESET);
        return (codeset && std::strcmp(codeset, "UTF-8") == 0) ? "\xc2\xb0" : "\xb0";
    }();
    return sign;
}
