// The console: leveled output, input modes, line and key input, cursor, colours,
// and the traffic log of everything exchanged with the device.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern int quiet_mode;
extern int verbose_mode;

constexpr int LEVEL_DETAIL = 0; // shown only with -v
constexpr int LEVEL_INFO = 1;   // hidden by -q (unless -v)
constexpr int LEVEL_ERROR = 2;  // always, to standard error

// Prints by level; returns the characters printed, 0 when suppressed.
int out_print(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Input-mode flags for set_input_mode.
constexpr int INPUT_COOKED = 1;       // echo, line editing, whole lines
constexpr int INPUT_LINES = 2;        // read_input reads a whole line
constexpr int INPUT_HIDE_CURSOR = 4;
constexpr int INPUT_QUICK_EDIT = 8;   // no equivalent on a terminal
constexpr int INPUT_PROMPT = INPUT_COOKED | INPUT_LINES | INPUT_QUICK_EDIT; // 11
constexpr int INPUT_COMMAND = INPUT_COOKED | INPUT_LINES;                   // 3

constexpr char KEY_RESIZE = 12; // read_input's sign that the window changed size
constexpr char KEY_ESC = 27;

// Clears the screen, sets the title and colours, saves the terminal's modes and
// installs the handlers that put them back on every way out. 0, or -1 when
// standard input or output is not available.
int console_setup(const char* title);
// Puts back the terminal modes, cursor and colours found by console_setup.
void restore_input_mode();
// 0, or -1 when the terminal did not take the mode.
int set_input_mode(int flags);

// Opens /dev/null on standard input, output or error when the program was
// started with one of them closed, so that no port or file takes its place.
// Called first, before anything is opened.
void guard_standard_descriptors();

// Ctrl-C, SIGTERM, SIGHUP and SIGQUIT (after console_setup) only ask the program
// to end: termination_requested gives the signal's number, 0 while none came.
// Waits for input or for the serial line return early then, so that the
// program leaves through its normal closing steps and finally calls
// end_on_pending_signal, which ends it by that signal.
int termination_requested();
void end_on_pending_signal();

// Line mode: one line (with its line end) of at most max characters; waits.
// Key mode: the characters pending now, without waiting; 0 when none, 12 for a
// window resize. -1 when input cannot be read (also at end of file) or the
// program was asked to end.
int read_input(char* buffer, uint32_t max);

// The prompt: shows prompt and reads one line as read_input does in line mode
// (with its line end, at most max characters; a longer line arrives in pieces,
// the prompt shown again before each). When standard input and output are a
// terminal the line can be edited: arrow keys, history of this and earlier
// sessions (~/.nc_service_history), Ctrl-R to search it, Tab to complete.
// INPUT_WATCH_FIRED when the port given to watch_during_input hung up or failed
// while the line was awaited: what was typed so far is kept and given again at
// the next prompt.
int read_command_input(const char* prompt, char* buffer, uint32_t max);
constexpr int INPUT_WATCH_FIRED = -2;
// The serial port's handle (serial_watch_handle) that read_command_input
// watches; -1 watches nothing. Forgotten once it fired. Where the platform
// cannot wait on both at once, the loss shows at the next command instead.
void watch_during_input(intptr_t handle);

// Waits up to timeout_ms for a key on the terminal: the key (KEY_ESC when ESC
// was among the keys pressed), 0 after the time-out or when standard input is
// no terminal (its lines are not taken then), -1 when the program was asked to
// end. Expects key mode (set_input_mode without INPUT_LINES).
int wait_for_key(uint32_t timeout_ms);
// 1 when standard output is a terminal (or console), so that what is redrawn in
// place is shown there only.
int console_output_is_terminal();

// What may stand at the cursor's word, given the finished words before it.
struct CompletionCandidates {
    std::vector<std::string> words;
    bool ignore_case = false; // keywords, which may be typed in any case
    bool file_path = false;   // a file path: the console lists the folder instead
};
using CompletionSource = CompletionCandidates (*)(const std::vector<std::string>& words_before);
// Tab completes from this source; nullptr (the default) completes nothing.
void set_completion_source(CompletionSource source);

// Writes straight to the terminal, bypassing standard output's buffer.
int write_console(const char* bytes, uint32_t count);
int set_cursor_position(uint16_t column, uint16_t row);
void clear_screen();
// Act only for stream 1 (standard output): normal and highlight text colours.
int set_text_normal(int stream);
int set_text_highlight(int stream);
// "°" in the console's character set.
const char* degree_sign();

// Traffic log.
extern FILE* traffic_log;
// nullptr path: no log. 0 or -1 after "ERROR opening log file:...".
int log_open(const char* path);
void log_close();
// One record: "<ms> " + prefix + bytes (as text, or as lower-case hex) + suffix.
void log_traffic(const char* prefix, const char* suffix, int raw, const uint8_t* bytes,
                 uint32_t count);

// snprintf that always terminates and never reports more than it wrote.
int format_bounded(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
