#include "sim/wire.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

struct SpeedEntry {
    uint32_t baud;
    speed_t speed;
};

const SpeedEntry speed_table[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

speed_t speed_of(uint32_t baud) {
    for (const SpeedEntry& entry : speed_table) {
        if (entry.baud == baud)
            return entry.speed;
    }
    return B38400;
}

uint32_t baud_of(speed_t speed) {
    for (const SpeedEntry& entry : speed_table) {
        if (entry.speed == speed)
            return entry.baud;
    }
    return 0;
}

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool configure_slave(int fd, uint32_t baud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio); // no echo: what we send must not come back to us
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, speed_of(baud));
    cfsetospeed(&tio, speed_of(baud));
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

Wire::~Wire() {
    unlink_link();
    close();
}

bool Wire::open(uint32_t baud, std::string* error) {
    close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        *error = system_error("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        *error = system_error("pty set-up");
        close();
        return false;
    }
    slave_path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0 || !configure_slave(slave_, baud)) {
        *error = system_error(name);
        close();
        return false;
    }
    // Opened after our own descriptor, so only other programs are counted.
    notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify_ >= 0 && inotify_add_watch(notify_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(notify_);
        notify_ = -1;
    }
    if (!link_path_.empty() && !link(link_path_, error))
        return false;
    return true;
}

void Wire::close() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    if (notify_ >= 0)
        ::close(notify_);
    slave_ = -1;
    master_ = -1;
    notify_ = -1;
    holders_ = 0;
}

uint32_t Wire::slave_baud() const {
    termios tio{};
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0)
        return 0;
    return baud_of(cfgetospeed(&tio));
}

long Wire::read_some(uint8_t* buffer, size_t size) {
    const ssize_t n = ::read(master_, buffer, size);
    if (n >= 0)
        return static_cast<long>(n);
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

void Wire::write_all(const std::string& bytes) {
    size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // full (nobody reads) or failing: the rest is lost
        done += static_cast<size_t>(n);
    }
}

Wire::Release Wire::track_holders() {
    alignas(inotify_event) char buffer[4096];
    Release release = Release::None;
    for (;;) {
        const ssize_t n = notify_ >= 0 ? ::read(notify_, buffer, sizeof buffer) : -1;
        if (n <= 0)
            return release;
        bool was_held = holders_ > 0;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN)
                ++holders_;
            was_held = was_held || holders_ > 0;
            if ((event->mask & IN_CLOSE) && holders_ > 0)
                --holders_;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        // Only once the last program has gone (a close and a reopen read in one
        // batch are no release): nobody reads then, so flushing cannot race a
        // reader that was told the port is readable.
        if (was_held && holders_ == 0) {
            tcflush(slave_, TCIFLUSH);
            int exclusive = 0;
            ioctl(slave_, TIOCGEXCL, &exclusive);
            ioctl(slave_, TIOCNXCL);
            release = exclusive ? Release::ExclusiveLeftSet : Release::Clean;
        }
    }
}

bool Wire::link(const std::string& path, std::string* error) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        *error = path + " exists and is not a symlink";
        return false;
    }
    // Replace atomically, so a tool that opens the name never finds it missing.
    const std::string temporary = path + ".nc-sim-new";
    ::unlink(temporary.c_str());
    if (symlink(slave_path_.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        *error = system_error(path.c_str());
        ::unlink(temporary.c_str());
        return false;
    }
    link_path_ = path;
    return true;
}

void Wire::unlink_link() {
    if (link_path_.empty())
        return;
    char target[256];
    const ssize_t n = readlink(link_path_.c_str(), target, sizeof target - 1);
    // Only our own symlink is removed, never one that points elsewhere by now.
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == slave_path_)
        ::unlink(link_path_.c_str());
}

// ---------------------------------------------------------------- process

namespace {

volatile sig_atomic_t stop_flag = 0;

void on_stop_signal(int) {
    stop_flag = 1;
}

const int stop_signals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : stop_signals) {
        sigaction(signal_number, &action, nullptr);
        sigaddset(&blocked, signal_number);
    }
    // A write to a closed pty, or a background read or write of the
    // terminal, fails instead of ending or stopping the simulator.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int signal_number : {SIGPIPE, SIGTTIN, SIGTTOU})
        sigaction(signal_number, &ignore, nullptr);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
}

bool stop_requested() {
    return stop_flag != 0;
}

double wall_clock_utc() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

WireEvents wait_events(const Wire& wire, bool want_line_input, bool watch_control,
                       uint64_t timeout_us) {
    pollfd fds[3];
    nfds_t count = 0;
    const short line_events = want_line_input ? POLLIN : 0; // errors are reported regardless
    if (wire.is_open()) {
        fds[count++] = {wire.poll_fd(), line_events, 0};
        fds[count++] = {wire.notify_fd(), POLLIN, 0}; // a negative fd is skipped
    }
    const nfds_t control_index = count;
    if (watch_control)
        fds[count++] = {STDIN_FILENO, POLLIN, 0};
    const timespec timeout{static_cast<time_t>(timeout_us / 1000000),
                           static_cast<long>(timeout_us % 1000000) * 1000};
    sigset_t unblocked;
    sigemptyset(&unblocked);
    WireEvents events;
    if (ppoll(fds, count, &timeout, &unblocked) <= 0)
        return events;
    if (wire.is_open()) {
        events.line_input = (fds[0].revents & POLLIN) != 0;
        events.line_failed =
            !events.line_input && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL));
    }
    if (watch_control) {
        const short revents = fds[control_index].revents;
        // Hang-up without data is the end; an error is never waited on again.
        events.control_input = (revents & POLLIN) != 0;
        events.control_closed =
            (revents & (POLLERR | POLLNVAL)) || ((revents & POLLHUP) && !(revents & POLLIN));
    }
    return events;
}

long read_control_input(char* buffer, size_t size) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    if (n > 0)
        return static_cast<long>(n);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return 0;
    return -1; // the end, or EIO for a background process of a terminal
}

} // namespace sim
