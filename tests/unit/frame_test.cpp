#include <gtest/gtest.h>

#include <vector>

#include "link/crc16.h"
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

// The check value published for the CRC (polynomial 0x1021, initial value 0):
// whole, and in two pieces as the image file's span is summed. The table is
// made on first use.
TEST(Frame, CrcCheckValueAndFramesParsedByteByByte) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc16(digits, sizeof digits), 0x31C3);
    EXPECT_EQ(crc16_update(crc16(digits, 4), digits + 4, sizeof digits - 4), 0x31C3);

    // Each row's bytes are fed one at a time, as they come off the line; the
    // parser stops after a whole frame and leaves the rest to the caller.
    std::vector<uint8_t> damaged = sealed_frame(0x12, 3, {7, 7});
    damaged.back() ^= 0x01;
    std::vector<uint8_t> followed = sealed_frame(0x11, 9, {1, 2, 3, 4, 5});
    followed.push_back(FRAME_SYNC_1); // the start of the next frame
    const struct {
        const char* legend;
        std::vector<uint8_t> bytes;
        uint32_t consumed;
        int check; // 1 complete and intact, 0 complete with a wrong CRC, -1 failed
    } rows[] = {
        {"empty payload, complete only with its last CRC byte", sealed_frame(0x10, 1, {}), 8, 1},
        {"76 bytes fit", sealed_frame(0x11, 2, std::vector<uint8_t>(68, 0x5A)), 76, 1},
        {"77 bytes: the one that overflows is consumed and fails it",
         sealed_frame(0x11, 2, std::vector<uint8_t>(69, 0x5A)), 77, -1},
        {"the next frame's start stays", followed, 13, 1},
        {"wrong CRC completes but fails the check", damaged, 10, 0},
        {"second sync byte wrong", {FRAME_SYNC_1, 0x99}, 2, -1},
        {"no sync byte", {0x00}, 1, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        uint8_t buffer[FRAME_MAX_RECEIVED];
        FrameParser parser;
        frame_parser_init(&parser, buffer, sizeof buffer);
        uint32_t consumed = 0; // a frame complete too soon would leave bytes unconsumed
        for (const uint8_t& byte : row.bytes)
            consumed += frame_parser_feed(&parser, &byte, 1);
        EXPECT_EQ(consumed, row.consumed);
        EXPECT_EQ(frame_parser_complete(&parser), row.check >= 0);
        EXPECT_EQ(frame_parser_failed(&parser), row.check < 0);
        if (row.check >= 0) {
            EXPECT_EQ(frame_check(buffer), row.check);
            EXPECT_EQ(frame_payload_length(buffer), row.consumed - FRAME_OVERHEAD);
        }
    }
}
