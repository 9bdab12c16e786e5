#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <map>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include "base/clock.h"
#include "link/serial.h"
#include "link/serial_ports_linux.h"
#include "pty.h"

namespace {

struct OpenPort {
    PortHandle port;
    explicit OpenPort(const std::string& path, uint32_t baud = 38400)
        : port(serial_open(path.c_str(), baud)) {}
    ~OpenPort() { serial_close(port); }
};

} // namespace

TEST(SerialPort, QuietReadTimesOutAfterTheReadTimeout) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    ASSERT_EQ(serial_set_read_timeout(open.port, 100), 1);
    uint8_t buffer[82];
    const uint64_t start = clock_ms();
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), 0);
    const uint64_t elapsed = clock_ms() - start;
    EXPECT_GE(elapsed, 95u);
    EXPECT_LE(elapsed, 400u); // generous: sanitizers and parallel tests share two cores
}

TEST(SerialPort, QueuedBytesComeBackAtOnce) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    serial_set_read_timeout(open.port, 1000);
    ASSERT_EQ(write(pty.master, "0123456789", 10), 10);
    sleep_ms(20);
    uint8_t buffer[82];
    const uint64_t start = clock_ms();
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), 10);
    EXPECT_LT(clock_ms() - start, 80u); // far below the 1000 ms time-out
}

TEST(SerialPort, WaitsForTheFirstByteAndReturnsWithIt) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    serial_set_read_timeout(open.port, 2000);
    if (fork() == 0) {
        sleep_ms(150);
        (void)!write(pty.master, "x", 1);
        _exit(0);
    }
    uint8_t buffer[82];
    const uint64_t start = clock_ms();
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), 1);
    EXPECT_LT(clock_ms() - start, 1000u);
    wait(nullptr);
}

TEST(SerialPort, ExclusiveOpenAndMissingPath) {
    TestPty pty;
    OpenPort first(pty.path);
    ASSERT_NE(first.port, INVALID_PORT);
    errno = 0;
    EXPECT_EQ(serial_open(pty.path.c_str(), 38400), INVALID_PORT);
    EXPECT_EQ(errno, EACCES);

    errno = 0;
    EXPECT_EQ(serial_open("/dev/nc-no-such-port", 4800), INVALID_PORT);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(serial_open("ttyNoSuchPort", 4800), INVALID_PORT); // short names live in /dev
    EXPECT_EQ(errno, EBADF);
}

TEST(SerialPort, ClosedPortCanBeOpenedAgain) {
    TestPty pty;
    PortHandle port = serial_open(pty.path.c_str(), 4800);
    ASSERT_NE(port, INVALID_PORT);
    serial_close(port);
    port = serial_open(pty.path.c_str(), 38400);
    EXPECT_NE(port, INVALID_PORT);
    serial_close(port);
}

