// The status report against any replies a device could give (split at 0xFF);
// the first byte chooses the model and the software version.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fake_port.h"
#include "reports/status_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = std::fopen("/dev/null", "w");
    if (size < 1 || !sink)
        return 0;
    static const char* const models[] = {"NC-4100", "NC-350", "NC-210", "?"};
    fake_port::script_replies(data + 1, size - 1);
    DeviceRecord& device =
        fake_port::device(models[data[0] % 4], data[0] & 0x10 ? 0x0081 : 0x0085);
    write_status_report(sink, device);
    fake_port::release();
    return 0;
}
