// Arbitrary bytes from a device while the transport waits for sentences, shell
// replies and frames in turn: every wait sorts what arrives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fake_port.h"
#include "link/transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t order = data[0];
    fake_port::script(std::string(reinterpret_cast<const char*>(data + 2), size - 2), {},
                      data[1] % 90 + 1);
    DeviceRecord& device = fake_port::device("NC-4100", 0x0085);
    const uint8_t request[4] = {0x10, 0, 0, 0};
    for (int turn = 0; turn < 64; ++turn) {
        int result = 0;
        switch ((order + turn) % 3) {
        case 0: {
            const char* sentence = nullptr;
            result = nmea_read_sentence(device, &sentence, 1000);
            break;
        }
        case 1: {
            char reply[64];
            result = shell_transact(device, "", reply, sizeof reply, 1000);
            break;
        }
        default: {
            uint8_t response[72];
            result = frame_transact(device, request, 0x11, response, sizeof response, 1000, 0);
        }
        }
        if (result == -5)
            break;
    }
    fake_port::release();
    return 0;
}
