// Commands that exist only in the test build of the tool, to drive the loop's
// handling of lost devices and to show the words a handler receives.
#include <cstdio>
#include <cstdlib>

#include "base/clock.h"
#include "app/commands.h"
#include "link/serial.h"
#include "link/transport.h"

namespace {

// Returns the code given as its argument (e.g. -5 or -32).
int32_t lose_command(DeviceRecord&, int32_t argc, char** argv) {
    return argc > 1 ? std::atoi(argv[1]) : 0;
}

// Tells the device it is waiting (so a test knows when to pull the plug), then
// reads the port directly until it fails, as the monitor does; gives up after 20 s.
int32_t wait_lost_command(DeviceRecord& device, int32_t, char**) {
    shell_transact(device, "echo waiting\r", nullptr, 0, 0);
    uint8_t buffer[64];
    const uint64_t start = clock_ms();
    while (clock_ms() - start < 20000) {
        const int n = serial_read(device.link.port, buffer, sizeof buffer);
        if (n < 0)
            return n;
    }
    return 0;
}

int32_t words_command(DeviceRecord&, int32_t argc, char** argv) {
    std::printf("%d words:", argc);
    for (int32_t i = 0; i < argc; ++i)
        std::printf(" [%s]", argv[i]);
    std::printf("\n");
    return 0;
}

} // namespace

REGISTER_COMMAND("lose", lose_command);
REGISTER_COMMAND("waitlost", wait_lost_command);
REGISTER_COMMAND("words", words_command);
