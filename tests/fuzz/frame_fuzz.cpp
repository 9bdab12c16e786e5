// Feeds arbitrary bytes through the frame recogniser in pieces, as frames arrive
// spread over several sentences, and checks every frame it completes.
#include <cstddef>
#include <cstdint>
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t buffer[FRAME_MAX_RECEIVED];
    FrameParser parser;
    frame_parser_init(&parser, buffer, sizeof buffer);
    const size_t piece = size > 0 ? 1 + data[0] % 40 : 1;
    while (size > 0) {
        const uint32_t chunk = static_cast<uint32_t>(size < piece ? size : piece);
        const uint32_t used = frame_parser_feed(&parser, data, chunk);
        data += used;
        size -= used;
        if (frame_parser_complete(&parser)) {
            if (parser.count != FRAME_OVERHEAD + frame_payload_length(buffer))
                __builtin_trap();
            frame_check(buffer);
        }
        if (frame_parser_complete(&parser) || frame_parser_failed(&parser))
            frame_parser_reset(&parser);
    }
    return 0;
}
