// A pseudo-terminal pair for tests: the test plays the device on the master side.
#pragma once
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

struct TestPty {
    int master = -1;
    int slave = -1; // kept open like a device simulator does, so closing the port is no hang-up
    std::string path;

    TestPty() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~TestPty() {
        close_master();
        if (slave >= 0)
            close(slave);
    }
    // Everything the other side has written, until it is quiet for quiet_ms.
    std::string drain_master(int quiet_ms) const {
        std::string text;
        pollfd pfd{master, POLLIN, 0};
        char chunk[512];
        while (poll(&pfd, 1, quiet_ms) > 0) {
            const ssize_t n = read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            text.append(chunk, static_cast<size_t>(n));
        }
        return text;
    }
    void close_master() {
        if (master >= 0)
            close(master);
        master = -1;
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;
};

// Every setting of two terminal modes is the same.
inline void expect_same_settings(const termios& a, const termios& b, const std::string& when) {
    EXPECT_EQ(a.c_iflag, b.c_iflag) << when;
    EXPECT_EQ(a.c_oflag, b.c_oflag) << when;
    EXPECT_EQ(a.c_cflag, b.c_cflag) << when;
    EXPECT_EQ(a.c_lflag, b.c_lflag) << when;
    EXPECT_EQ(std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc), 0) << when;
}

// A device record whose port is the slave of a pty the test plays the device on,
// with the transport ready; the fixture of the transport and query tests.
#include "link/serial.h"
#include "link/transport.h"

class PtyDevice : public testing::Test {
  protected:
    TestPty pty;
    DeviceRecord device;

    void SetUp() override {
        device.link.port_name = pty.path;
        device.link.baud_rate = 38400;
        device.link.port = serial_open(pty.path.c_str(), 38400);
        ASSERT_NE(device.link.port, INVALID_PORT);
        serial_set_read_timeout(device.link.port, 100);
        transport_init();
    }
    void TearDown() override { serial_close(device.link.port); }

    void device_sends(const std::string& bytes) {
        ASSERT_EQ(write(pty.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};
