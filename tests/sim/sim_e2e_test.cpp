// nc-sim as a process on real pseudo-terminals, where the tool's tests do
// not take it: a port a killed tool left exclusive, and a run in the
// background of an interactive shell.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/clock.h"
#include "link/serial.h"

namespace {

// In a child: nc-sim with these arguments, standard input from in, and
// standard output into out, where its own pid comes before the path of its
// port.
[[noreturn]] void become_sim(int in, int out, std::vector<const char*> args) {
    const std::string pid = std::to_string(getpid()) + "\n";
    const int null = open("/dev/null", O_RDWR);
    dup2(in < 0 ? null : in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (write(STDOUT_FILENO, pid.data(), pid.size()) < 0)
        _exit(126);
    args.insert(args.begin(), NC_SIM_PATH);
    args.push_back(nullptr);
    execv(NC_SIM_PATH, const_cast<char* const*>(args.data()));
    _exit(127);
}

// A child that becomes nc-sim (start gets the pipe for become_sim's output),
// and the simulator's pid and port from it, or the suite's time-out. What is
// left of either is killed when a test stops early.
struct Started {
    pid_t child = -1;
    pid_t sim = 0;
    std::string path;
    bool reaped = false;

    template <typename Start> explicit Started(Start start) {
        int out[2];
        if (pipe(out) != 0)
            return;
        child = fork();
        if (child == 0)
            start(out[1]);
        close(out[1]);
        FILE* text = fdopen(out[0], "r");
        char port[256] = {};
        if (std::fscanf(text, "%d %255s", &sim, port) == 2)
            path = port;
        std::fclose(text);
    }
    ~Started() {
        if (reaped || child <= 0)
            return;
        if (sim > 0)
            kill(sim, SIGKILL);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
};

// A tool killed while it held the port never cleared its exclusive flag; the
// simulator clears it once the last holder is gone, or nobody but root could
// open the port again. Its standard input ends at once, which must not stop it.
TEST(SimEndToEnd, PortIsNotLeftExclusiveByAKilledTool) {
    const Started sim([](int out) { become_sim(-1, out, {"--no-nmea"}); });
    ASSERT_FALSE(sim.path.empty());
    const int held = open(sim.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(ioctl(held, TIOCEXCL), 0);
    close(held); // as the kernel does for a killed process
    // Seen within a few of the simulator's polls; a stalled machine may take
    // longer, so look again for up to 2 s.
    int exclusive = 1;
    for (const uint64_t end = clock_ms() + 2000; exclusive != 0 && clock_ms() < end;) {
        usleep(20'000);
        const int probe = open(sim.path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(probe, 0);
        ASSERT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
        close(probe);
    }
    EXPECT_EQ(exclusive, 0);
}

// Started with "&" from an interactive shell: standard input is a terminal
// that belongs to the foreground, and typed input is pending. The simulator
// must go on serving the line, and a hang-up of the terminal (SIGHUP) ends it
// cleanly, its symlink removed. Exit status of the session leader: the
// simulator's own, 3 when it was stopped, 4 when a signal killed it.
TEST(SimEndToEnd, RunsInTheBackgroundOfATerminalAndEndsOnHangUp) {
    const std::string link = "/tmp/nc-sim-test-" + std::to_string(getpid()) + "-background";
    Started job([&](int out) {
        setsid();
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            _exit(5);
        const int tty = open(ptsname(master), O_RDWR); // becomes our controlling terminal
        const pid_t sim = fork();
        if (sim == 0) {
            setpgid(0, 0); // a background job
            become_sim(tty, out, {"--link", link.c_str()});
        }
        setpgid(sim, sim);
        if (write(master, "status\n", 7) < 0)
            _exit(5);
        int status = 0;
        waitpid(sim, &status, WUNTRACED);
        if (WIFSTOPPED(status))
            kill(sim, SIGKILL);
        _exit(WIFSTOPPED(status) ? 3 : WIFEXITED(status) ? WEXITSTATUS(status) : 4);
    });
    ASSERT_GT(job.sim, 0);
    ASSERT_FALSE(job.path.empty());

    usleep(300'000); // time to meet the pending input
    const PortHandle port = serial_open(link.c_str(), 38400);
    ASSERT_NE(port, INVALID_PORT);
    serial_set_read_timeout(port, 1000);
    uint8_t bytes[64];
    EXPECT_GT(serial_read(port, bytes, sizeof bytes), 0); // it still serves the line
    serial_close(port);
    kill(job.sim, SIGHUP);
    int status = -1;
    waitpid(job.child, &status, 0);
    job.reaped = true;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0);
    unlink(link.c_str()); // when the test failed
}

} // namespace
