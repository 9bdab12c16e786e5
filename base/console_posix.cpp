// The console on a POSIX terminal: termios for the input modes, ANSI escape
// sequences for cursor, colours and clearing (only when output is a terminal).
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <dirent.h>
#include <fcntl.h>
#include <histedit.h>
#include <initializer_list>
#include <langinfo.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/console.h"
#include "base/line_completion.h"

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
// The serial port watched while the prompt waits for a line (-1: none), and
// whether it hung up or failed during the current read.
int watched_port = -1;
bool watching = false;
bool watch_fired = false;

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

// A hang-up or an error on the watched port, while the prompt reads.
bool watched_port_failed(const pollfd& port) {
    return (port.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Waits until standard input has something or the program is asked to end;
// at the prompt also until the watched port hangs up (watch_fired then).
bool wait_for_input() {
    // Events 0: only a hang-up or an error wake us, not the device's output.
    pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}, {watched_port, 0, 0}};
    const nfds_t count = watching && watched_port >= 0 ? 3 : 2;
    for (;;) {
        if (pending_signal)
            return false;
        const int ready = poll(fds, count, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && count == 3 && watched_port_failed(fds[2])) {
            watch_fired = true;
            watched_port = -1; // the caller closes it; never poll a closed descriptor
            return false;
        }
        return ready > 0 && !pending_signal;
    }
}

// Part of a line read from a pipe when the watched port hung up: the start of
// the next line read.
std::string kept_partial_line;

