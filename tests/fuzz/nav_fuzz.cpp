// Every line of the input through the navigation display's decoders; the first
// byte chooses the model.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reports/nav_display.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const char* const models[] = {"NC-4100", "NC-350", "NC-210"};
    const NavLayout& layout = *nav_layout_for(models[data[0] % 3]);
    NavRunState run;
    NavProcessState process;
    std::vector<NavWrite> writes;
    const char* text = reinterpret_cast<const char*>(data + 1);
    size_t remaining = size - 1;
    while (remaining > 0) {
        const void* end = std::memchr(text, '\n', remaining);
        const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - text) + 1 : remaining;
        if (nav_decode(text, static_cast<uint32_t>(length), layout, run, process, writes) ==
            NavOutcome::END)
            break;
        text += length;
        remaining -= length;
    }
    return 0;
}
