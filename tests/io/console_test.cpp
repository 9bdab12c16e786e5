// The console on real terminals and pipes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

#include "base/clock.h"
#include "base/console.h"
#include "pty.h"

namespace {

// Runs body in a child whose standard input is fd. The child's exit code is
// the line of the first failed check, 0 when all held.
template <typename Body> int in_child_with_stdin(int fd, Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, STDIN_FILENO);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

#define CHILD_CHECK(condition)                                                                     \
    do {                                                                                           \
        if (!(condition))                                                                          \
            return __LINE__;                                                                       \
    } while (0)

} // namespace

// A signal only asks the program to end: the wait for a line returns, the
// program unwinds, and end_on_pending_signal ends it by that very signal. A
// signal the program was started to ignore stays so. Ctrl-C at the prompt,
// the terminal put back: LineEditing.TabCompletes*, the rig.
TEST(Console, TerminatingSignalEndsTheWaitThenTheProgramBySignal) {
    TestPty pty;
    const int status = in_child_with_stdin(pty.slave, [&] {
        console_setup("test");
        set_input_mode(INPUT_LINES);
        if (fork() == 0) {
            sleep_ms(100);
            kill(getppid(), SIGHUP);
            _exit(0);
        }
        char line[16];
        CHILD_CHECK(read_input(line, sizeof line) == -1);
        CHILD_CHECK(termination_requested() == SIGHUP);
        end_on_pending_signal();
        return 99; // not reached
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << WEXITSTATUS(status);
    const int ignored = in_child_with_stdin(pty.slave, [&] {
        signal(SIGHUP, SIG_IGN);
        console_setup("test");
        raise(SIGHUP);
        CHILD_CHECK(termination_requested() == 0);
        return 0;
    });
    EXPECT_TRUE(WIFEXITED(ignored) && WEXITSTATUS(ignored) == 0) << WEXITSTATUS(ignored);
}

// Another program may leave the terminal without CR-to-LF mapping: Enter still
// ends a line. The displays' title and colours, and the cursor and colours put
// back at the end; what the displays draw: Nav.LiveDisplayOfEachModel.
TEST(Console, EnterEndsALineAndTheScreenIsPutBackOnARawLeftTerminal) {
    TestPty pty;
    termios raw_left{};
    ASSERT_EQ(tcgetattr(pty.slave, &raw_left), 0);
    raw_left.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &raw_left), 0);
    const int status = in_child_with_stdin(pty.slave, [&] {
        dup2(pty.slave, STDOUT_FILENO);
        unsetenv("NO_COLOR");
        console_setup("title");
        CHILD_CHECK(set_input_mode(INPUT_PROMPT) == 0);
        CHILD_CHECK(write(pty.master, "ver\r", 4) == 4);
        char line[16];
        CHILD_CHECK(read_input(line, sizeof line) == 4 && std::memcmp(line, "ver\n", 4) == 0);
        set_text_highlight(1);
        restore_input_mode();
        return 0;
    });
    ASSERT_EQ(WEXITSTATUS(status), 0) << "failed check on line " << WEXITSTATUS(status);
    const std::string shown = pty.drain_master(100); // all of it: the child has ended
    for (const char* part : {"\x1b]0;title\a", "\x1b[0;37;44m", "\x1b[1;97;44m"})
        EXPECT_NE(shown.find(part), std::string::npos) << part;
    EXPECT_TRUE(shown.ends_with("\x1b[?25h\x1b[0m")) << shown;
}

// The prompt reading lines from a pipe also watches the serial port: its
// hang-up ends the wait at once, and what had arrived of a line is the start
// of the next one read. The device's output alone does not end the wait.
TEST(Console, PromptWatchesThePortAndKeepsThePartOfALine) {
    TestPty port;
    int lines[2];
    ASSERT_EQ(pipe(lines), 0);
    const int saved_stdin = dup(STDIN_FILENO);
    dup2(lines[0], STDIN_FILENO);
    char line[32] = {};
    watch_during_input(port.slave);
    ASSERT_EQ(write(port.master, "$HEHDT,1.0,T*00\r\n", 17), 17);
    ASSERT_EQ(write(lines[1], "ver\nsta", 7), 7);
    EXPECT_EQ(read_command_input("", line, sizeof line), 4);
    std::jthread unplug([&] {
        sleep_ms(100);
        port.close_master();
    });
    EXPECT_EQ(read_command_input("", line, sizeof line), INPUT_WATCH_FIRED);
    ASSERT_EQ(write(lines[1], "tus\n", 4), 4);
    EXPECT_EQ(read_command_input("", line, sizeof line), 7);
    EXPECT_EQ(std::string(line, 7), "status\n");
    dup2(saved_stdin, STDIN_FILENO);
    for (int fd : {saved_stdin, lines[0], lines[1]})
        close(fd);
}
