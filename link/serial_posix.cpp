#include "link/serial.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/serial_ports_linux.h"
#include "link/serial_rate_linux.h"

struct SerialPort {
    int fd = -1;
    uint32_t read_timeout_ms = 100; // until a caller sets its own
    // What the port had before we came: put back at close, as a well-behaved
    // program leaves a port (it may be the machine's own serial console).
    termios found{};
    serial_struct found_driver{};
    bool driver_changed = false;
    int dead_errno = 0; // why the line was given up (its descriptor is then closed)
};

namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t speed;
};

const BaudEntry baud_table[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speed_of(uint32_t rate, speed_t* speed) {
    for (const BaudEntry& entry : baud_table) {
        if (entry.rate == rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

std::string device_path(const char* name) {
    return std::strchr(name, '/') ? std::string(name) : std::string("/dev/") + name;
}

// Orders "ttyS2" before "ttyS10" by comparing digit runs as numbers.
bool natural_less(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t i_end = i, j_end = j;
            while (i_end < a.size() && std::isdigit(static_cast<unsigned char>(a[i_end])))
                ++i_end;
            while (j_end < b.size() && std::isdigit(static_cast<unsigned char>(b[j_end])))
                ++j_end;
            const unsigned long long x = std::strtoull(a.substr(i, i_end - i).c_str(), nullptr, 10);
            const unsigned long long y = std::strtoull(b.substr(j, j_end - j).c_str(), nullptr, 10);
            if (x != y)
                return x < y;
            i = i_end;
            j = j_end;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> ports_from_environment(const char* list) {
    std::vector<std::string> ports;
    std::string text(list);
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(':', start), text.size());
        if (end > start)
            ports.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ports;
}

// The legacy 8250 driver registers ports whether or not a UART is fitted; an
// unfitted one reports the UART type 0.
bool is_fitted(const std::string& tty_dir) {
    std::ifstream type_file(tty_dir + "/type");
    int type = -1;
    if (type_file >> type)
        return type != 0;
    return true;
}

} // namespace

std::vector<std::string> serial_ports_in(const std::string& base) {
    std::vector<std::string> ports;
    DIR* dir = opendir(base.c_str());
    if (!dir)
        return ports;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] == '.')
            continue;
        const std::string tty_dir = base + "/" + name;
        if (access((tty_dir + "/device").c_str(), F_OK) != 0 || !is_fitted(tty_dir))
            continue;
        ports.push_back(name);
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end(), natural_less);
    return ports;
}

namespace {

// A port held by another program (the exclusive flag gives EBUSY) is EACCES, as
// the scan reports it; a port the user may not open is EPERM, a different cause
// with a different cure; everything else is EBADF.
int open_failure_errno(int error) {
    if (error == EBUSY)
        return EACCES;
    if (error == EACCES || error == EPERM)
        return EPERM;
    return EBADF;
}

// Ends a failed open: the message with the system's reason, the settings found
// put back, the descriptor closed. errno is left at the reason.
void fail_with(int fd, const termios* found, const char* message) {
    print_system_error(message);
    const int reason = errno;
    if (found)
        tcsetattr(fd, TCSANOW, found);
    close(fd);
    errno = reason;
}

// HUPCL is left as found: whether closing drops DTR is the machine's choice.
void configure_line(termios* tio) {
    cfmakeraw(tio);
    tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio->c_cflag |= CS8 | CREAD | CLOCAL;
    tio->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK);
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
}

// A UART runs at the nearest rate its clock divides to; both ends tolerate a
// few per cent.
bool close_enough(uint32_t actual, uint32_t wanted) {
    const uint64_t difference = actual > wanted ? actual - wanted : wanted - actual;
    return difference * 50 <= wanted;
}

