// The guest's measuring tool for the real-driver rig.
//   nc-rig-probe port DEVICE       one line: the port's termios, the serial
//                                  driver's flags and, for a USB adapter, its
//                                  latency timer, to compare before and after
//   nc-rig-probe tty PROGRAM ARGS  runs PROGRAM on a new pseudo-terminal, feeds
//                                  it standard input, copies out what it
//                                  writes, and ends with "@tty restored" or
//                                  "@tty changed" and the program's status;
//                                  SIGTERM, SIGINT and SIGHUP go on to it
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile pid_t child = 0;

void hand_on(int signal_number) {
    if (child > 0)
        kill(child, signal_number);
}

std::string termios_text(const termios& tio) {
    std::string text;
    char field[32];
    std::snprintf(field, sizeof field, "%x:%x:%x:%x:%x:%x", tio.c_iflag, tio.c_oflag, tio.c_cflag,
                  tio.c_lflag, cfgetispeed(&tio), cfgetospeed(&tio));
    text = field;
    for (cc_t c : tio.c_cc) {
        std::snprintf(field, sizeof field, ":%x", c);
        text += field;
    }
    return text;
}

std::string latency_timer(const char* device) {
    const char* name = std::strrchr(device, '/');
    std::ifstream file(std::string("/sys/class/tty/") + (name ? name + 1 : device) +
                       "/device/latency_timer");
    std::string value;
    return std::getline(file, value) ? value : "-";
}

int print_port_state(const char* device) {
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::printf("%s: %s\n", device, std::strerror(errno));
        return 1;
    }
    termios tio{};
    serial_struct info{};
    const bool have_tio = tcgetattr(fd, &tio) == 0;
    const bool have_info = ioctl(fd, TIOCGSERIAL, &info) == 0;
    std::printf("termios %s flags %s low-latency %s latency-timer %s\n",
                have_tio ? termios_text(tio).c_str() : "-",
                have_info ? std::to_string(info.flags).c_str() : "-",
                have_info ? ((info.flags & ASYNC_LOW_LATENCY) ? "on" : "off") : "-",
                latency_timer(device).c_str());
    close(fd);
    return 0;
}

bool copy(int from, int to) {
    char buffer[4096];
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    for (ssize_t done = 0; done < n;) {
        const ssize_t written = write(to, buffer + done, static_cast<size_t>(n - done));
        if (written <= 0)
            return errno == EINTR;
        done += written;
    }
    return true;
}

// Copies both ways until the program has closed the terminal (or died).
void relay(int master) {
    bool input_open = true;
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, input_open ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents && !copy(master, STDOUT_FILENO))
            return;
        if (input_open && fds[1].revents && !copy(STDIN_FILENO, master))
            input_open = false;
    }
}

int run_on_terminal(char** argv) {
    termios modes{};
    cfmakeraw(&modes); // eight data bits, then the flags of a cooked terminal
    modes.c_iflag = ICRNL | IXON;
    modes.c_oflag = OPOST | ONLCR;
    modes.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    winsize size{50, 80, 0, 0};
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, &modes, &size);
    if (pid < 0) {
        std::perror("forkpty");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    child = pid;
    struct sigaction action {};
    action.sa_handler = hand_on;
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal_number, &action, nullptr);
    termios before{};
    tcgetattr(master, &before);
    relay(master);
    int status = 0;
    waitpid(pid, &status, 0);
    termios after{};
    tcgetattr(master, &after);
    const bool restored = termios_text(before) == termios_text(after);
    std::printf("\n@tty %s\n", restored ? "restored" : "changed");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "port") == 0)
        return print_port_state(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "tty") == 0)
        return run_on_terminal(argv + 2);
    std::fprintf(stderr, "usage: nc-rig-probe port DEVICE | tty PROGRAM [ARGS]\n");
    return 2;
}
