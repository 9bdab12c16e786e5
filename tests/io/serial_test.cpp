// The serial port layer on real pseudo-terminals and a made-up sysfs. Short
// names, the kernel's own drivers, their port list and a real adapter's name:
// the rig (tests/rig).
#include <gtest/gtest.h>

#include <cerrno>
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

struct OpenPort {
    PortHandle port;
    explicit OpenPort(const std::string& path, uint32_t baud = 38400)
        : port(serial_open(path.c_str(), baud)) {}
    ~OpenPort() { serial_close(port); }
};

} // namespace

// A read gives what is queued at once, waits for the first byte when nothing
// is, and 0 after the time-out; purged input is gone.
TEST(SerialPort, ReadTiming) {
    const struct {
        const char* legend;
        uint32_t timeout_ms;
        const char* queued; // before the read
        bool purge;
        int late_ms; // a byte written this long after the read began; 0: none
        int result;
        uint64_t min_ms, below_ms; // generous: sanitizers and parallel tests share two cores
    } rows[] = {
        {"purged input, then the time-out", 100, "stale", true, 0, 0, 95, 401},
        {"queued bytes", 1000, "0123456789", false, 0, 10, 0, 80},
        {"first byte later", 2000, "", false, 150, 1, 140, 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        TestPty pty;
        OpenPort open(pty.path);
        ASSERT_EQ(serial_set_read_timeout(open.port, row.timeout_ms), 1);
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
        EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), row.result);
        EXPECT_GE(clock_ms() - start, row.min_ms);
        EXPECT_LT(clock_ms() - start, row.below_ms);
        if (row.late_ms > 0)
            wait(nullptr);
    }
}

// A hung-up line is let go at once, so that an adapter put back gets its old
// name: nothing is left to watch, and no later read or write waits.
TEST(SerialPort, HungUpLineFailsAtOnceAndIsLetGo) {
    TestPty pty;
    OpenPort open(pty.path);
    ASSERT_EQ(serial_set_read_timeout(open.port, 2000), 1);
    EXPECT_GE(serial_watch_handle(open.port), 0);
    pty.close_master();
    uint8_t buffer[8];
    testing::internal::CaptureStderr();
    const uint64_t start = clock_ms();
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), -5);
    EXPECT_EQ(serial_watch_handle(open.port), -1);
    EXPECT_EQ(serial_write(open.port, buffer, 1), -5);
    EXPECT_EQ(serial_read(open.port, buffer, sizeof buffer), -5);
    EXPECT_LT(clock_ms() - start, 500u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error, reading from serial port: Input/output error\n"
              "Error, writing to serial port: Input/output error\n"
              "Error, reading from serial port: Input/output error\n");
}

// A scan must leave every port as it found it, the machine's serial console
// too: HUPCL is kept while the port is open, and every setting comes back at
// close, after an arbitrary rate and after an open refused on its settings.
// Standard rates on the kernel's drivers: the rig.
TEST(SerialPort, SettingsFoundAtOpenArePutBackAtClose) {
    TestPty pty;
    termios found{};
    ASSERT_EQ(tcgetattr(pty.slave, &found), 0);
    cfsetspeed(&found, B9600);
    found.c_cflag |= HUPCL | CRTSCTS;
    found.c_lflag |= ICANON | ECHO;
    found.c_iflag |= ICRNL | IXON;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &found), 0);
    ASSERT_EQ(tcgetattr(pty.slave, &found), 0);
    const auto same_as_found = [&](const char* when) {
        termios now{};
        ASSERT_EQ(tcgetattr(pty.slave, &now), 0);
        EXPECT_EQ(std::memcmp(&now, &found, sizeof now), 0) << when; // the speeds too
    };
    {
        OpenPort open(pty.path, 3840);
        ASSERT_NE(open.port, INVALID_PORT);
        termios held{};
        ASSERT_EQ(tcgetattr(pty.slave, &held), 0);
        EXPECT_EQ(held.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL));
        EXPECT_EQ(held.c_lflag & ICANON, 0u);
    }
    same_as_found("after a close");
    testing::internal::CaptureStderr();
    EXPECT_EQ(serial_open(pty.path.c_str(), 0), INVALID_PORT);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error, failed to set serial port parameters: Invalid argument\n");
    same_as_found("after a refused rate");
    OpenPort later(pty.path); // the failed open left nothing locked
    EXPECT_NE(later.port, INVALID_PORT);
}

// The tty class gives its ttys in the natural order the README promises, and
// a USB adapter is named from the USB device above its tty, made printable.
// The list NC_SERIAL_PORTS gives instead: Discovery.SeveralPorts*.
TEST(SerialPort, PortListsAndAdapterNames) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("nc-sysfs-" + std::to_string(getpid()));
    const fs::path ttys = root / "class/tty", usb = root / "devices/usb1";
    const auto add_tty = [&](const std::string& tty, const fs::path& device) {
        fs::create_directories(device);
        fs::create_directories(ttys / tty);
        fs::create_symlink(device, ttys / tty / "device");
    };
    const auto add_usb_device = [&](const std::string& name,
                                    const std::map<std::string, std::string>& attributes) {
        for (const auto& [attribute, value] : attributes)
            std::ofstream(usb / name / attribute) << value << "\n";
    };
    add_tty("ttyS10", root / "devices/platform/serial8250/tty/ttyS10");
    add_tty("ttyS2", root / "devices/platform/serial8250/tty/ttyS2");
    add_tty("ttyUSB1", usb / "1-3/1-3:1.0/ttyUSB1"); // through the port node and the interface
    add_tty("ttyACM0", usb / "1-2/1-2:1.0");         // through the interface
    add_usb_device("1-3", {{"idVendor", "067b"}, {"idProduct", "2303"}});
    add_usb_device(
        "1-2",
        {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Evil\x1b]0;owned\x07 adapter"}});

    EXPECT_EQ(serial_ports_in(ttys.string()),
              (std::vector<std::string>{"ttyACM0", "ttyS2", "ttyS10", "ttyUSB1"}));
    for (const auto& [tty, name] : std::map<std::string, std::string>{
             {"ttyUSB1", "USB 067b:2303"}, {"ttyACM0", "Evil?]0;owned? adapter"}, {"ttyS2", ""}})
        EXPECT_EQ(usb_adapter_description(ttys.string(), tty), name) << tty;
    fs::remove_all(root);
}