// Applies the settings with the line speed baud and reads them back: some
// drivers accept a call and quietly keep another speed. Rates outside the
// standard table go through the driver's arbitrary-rate interface.
bool apply_settings(int fd, termios wanted, uint32_t baud) {
    speed_t speed = B0;
    const bool standard = speed_of(baud, &speed);
    if (standard) {
        cfsetispeed(&wanted, speed);
        cfsetospeed(&wanted, speed);
    }
    if (baud == 0 || tcsetattr(fd, TCSADRAIN, &wanted) != 0) {
        errno = EINVAL;
        return false;
    }
    termios actual{};
    if (tcgetattr(fd, &actual) != 0)
        return false;
    const bool taken = standard ? cfgetospeed(&actual) == speed
                                : close_enough(apply_custom_rate(fd, baud), baud);
    if (!taken)
        errno = EINVAL;
    return taken;
}

void raise_modem_lines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines); // ptys and some adapters have no modem lines
}

// USB adapters otherwise hold received bytes for their latency timer (16 ms),
// which would distort every timing measured above this layer.
void request_low_latency(SerialPort& port) {
    if (ioctl(port.fd, TIOCGSERIAL, &port.found_driver) != 0)
        return;
    serial_struct info = port.found_driver;
    if (info.flags & ASYNC_LOW_LATENCY)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    port.driver_changed = ioctl(port.fd, TIOCSSERIAL, &info) == 0;
}

constexpr int WAIT_ENDED = -2;

// Waits until the port is readable. 1 readable, 0 time-out, -1 hang-up or error,
// WAIT_ENDED when the program was asked to end (noticed at the latest when the
// time-out has passed, if the request came just before the wait began).
int wait_readable(int fd, uint32_t timeout_ms) {
    const uint64_t start = clock_ms();
    for (;;) {
        if (termination_requested())
            return WAIT_ENDED;
        pollfd pfd{fd, POLLIN, 0};
        const uint32_t remaining = remaining_ms(clock_ms(), start, timeout_ms);
        const int ready = poll(&pfd, 1, static_cast<int>(remaining));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
        if (ready == 0)
            return 0;
        if (pfd.revents & POLLIN)
            return 1;
        errno = EIO; // POLLHUP, POLLERR or POLLNVAL without data
        return -1;
    }
}

int fail_closed_port(const char* message) {
    errno = EBADF;
    print_system_error(message);
    return RESULT_PORT_ERROR;
}

// A hung-up or vanished line does not come back on this descriptor.
bool gone_for_good(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// Prints the failure; a line gone for good is closed at once, so that an
// adapter put back gets its old name again instead of the next free one.
int fail_on_line(SerialPort& port, const char* message) {
    print_system_error(message);
    if (port.fd >= 0 && gone_for_good(errno)) {
        const int reason = errno;
        close(port.fd);
        port.fd = -1;
        port.dead_errno = reason;
        errno = reason;
    }
    return RESULT_PORT_ERROR;
}

int fail_on_dead_line(const SerialPort& port, const char* message) {
    errno = port.dead_errno;
    print_system_error(message);
    return RESULT_PORT_ERROR;
}

} // namespace

std::vector<std::string> serial_list_ports() {
    if (const char* list = std::getenv("NC_SERIAL_PORTS"))
        return ports_from_environment(list);
    return serial_ports_in("/sys/class/tty");
}

PortHandle serial_open(const char* name, uint32_t baud) {
    const std::string path = device_path(name);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errno = open_failure_errno(errno);
        return INVALID_PORT;
    }
    // flock also binds root, which TIOCEXCL does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        errno = EACCES;
        return INVALID_PORT;
    }
    termios found{};
    if (tcgetattr(fd, &found) != 0) {
        fail_with(fd, nullptr, "Error, failed to get serial port parameters");
        errno = EBADF;
        return INVALID_PORT;
    }
    termios wanted = found;
    configure_line(&wanted);
    if (!apply_settings(fd, wanted, baud)) {
        fail_with(fd, &found, "Error, failed to set serial port parameters");
        errno = EINVAL;
        return INVALID_PORT;
    }
    ioctl(fd, TIOCEXCL);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    raise_modem_lines(fd);
    auto* port = new SerialPort;
    port->fd = fd;
    port->found = found;
    request_low_latency(*port);
    return port;
}

