// Arbitrary bytes as a stat log, drawn and written as SVG: whatever the log
// holds, the picture is made and is one well-closed document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plot/drawing.h"
#include "plot/stat_log.h"
#include "plot/svg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const StatLog log = parse_stat_log(text);
    const std::string svg = svg_document(draw_stat_log(log, {text.substr(0, 40), 0}));
    if (svg.rfind("</svg>\n") != svg.size() - 7 || svg.find("<script") != std::string::npos)
        std::abort();
    return 0;
}
