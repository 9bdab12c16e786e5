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
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/results.h"

struct SerialPort {
    int fd = -1;
    uint32_t read_timeout_ms = 100; // until a caller sets its own
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

std::vector<std::string> ports_from_sysfs() {
    std::vector<std::string> ports;
    const std::string base = "/sys/class/tty";
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

int open_failure_errno(int error) {
    return (error == EACCES || error == EPERM || error == EBUSY) ? EACCES : EBADF;
}

void fail_with(int fd, const char* message) {
    print_system_error(message);
    close(fd);
    errno = EBADF;
}

void configure_line(termios* tio, speed_t speed) {
    cfmakeraw(tio);
    tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio->c_cflag |= CS8 | CREAD | CLOCAL;
    tio->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK);
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
    cfsetispeed(tio, speed);
    cfsetospeed(tio, speed);
}

// Applies the settings and reads them back: some drivers accept a call and
// quietly keep another speed.
bool apply_settings(int fd, const termios& wanted, speed_t speed) {
    if (tcsetattr(fd, TCSANOW, &wanted) != 0)
        return false;
    termios actual{};
    if (tcgetattr(fd, &actual) != 0)
        return false;
    if (cfgetospeed(&actual) != speed) {
        errno = EINVAL;
        return false;
    }
    return true;
}

void raise_modem_lines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines); // ptys and some adapters have no modem lines
}

// USB adapters otherwise hold received bytes for their latency timer (16 ms),
// which would distort every timing measured above this layer.
void request_low_latency(int fd) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &info);
}

// Waits until the port is readable. 1 readable, 0 time-out, -1 hang-up or error.
int wait_readable(int fd, uint32_t timeout_ms) {
    const uint64_t start = clock_ms();
    for (;;) {
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

} // namespace

std::vector<std::string> serial_list_ports() {
    if (const char* list = std::getenv("NC_SERIAL_PORTS"))
        return ports_from_environment(list);
    return ports_from_sysfs();
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
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        fail_with(fd, "Error, failed to get serial port parameters");
        return INVALID_PORT;
    }
    speed_t speed = B0;
    if (!speed_of(baud, &speed)) {
        errno = EINVAL;
        fail_with(fd, "Error, failed to set serial port parameters");
        return INVALID_PORT;
    }
    configure_line(&tio, speed);
    if (!apply_settings(fd, tio, speed)) {
        fail_with(fd, "Error, failed to set serial port parameters");
        return INVALID_PORT;
    }
    ioctl(fd, TIOCEXCL);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    raise_modem_lines(fd);
    request_low_latency(fd);
    auto* port = new SerialPort;
    port->fd = fd;
    return port;
}

int serial_read(PortHandle port, uint8_t* buffer, uint32_t size) {
    if (port == INVALID_PORT)
        return fail_closed_port("Error, reading from serial port");
    if (size == 0)
        return 0;
    const uint64_t start = clock_ms();
    int empty_reads = 0;
    for (;;) {
        const int ready =
            wait_readable(port->fd, remaining_ms(clock_ms(), start, port->read_timeout_ms));
        if (ready == 0)
            return 0;
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
        print_system_error("Error, reading from serial port");
        return RESULT_PORT_ERROR;
    }
}

int serial_write(PortHandle port, const uint8_t* bytes, uint32_t length) {
    if (length == 0)
        return 0;
    if (port == INVALID_PORT)
        return fail_closed_port("Error, writing to serial port");
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = write(port->fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            print_system_error("Error, writing to serial port");
            return RESULT_PORT_ERROR;
        }
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int>(length);
}

void serial_purge_rx(PortHandle port) {
    if (port != INVALID_PORT)
        tcflush(port->fd, TCIFLUSH);
}

int serial_set_read_timeout(PortHandle port, uint32_t milliseconds) {
    if (port == INVALID_PORT || milliseconds > 0x7FFFFFFF)
        return 0;
    port->read_timeout_ms = milliseconds;
    return 1;
}

int serial_set_baud(PortHandle port, uint32_t baud) {
    speed_t speed = B0;
    termios tio{};
    if (port == INVALID_PORT || !speed_of(baud, &speed) || tcgetattr(port->fd, &tio) != 0)
        return 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return apply_settings(port->fd, tio, speed) ? 1 : 0;
}

void serial_close(PortHandle port) {
    if (port == INVALID_PORT)
        return;
    // The exclusive flag belongs to the tty, not to this descriptor: clear it so
    // that the next open (ours after a reconnect, or another program's) works.
    ioctl(port->fd, TIOCNXCL);
    close(port->fd);
    delete port;
}

void print_system_error(const char* text) {
    std::fprintf(stderr, "%s: %s\n", text, std::strerror(errno));
}
