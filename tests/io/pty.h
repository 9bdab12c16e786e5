// A pseudo-terminal pair for tests: the test plays the device on the master side.
#pragma once
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
    void close_master() {
        if (master >= 0)
            close(master);
        master = -1;
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;
};