TEST(SerialPort, LineSettingsAndBaudChangeTouchOnlyTheSpeed) {
    TestPty pty;
    OpenPort open(pty.path, 4800);
    ASSERT_NE(open.port, INVALID_PORT);
    termios before{};
    ASSERT_EQ(tcgetattr(pty.master, &before), 0); // the master reports the slave's settings
    EXPECT_EQ(cfgetospeed(&before), B4800);
    EXPECT_EQ(before.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(before.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(before.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(before.c_lflag & (ICANON | ECHO), 0u);

    ASSERT_EQ(serial_set_baud(open.port, 38400), 1);
    termios after{};
    ASSERT_EQ(tcgetattr(pty.master, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B38400);
    EXPECT_EQ(cfgetispeed(&after), B38400);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX),
              before.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX));

    // Rates outside the standard table go to the driver as they are.
    EXPECT_EQ(serial_set_baud(open.port, 12345), 1);
    ASSERT_EQ(tcgetattr(pty.master, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(CBAUDEX)); // the kernel's BOTHER: "other rate"
    EXPECT_EQ(serial_set_baud(open.port, 0), 0); // 0 baud would hang up the line
    for (uint32_t rate : {4800u, 9600u, 19200u, 57600u, 115200u, 230400u, 460800u, 921600u})
        EXPECT_EQ(serial_set_baud(open.port, rate), 1) << rate;
}

// A scan must leave every port it probed as it found it, the machine's own
// serial console included: the settings, HUPCL among them, come back at close,
// also after an open that failed on its settings.
TEST(SerialPort, SettingsFoundAtOpenArePutBackAtClose) {
    TestPty pty;
    termios found{};
    ASSERT_EQ(tcgetattr(pty.slave, &found), 0);
    cfsetispeed(&found, B9600);
    cfsetospeed(&found, B9600);
    found.c_cflag |= HUPCL | CRTSCTS;
    found.c_lflag |= ICANON | ECHO;
    found.c_iflag |= ICRNL | IXON;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &found), 0);
    ASSERT_EQ(tcgetattr(pty.slave, &found), 0);

    const auto same_as_found = [&](const char* when) {
        termios now{};
        ASSERT_EQ(tcgetattr(pty.slave, &now), 0);
        expect_same_settings(now, found, when);
    };
    for (uint32_t baud : {4800u, 38400u, 3840u}) {
        PortHandle port = serial_open(pty.path.c_str(), baud);
        ASSERT_NE(port, INVALID_PORT) << baud;
        termios open_settings{};
        ASSERT_EQ(tcgetattr(pty.slave, &open_settings), 0);
        EXPECT_EQ(open_settings.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL)) << "left as found";
        EXPECT_EQ(open_settings.c_lflag & ICANON, 0u);
        serial_close(port);
        same_as_found("after a close");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(serial_open(pty.path.c_str(), 0), INVALID_PORT);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error, failed to set serial port parameters: Invalid argument\n");
    same_as_found("after a refused rate");
    OpenPort later(pty.path); // the failed open left nothing locked
    EXPECT_NE(later.port, INVALID_PORT);
}

// A user without permission for the port is told so, not that another program
// holds it.
TEST(SerialPort, MissingPermissionIsNotAPortInUse) {
    TestPty pty;
    ASSERT_EQ(chmod(pty.path.c_str(), 0600), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        errno = 0;
        const bool refused = serial_open(pty.path.c_str(), 4800) == INVALID_PORT;
        _exit(refused && errno == EPERM ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "needs root to play a user without permission";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (const group* dialout = getgrnam("dialout")) {
        ASSERT_EQ(chown(pty.path.c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
        EXPECT_EQ(serial_permission_hint(pty.path.c_str()),
                  "add the user to the group 'dialout' (usermod -aG dialout <user>) and log in "
                  "again");
    }
}

TEST(SerialPort, NonTerminalFailsToGetParameters) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(serial_open("/dev/null", 4800), INVALID_PORT);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Error, failed to get serial port parameters: ", 0), 0u) << err;
}

TEST(SerialPort, WritesArriveCompleteAndEmptyWriteSendsNothing) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    EXPECT_EQ(serial_write(open.port, nullptr, 0), 0);
    std::string big(3000, 'z');
    EXPECT_EQ(serial_write(open.port, reinterpret_cast<const uint8_t*>(big.data()), 3000), 3000);
    std::string received;
    char chunk[512];
    while (received.size() < big.size()) {
        const ssize_t n = read(pty.master, chunk, sizeof chunk);
        ASSERT_GT(n, 0);
        received.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(received, big);
}

TEST(SerialPort, PurgeDiscardsReceivedInput) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    serial_set_read_timeout(open.port, 100);
    ASSERT_EQ(write(pty.master, "stale", 5), 5);
    sleep_ms(20);
    serial_purge_rx(open.port);
    uint8_t buffer[16];
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), 0);
}