int read_line(char* buffer, uint32_t max) {
    uint32_t stored = static_cast<uint32_t>(std::min<size_t>(kept_partial_line.size(), max));
    std::memcpy(buffer, kept_partial_line.data(), stored);
    kept_partial_line.erase(0, stored);
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
    if (watch_fired) {
        kept_partial_line.insert(0, buffer, stored);
        return INPUT_WATCH_FIRED;
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

// Line editing at the prompt, with libedit. Its characters come through
// read_editor_char, which waits as every other input does, so that Ctrl-C and
// SIGTERM end the edit and the program unwinds as it does from a plain read.

constexpr int HISTORY_SIZE = 500;
constexpr const char* HISTORY_FILE = "/.nc_service_history";
constexpr size_t DEFAULT_COLUMNS = 80;

CompletionSource completion_source = nullptr;

struct LineEditor {
    EditLine* editor = nullptr;
    History* history = nullptr;
    HistEvent event{};
    std::string history_path; // empty: the history is not kept
    std::string prompt;
    bool unavailable = false;
};
LineEditor line_editor;

// The rest of an edited line longer than the caller's buffer, handed out next.
std::string pending_input;

char* editor_prompt(EditLine*) { return line_editor.prompt.data(); }

// The line being typed when the watched port hung up: typed again for the
// technician at the next prompt.
std::string kept_edited_line;

void keep_edited_line(EditLine* editor) {
    const LineInfo* line = el_line(editor);
    kept_edited_line.assign(line->buffer, static_cast<size_t>(line->lastchar - line->buffer));
}

// One character, decoded in the locale's character set. Bytes that do not
// form a character are dropped, as the editor could not show them.
int read_editor_char(EditLine* editor, wchar_t* character) {
    std::mbstate_t state{};
    for (;;) {
        if (!wait_for_input()) {
            if (watch_fired)
                keep_edited_line(editor);
            errno = EINTR;
            return -1;
        }
        char byte = 0;
        const ssize_t n = read(STDIN_FILENO, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? 0 : -1;
        const size_t used = std::mbrtowc(character, &byte, 1, &state);
        if (used == static_cast<size_t>(-1))
            state = std::mbstate_t{};
        else if (used != static_cast<size_t>(-2))
            return 1;
    }
}

size_t terminal_columns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DEFAULT_COLUMNS;
}

size_t character_count(const std::string& text) {
    const size_t count = std::mbstowcs(nullptr, text.c_str(), 0);
    return count == static_cast<size_t>(-1) ? text.size() : count;
}

bool is_folder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The paths that complete partial: its folder's entries that start with its
// last part, folders with a '/' behind. Hidden entries only when asked for.
std::vector<std::string> paths_starting(const std::string& partial) {
    const size_t slash = partial.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : partial.substr(0, slash + 1);
    const std::string name = partial.substr(folder.size());
    std::vector<std::string> paths;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
    if (!dir)
        return paths;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string entry_name = entry->d_name;
        if (entry_name == "." || entry_name == ".." || entry_name.compare(0, name.size(), name) != 0)
            continue;
        if (entry_name[0] == '.' && name.empty())
            continue;
        std::string path = folder + entry_name;
        if (is_folder(path))
            path += '/';
        paths.push_back(path);
    }
    return paths;
}

// A file name or keyword as the user sees it: control bytes would act on the
// terminal, so they show as '?'.
std::string printable(std::string text) {
    for (char& ch : text) {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = '?';
    }
    return text;
}

// Lists the choices below the line; the editor then draws the line again.
void show_choices(const std::vector<std::string>& choices, bool file_path) {
    std::vector<std::string> shown;
    for (const std::string& choice : choices) {
        // A path shows only its last part, as the folder is already typed.
        const size_t end = choice.size() >= 2 ? choice.size() - 2 : 0;
        const size_t slash = choice.rfind('/', end);
        shown.push_back(printable(file_path && slash != std::string::npos ? choice.substr(slash + 1)
                                                                           : choice));
    }
    std::fputs("\n", stdout);
    for (const std::string& row : completion_columns(shown, terminal_columns()))
        std::printf("%s\n", row.c_str());
    std::fflush(stdout);
}

unsigned char complete_at_cursor(EditLine* editor, int) {
    if (!completion_source)
        return CC_REFRESH_BEEP;
    const LineInfo* line = el_line(editor);
    const std::string typed(line->buffer, static_cast<size_t>(line->cursor - line->buffer));
    const CompletionContext context = completion_context(typed);
    const CompletionCandidates candidates = completion_source(context.words_before);
    const CompletionEdit edit =
        complete_word(context, candidates.file_path ? paths_starting(context.partial) : candidates.words,
                      candidates.ignore_case);
    if (!edit.replacement.empty()) {
        el_deletestr(editor, static_cast<int>(character_count(typed.substr(context.word_start))));
        el_insertstr(editor, edit.replacement.c_str());
        return CC_REFRESH;
    }
    if (edit.choices.empty())
        return CC_REFRESH_BEEP;
    show_choices(edit.choices, candidates.file_path);
    return CC_REDISPLAY;
}

void configure_editor(EditLine* editor, History* past_lines) {
    el_set(editor, EL_EDITOR, "emacs");
    el_set(editor, EL_PROMPT, editor_prompt);
    el_set(editor, EL_HIST, history, past_lines);
    el_set(editor, EL_GETCFN, read_editor_char);
    el_set(editor, EL_ADDFN, "nc-complete", "Complete the word at the cursor", complete_at_cursor);
    el_set(editor, EL_BIND, "^I", "nc-complete", nullptr);
    el_set(editor, EL_BIND, "^R", "em-inc-search-prev", nullptr);
}

void load_history() {
    const char* home = std::getenv("HOME");
    if (!home || home[0] == '\0')
        return;
    line_editor.history_path = std::string(home) + HISTORY_FILE;
    history(line_editor.history, &line_editor.event, H_LOAD, line_editor.history_path.c_str());
}

// Made on the first prompt, once console_setup has saved the terminal's modes.
bool start_line_editor() {
    if (line_editor.editor || line_editor.unavailable)
        return line_editor.editor != nullptr;
    std::setlocale(LC_CTYPE, "");
    line_editor.history = history_init();
    line_editor.editor = line_editor.history ? el_init("nc-service", stdin, stdout, stderr) : nullptr;
    if (!line_editor.editor) {
        if (line_editor.history)
            history_end(line_editor.history);
        line_editor.history = nullptr;
        line_editor.unavailable = true;
        return false;
    }
    history(line_editor.history, &line_editor.event, H_SETSIZE, HISTORY_SIZE);
    history(line_editor.history, &line_editor.event, H_SETUNIQUE, 1);
    configure_editor(line_editor.editor, line_editor.history);
    load_history();
    return true;
}

bool line_editing() {
    return line_reading && termios_saved && output_is_terminal && start_line_editor();
}

void remember_line(std::string entry) {
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r'))
        entry.pop_back();
    if (entry.find_first_not_of(" \t") == std::string::npos)
        return;
    history(line_editor.history, &line_editor.event, H_ENTER, entry.c_str());
    if (!line_editor.history_path.empty())
        history(line_editor.history, &line_editor.event, H_SAVE, line_editor.history_path.c_str());
}

// One edited line with its line end; false at end of input or on a signal.
bool edit_line(const char* prompt, std::string* line) {
    line_editor.prompt = prompt;
    el_resize(line_editor.editor); // the window may have changed since the last prompt
    // Keys typed right after the prompt appears must find the terminal in the
    // editor's mode already, or the terminal would echo them a second time.
    el_set(line_editor.editor, EL_PREP_TERM, 1);
    if (!kept_edited_line.empty()) {
        el_push(line_editor.editor, kept_edited_line.c_str());
        kept_edited_line.clear();
    }
    int count = 0;
    const char* text = el_gets(line_editor.editor, &count);
    if (watch_fired) {
        el_reset(line_editor.editor); // the edit ended in the middle
        std::fputs("\n", stdout);
        return false;
    }
    if (!text || count <= 0)
        return false;
    line->assign(text, static_cast<size_t>(count));
    remember_line(*line);
    return true;
}

int take_pending_input(char* buffer, uint32_t max) {
    const size_t count = std::min<size_t>(max, pending_input.size());
    std::memcpy(buffer, pending_input.data(), count);
    pending_input.erase(0, count);
    return static_cast<int>(count);
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

namespace {

int read_prompt_line(const char* prompt, char* buffer, uint32_t max) {
    if (pending_input.empty() && line_editing()) {
        std::fflush(stdout);
        if (!edit_line(prompt, &pending_input))
            return -1;
        return take_pending_input(buffer, max);
    }
    std::fputs(prompt, stdout);
    if (pending_input.empty())
        return read_input(buffer, max);
    std::fflush(stdout);
    return take_pending_input(buffer, max);
}

} // namespace

int read_command_input(const char* prompt, char* buffer, uint32_t max) {
    if (pending_signal)
        return -1;
    watch_fired = false;
    watching = true;
    const int result = read_prompt_line(prompt, buffer, max);
    watching = false;
    return watch_fired ? INPUT_WATCH_FIRED : result;
}

void watch_during_input(intptr_t handle) {
    watched_port = static_cast<int>(handle);
}

int wait_for_key(uint32_t timeout_ms) {
    std::fflush(stdout);
    // Only a terminal's keys: from a pipe the next lines are commands. A
    // terminal that went away is not polled again, or the wait would spin.
    static bool keys_gone = false;
    pollfd fds[2] = {{wake_pipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const uint64_t start = clock_ms();
    for (;;) {
        if (pending_signal)
            return -1;
        const nfds_t count = !keys_gone && isatty(STDIN_FILENO) ? 2 : 1;
        const uint32_t left = remaining_ms(clock_ms(), start, timeout_ms);
        const int ready = poll(fds, count, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (pending_signal)
            return -1;
        if (ready <= 0)
            return 0;
        if (count == 2 && fds[1].revents != 0) {
            char keys[16];
            const ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
            if (n > 0)
                return std::memchr(keys, KEY_ESC, static_cast<size_t>(n))
                           ? KEY_ESC
                           : static_cast<unsigned char>(keys[0]);
            if (n == 0 || (errno != EINTR && errno != EAGAIN))
                keys_gone = true;
        }
    }
}

int console_output_is_terminal() { return output_is_terminal ? 1 : 0; }

void set_completion_source(CompletionSource source) { completion_source = source; }

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
