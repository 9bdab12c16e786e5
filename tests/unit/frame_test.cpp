#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"

namespace {

std::vector<uint8_t> sealed_frame(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    EXPECT_EQ(frame_compose(frame.data(), type, sequence, payload.data(),
                            static_cast<uint16_t>(payload.size())),
              frame.size());
    EXPECT_EQ(frame[0], FRAME_SYNC_1);
    EXPECT_EQ(frame[4] | (frame[5] << 8), static_cast<int>(payload.size())); // little-endian
    return frame;
}

struct Parsed {
    uint32_t consumed;
    bool complete;
    bool failed;
};

Parsed parse(const std::vector<uint8_t>& bytes, uint8_t* buffer) {
    FrameParser parser;
    frame_parser_init(&parser, buffer, FRAME_MAX_RECEIVED);
    const uint32_t consumed =
        frame_parser_feed(&parser, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return {consumed, frame_parser_complete(&parser), frame_parser_failed(&parser)};
}

} // namespace

TEST(Frame, EmptyPayloadIsEightBytesAndCompletesAfterItsCrc) {
    const auto frame = sealed_frame(0x10, 1, {});
    ASSERT_EQ(frame.size(), 8u);
    uint8_t buffer[FRAME_MAX_RECEIVED];
    FrameParser parser;
    frame_parser_init(&parser, buffer, sizeof buffer);
    EXPECT_EQ(frame_parser_feed(&parser, frame.data(), 7), 7u);
    EXPECT_FALSE(frame_parser_complete(&parser));
    EXPECT_EQ(frame_parser_feed(&parser, frame.data() + 7, 1), 1u);
    EXPECT_TRUE(frame_parser_complete(&parser));
    EXPECT_EQ(frame_check(buffer), 1);
}

TEST(Frame, CapacityBoundary76CompletesAnd77Fails) {
    uint8_t buffer[FRAME_MAX_RECEIVED];
    const auto fits = sealed_frame(0x11, 2, std::vector<uint8_t>(68, 0x5A));
    Parsed result = parse(fits, buffer);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.consumed, 76u);
    EXPECT_EQ(frame_check(buffer), 1);

    const auto too_long = sealed_frame(0x11, 2, std::vector<uint8_t>(69, 0x5A));
    result = parse(too_long, buffer);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.consumed, 77u); // the byte that overflows is consumed and fails it
}

TEST(Frame, SplitAcrossFeedsAndStopsAfterTheFrame) {
    auto stream = sealed_frame(0x11, 9, {1, 2, 3, 4, 5});
    stream.push_back(0x98); // start of the next frame stays with the caller
    uint8_t buffer[FRAME_MAX_RECEIVED];
    FrameParser parser;
    frame_parser_init(&parser, buffer, sizeof buffer);
    uint32_t consumed = 0;
    for (uint8_t byte : stream)
        consumed += frame_parser_feed(&parser, &byte, 1);
    EXPECT_TRUE(frame_parser_complete(&parser));
    EXPECT_EQ(consumed, stream.size() - 1);
    EXPECT_EQ(frame_type(buffer), 0x11);
    EXPECT_EQ(frame_sequence(buffer), 9);
    EXPECT_EQ(frame_payload_length(buffer), 5);
}

TEST(Frame, BadSyncFailsAndWrongCrcCompletesButFailsCheck) {
    uint8_t buffer[FRAME_MAX_RECEIVED];
    EXPECT_TRUE(parse({0x98, 0x99}, buffer).failed);
    EXPECT_TRUE(parse({0x00}, buffer).failed);

    auto frame = sealed_frame(0x12, 3, {7, 7});
    frame.back() ^= 0x01;
    const Parsed result = parse(frame, buffer);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(frame_check(buffer), 0);
}
