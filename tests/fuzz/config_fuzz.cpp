// The configuration queries against any reply a device could give: the first
// byte chooses the query and the model, the rest are the replies to the shell
// lines the query sends, one after the other (split at 0xFF).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/queries.h"
#include "fake_port.h"

namespace {

const char* const models[] = {"NC-4100", "NC-350", "NC-210", "?"};

void run_query(int which, DeviceRecord& device) {
    float a = 0, b = 0, c = 0;
    uint32_t n = 0;
    const char* text = nullptr;
    std::vector<SentenceEntry> sentences;
    char options[CALIBRATION_OPTIONS_TEXT_SIZE] = {};
    switch (which) {
    case 0: cfg_get_rotation_offset(device, &a, &b, &c); break;
    case 1: cfg_get_autolevel_offset(device, &a, &b); break;
    case 2: cfg_get_vertical_offset(device, &a); break;
    case 3: cfg_get_variation(device, &n, &a, &text); break;
    case 4: cfg_get_gnss_receivers(device, &text); break;
    case 5: cfg_get_filter_time(device, &a); break;
    case 6: cfg_get_bus_termination(device, &n); break;
    case 7: cfg_get_nmea_baudrate(device, &n); break;
    case 8: cfg_get_calibration_mode(device, &n); break;
    case 9: cfg_format_calibration_options(device, options, sizeof options, /*verbose=*/true); break;
    case 10: cfg_get_sentences(device, &sentences); break;
    default: cfg_set_rotation_offset(device, 1.5f, -0.125f, 359.99f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    fake_port::script_replies(data + 1, size - 1);
    DeviceRecord& device = fake_port::device(models[(data[0] >> 4) % 4], 0x0085);
    run_query(data[0] % 12, device);
    fake_port::release();
    return 0;
}
