// The serial port layer against real pseudo-terminals and a made-up sysfs:
// read timing and hang-up, refused opens, settings put back at close, and the
// port lists.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <termios.h>

#include "base/clock.h"
#include "link/serial.h"
#include "link/serial_ports_linux.h"
#include "pty.h"

namespace {

namespace fs = std::filesystem;

struct OpenPort {
    PortHandle port;
    explicit OpenPort(const std::string& path) : port(serial_open(path.c_str(), 38400)) {}
    ~OpenPort() { serial_close(port); }
};

} // namespace

// A read returns what is queued at once, waits for the first byte when
// nothing is, and gives 0 after the time-out; purged input is gone.
TEST(SerialPort, ReadTiming) {
    const struct {
        const char* legend;
        uint32_t timeout_ms;
        const char* queued; // before the read
        int late_ms;        // a byte written this long after the read began; 0: none
        bool purge;
        int result;
        uint64_t min_ms, below_ms; // generous: sanitizers and parallel tests share two cores
    } rows[] = {
        {"quiet", 100, "", 0, false, 0, 95, 401},
        {"queued bytes", 1000, "0123456789", 0, false, 10, 0, 80},
        {"first byte later", 2000, "", 150, false, 1, 140, 1000},
        {"purged input", 100, "stale", 0, true, 0, 95, 401},
    };
    for (const auto& row : rows) {
        TestPty pty;
        OpenPort open(pty.path);
        ASSERT_NE(open.port, INVALID_PORT) << row.legend;
        ASSERT_EQ(serial_set_read_timeout(open.port, row.timeout_ms), 1) << row.legend;
        const ssize_t queued = static_cast<ssize_t>(std::strlen(row.queued));
        ASSERT_EQ(write(pty.master, row.queued, static_cast<size_t>(queued)), queued);
        sleep_ms(20);
        if (row.purge)
            serial_purge_rx(open.port);
        if (row.late_ms > 0 && fork() == 0) {
            sleep_ms(static_cast<uint32_t>(row.late_ms));
            (void)!write(pty.master, "x", 1);
            _exit(0);
        }
        uint8_t buffer[82];
        const uint64_t start = clock_ms();
        EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), row.result) << row.legend;
        const uint64_t elapsed = clock_ms() - start;
        EXPECT_GE(elapsed, row.min_ms) << row.legend;
        EXPECT_LT(elapsed, row.below_ms) << row.legend;
        if (row.late_ms > 0)
            wait(nullptr);
    }
}

// A hang-up is a read failure at once, not a time-out, and the line is let go
// at once, so that an adapter put back gets its old name: nothing is left to
// watch, and every later read and write fails at once for the same reason.
TEST(SerialPort, HungUpLineFailsAtOnceAndIsLetGo) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_NE(open.port, INVALID_PORT);
    ASSERT_EQ(serial_set_read_timeout(open.port, 2000), 1);
    EXPECT_GE(serial_watch_handle(open.port), 0);
    pty.close_master();
    uint8_t buffer[8];
    testing::internal::CaptureStderr();
    uint64_t start = clock_ms();
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), -5);
    EXPECT_LT(clock_ms() - start, 500u);
    EXPECT_EQ(serial_watch_handle(open.port), -1);
    start = clock_ms();
    EXPECT_EQ(serial_write(open.port, buffer, 1), -5);
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), -5);
    EXPECT_LT(clock_ms() - start, 50u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error, reading from serial port: Input/output error\n"
              "Error, writing to serial port: Input/output error\n"
              "Error, reading from serial port: Input/output error\n");
}

// A short name is looked for in /dev only: "null" elsewhere would be missing,
// and silent. Ports missing or held by another: Discovery.SeveralPorts*.
TEST(SerialPort, ShortNameIsAPathInDev) {
    errno = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(serial_open("null", 4800), INVALID_PORT);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind(
                  "Error, failed to get serial port parameters: ", 0),
              0u);
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
        EXPECT_EQ(now.c_iflag, found.c_iflag) << when;
        EXPECT_EQ(now.c_oflag, found.c_oflag) << when;
        EXPECT_EQ(now.c_cflag, found.c_cflag) << when; // the speed too
        EXPECT_EQ(now.c_lflag, found.c_lflag) << when;
        EXPECT_EQ(std::memcmp(now.c_cc, found.c_cc, sizeof now.c_cc), 0) << when;
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

// NC_SERIAL_PORTS replaces the system's list; otherwise the kernel's tty class
// gives the ttys with a device, without an unfitted legacy UART, in the
// natural order the README promises.
TEST(SerialPort, PortLists) {
    setenv("NC_SERIAL_PORTS", "/dev/pts/7::/tmp/sim-b:ttyUSB0", 1);
    const auto ports = serial_list_ports();
    unsetenv("NC_SERIAL_PORTS");
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/pts/7", "/tmp/sim-b", "ttyUSB0"}));

    const fs::path root = fs::temp_directory_path() / ("nc-sysfs-" + std::to_string(getpid()));
    const auto add = [&](const std::string& name, int uart_type) {
        fs::create_directories(root / name / "device");
        if (uart_type >= 0)
            std::ofstream(root / name / "type") << uart_type << "\n";
    };
    EXPECT_TRUE(serial_ports_in(root.string()).empty());
    fs::create_directories(root);
    EXPECT_TRUE(serial_ports_in(root.string()).empty());
    add("ttyS10", 4);
    add("ttyS2", 4);
    add("ttyS3", 0); // registered by the legacy driver, no UART fitted
    add("ttyUSB0", -1);
    add("ttyACM1", -1);
    fs::create_directories(root / "tty0"); // a virtual console: no device
    EXPECT_EQ(serial_ports_in(root.string()),
              (std::vector<std::string>{"ttyACM1", "ttyS2", "ttyS10", "ttyUSB0"}));
    fs::remove_all(root);
}

// The name of a USB adapter comes from the USB device above its tty (for
// ttyUSB through the port node and the interface, for ttyACM through the
// interface); what the adapter reports is made printable, and a tty that is
// no USB device has no name.
TEST(SerialPort, UsbAdapterIsNamedFromTheDeviceAboveItsTty) {
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
    add_usb_device("1-1", {{"idVendor", "0403"},
                           {"idProduct", "6001"},
                           {"manufacturer", "FTDI"},
                           {"product", "FT232R USB UART"},
                           {"serial", "A50285BI"}});
    add_tty("ttyUSB0", usb / "1-1/1-1:1.0/ttyUSB0");
    add_usb_device(
        "1-2",
        {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Evil\x1b]0;owned\x07 adapter"}});
    add_tty("ttyACM0", usb / "1-2/1-2:1.0");
    add_usb_device("1-3", {{"idVendor", "067b"}, {"idProduct", "2303"}});
    add_tty("ttyUSB1", usb / "1-3/1-3:1.0/ttyUSB1");
    add_tty("ttyS0", root / "devices/platform/serial8250/tty/ttyS0");

    const std::string class_dir = (root / "class/tty").string();
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyUSB0"),
              "FTDI FT232R USB UART, serial A50285BI");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyACM0"), "Evil?]0;owned? adapter");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyUSB1"), "USB 067b:2303");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyS0"), "");
    EXPECT_EQ(usb_adapter_description(class_dir, "ttyUSB9"), "");
    fs::remove_all(root);
}
