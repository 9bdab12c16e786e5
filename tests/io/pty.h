// A pseudo-terminal pair for tests: the test plays the device on the master side.
#pragma once
#include <poll.h>
#include <pty.h>
#include <string>
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