TEST(SerialPort, HangUpIsAReadFailureNotATimeOut) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    serial_set_read_timeout(open.port, 2000);
    pty.close_master();
    uint8_t buffer[16];
    testing::internal::CaptureStderr();
    const uint64_t start = clock_ms();
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), -5);
    EXPECT_LT(clock_ms() - start, 500u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Error, reading from serial port: ", 0), 0u) << err;
}

TEST(SerialPort, EnvironmentListReplacesTheSystemList) {
    setenv("NC_SERIAL_PORTS", "/dev/pts/7::/tmp/sim-b:ttyUSB0", 1);
    const auto ports = serial_list_ports();
    unsetenv("NC_SERIAL_PORTS");
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], "/dev/pts/7");
    EXPECT_EQ(ports[1], "/tmp/sim-b");
    EXPECT_EQ(ports[2], "ttyUSB0");
}

// The port list from the kernel's tty class: only ttys with a device, no
// unfitted legacy UART, in the natural order the README promises; none at all
// is an empty list.
TEST(SerialPort, SystemListIsInNaturalOrderWithoutUnfittedPorts) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("nc-tty-" + std::to_string(getpid()));
    const auto add = [&](const std::string& name, int uart_type) {
        std::filesystem::create_directories(root / name / "device");
        if (uart_type >= 0)
            std::ofstream(root / name / "type") << uart_type << "\n";
    };
    EXPECT_TRUE(serial_ports_in(root.string()).empty());
    std::filesystem::create_directories(root);
    EXPECT_TRUE(serial_ports_in(root.string()).empty());
    add("ttyS10", 4);
    add("ttyS2", 4);
    add("ttyS3", 0); // registered by the legacy driver, no UART fitted
    add("ttyUSB0", -1);
    add("ttyACM1", -1);
    std::filesystem::create_directories(root / "tty0"); // a virtual console: no device
    EXPECT_EQ(serial_ports_in(root.string()),
              (std::vector<std::string>{"ttyACM1", "ttyS2", "ttyS10", "ttyUSB0"}));
    std::filesystem::remove_all(root);
}

// The name of a USB adapter comes from the USB device above its tty (for
// ttyUSB through the port node and the interface, for ttyACM through the
// interface); what the adapter reports is made printable, and a tty that is
// no USB device has no name.
TEST(SerialPort, UsbAdapterIsNamedFromTheDeviceAboveItsTty) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("nc-sysfs-" + std::to_string(getpid()));
    const fs::path usb = root / "devices/pci0000:00/usb1";
    const auto add_usb_device = [&](const std::string& name,
                                    const std::map<std::string, std::string>& attributes) {
        fs::create_directories(usb / name);
        for (const auto& [attribute, value] : attributes)
            std::ofstream(usb / name / attribute) << value << "\n";
    };
    const auto add_tty = [&](const std::string& tty, const fs::path& device) {
        fs::create_directories(device);
        fs::create_directories(root / "class/tty" / tty);
        fs::create_symlink(device, root / "class/tty" / tty / "device");
    };
    add_usb_device("1-1", {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                           {"product", "FT232R USB UART"}, {"serial", "A50285BI"}});
    add_tty("ttyUSB0", usb / "1-1/1-1:1.0/ttyUSB0");
    add_usb_device("1-2", {{"idVendor", "2341"}, {"idProduct", "0043"},
                           {"product", "Evil\x1b]0;owned\x07 adapter"}});
    add_tty("ttyACM0", usb / "1-2/1-2:1.0");
    add_usb_device("1-3", {{"idVendor", "067b"}, {"idProduct", "2303"}});
    add_tty("ttyUSB1", usb / "1-3/1-3:1.0/ttyUSB1");
    add_tty("ttyS0", root / "devices/platform/serial8250/tty/ttyS0");

    const std::string class_dir = (root / "class/tty").string();
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyUSB0"), "FTDI FT232R USB UART, serial A50285BI");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyACM0"), "Evil?]0;owned? adapter");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyUSB1"), "USB 067b:2303");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyS0"), "");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyUSB9"), "");
    fs::remove_all(root);
}
