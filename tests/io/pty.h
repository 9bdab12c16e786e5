// A pseudo-terminal pair for tests: the test plays the device on the master side.
#pragma once
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>

#include "link/serial.h"
#include "link/transport.h"

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
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    // Everything the other side has written, until it is quiet for quiet_ms.
    std::string drain_master(int quiet_ms) const {
        std::string text;
        pollfd pfd{master, POLLIN, 0};
        char chunk[512];
        for (ssize_t n; poll(&pfd, 1, quiet_ms) > 0 && (n = read(master, chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<size_t>(n));
        return text;
    }
    void close_master() {
        if (master >= 0)
            close(master);
        master = -1;
    }
};

// The fixture of the transport and query tests: a device record whose port is
// the slave of a pty the test plays the device on, with the transport ready.
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
        const ssize_t size = static_cast<ssize_t>(bytes.size());
        ASSERT_EQ(write(pty.master, bytes.data(), bytes.size()), size);
    }
};
