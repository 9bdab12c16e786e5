#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"

namespace {

std::vector<uint8_t> sealed_frame(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    EXPECT_EQ(frame_compose(frame.data(), type, sequence, payload.data(),
                            static_cast<uint16_t>(payload.size())),
              frame.size());
    EXPECT_EQ(frame[4] | (frame[5] << 8), static_cast<int>(payload.size())); // little-endian
    return frame;
}

} // namespace

// Each row's bytes are fed one at a time, as they come off the line; the
// parser stops after a whole frame and leaves the rest to the caller.
TEST(Frame, ParsedByteByByte) {
    std::vector<uint8_t> damaged = sealed_frame(0x12, 3, {7, 7});
    damaged.back() ^= 0x01;
    std::vector<uint8_t> followed = sealed_frame(0x11, 9, {1, 2, 3, 4, 5});
    followed.push_back(FRAME_SYNC_1); // the start of the next frame
    const struct {
        const char* legend;
        std::vector<uint8_t> bytes;
        uint32_t consumed;
        bool complete; // else failed
        int check;
    } rows[] = {
        {"empty payload, complete only with its last CRC byte", sealed_frame(0x10, 1, {}), 8, true, 1},
        {"76 bytes fit", sealed_frame(0x11, 2, std::vector<uint8_t>(68, 0x5A)), 76, true, 1},
        {"77 bytes: the one that overflows is consumed and fails it",
         sealed_frame(0x11, 2, std::vector<uint8_t>(69, 0x5A)), 77, false, 0},
        {"the next frame's start stays", followed, 13, true, 1},
        {"wrong CRC completes but fails the check", damaged, 10, true, 0},
        {"second sync byte wrong", {FRAME_SYNC_1, 0x99}, 2, false, 0},
        {"no sync byte", {0x00}, 1, false, 0},
    };
    for (const auto& row : rows) {
        uint8_t buffer[FRAME_MAX_RECEIVED];
        FrameParser parser;
        frame_parser_init(&parser, buffer, sizeof buffer);
        uint32_t consumed = 0;
        for (size_t i = 0; i < row.bytes.size(); ++i) {
            EXPECT_EQ(frame_parser_complete(&parser), row.complete && i >= row.consumed)
                << row.legend << " at " << i;
            consumed += frame_parser_feed(&parser, &row.bytes[i], 1);
        }
        EXPECT_EQ(consumed, row.consumed) << row.legend;
        EXPECT_EQ(frame_parser_complete(&parser), row.complete) << row.legend;
        EXPECT_EQ(frame_parser_failed(&parser), !row.complete) << row.legend;
        if (row.complete) {
            EXPECT_EQ(frame_check(buffer), row.check) << row.legend;
            EXPECT_EQ(frame_payload_length(buffer), row.consumed - FRAME_OVERHEAD) << row.legend;
        }
    }
}