std::string serial_permission_hint(const char* name) {
    const std::string path = device_path(name);
    struct stat info {};
    const group* owner = stat(path.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
    if (!owner || info.st_gid == 0)
        return "ask the administrator for read and write access to " + path;
    return std::string("add the user to the group '") + owner->gr_name +
           "' (usermod -aG " + owner->gr_name + " <user>) and log in again";
}

int serial_read(PortHandle port, uint8_t* buffer, uint32_t size) {
    if (port == INVALID_PORT)
        return fail_closed_port("Error, reading from serial port");
    if (port->fd < 0)
        return fail_on_dead_line(*port, "Error, reading from serial port");
    if (size == 0)
        return 0;
    const uint64_t start = clock_ms();
    int empty_reads = 0;
    for (;;) {
        const int ready =
            wait_readable(port->fd, remaining_ms(clock_ms(), start, port->read_timeout_ms));
        if (ready == 0)
            return 0;
        if (ready == WAIT_ENDED)
            return RESULT_QUIT;
        if (ready > 0) {
            const ssize_t n = read(port->fd, buffer, size);
            if (n > 0)
                return static_cast<int>(n);
            // Input flushed between poll and read leaves a port readable but
            // empty once; a hung-up line stays that way.
            if ((n < 0 && (errno == EINTR || errno == EAGAIN)) || (n == 0 && ++empty_reads < 2))
                continue;
            if (n == 0)
                errno = EIO;
        }
        return fail_on_line(*port, "Error, reading from serial port");
    }
}

int serial_write(PortHandle port, const uint8_t* bytes, uint32_t length) {
    if (length == 0)
        return 0;
    if (port == INVALID_PORT)
        return fail_closed_port("Error, writing to serial port");
    if (port->fd < 0)
        return fail_on_dead_line(*port, "Error, writing to serial port");
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = write(port->fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail_on_line(*port, "Error, writing to serial port");
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int>(length);
}

void serial_purge_rx(PortHandle port) {
    if (port != INVALID_PORT && port->fd >= 0)
        tcflush(port->fd, TCIFLUSH);
}

int serial_set_read_timeout(PortHandle port, uint32_t milliseconds) {
    if (port == INVALID_PORT || milliseconds > 0x7FFFFFFF)
        return 0;
    port->read_timeout_ms = milliseconds;
    return 1;
}

int serial_set_baud(PortHandle port, uint32_t baud) {
    termios tio{};
    if (port == INVALID_PORT || tcgetattr(port->fd, &tio) != 0)
        return 0;
    // Bytes still queued for the old rate go out at it (TCSADRAIN).
    return apply_settings(port->fd, tio, baud) ? 1 : 0;
}

intptr_t serial_watch_handle(PortHandle port) {
    return port != INVALID_PORT ? port->fd : -1;
}

void serial_close(PortHandle port) {
    if (port == INVALID_PORT)
        return;
    if (port->fd < 0) { // given up on already
        delete port;
        return;
    }
    // The exclusive flag belongs to the tty, not to this descriptor: clear it so
    // that the next open (ours after a reconnect, or another program's) works.
    ioctl(port->fd, TIOCNXCL);
    if (port->driver_changed)
        ioctl(port->fd, TIOCSSERIAL, &port->found_driver);
    // After the last bytes have gone out at our rate.
    tcsetattr(port->fd, TCSADRAIN, &port->found);
    close(port->fd);
    delete port;
}

void print_system_error(const char* text) {
    const int reason = errno;
    std::fflush(stdout); // the message must not overtake earlier output in a pipe
    std::fprintf(stderr, "%s: %s\n", text, std::strerror(reason));
    errno = reason;
}
