// Frames: sync 0x98 0xA8, type, sequence, 16-bit little-endian payload length,
// payload, CRC-16 (little-endian) over type..payload. Pure and allocation-free.
#pragma once
#include <cstdint>

constexpr uint8_t FRAME_SYNC_1 = 0x98;
constexpr uint8_t FRAME_SYNC_2 = 0xA8;
constexpr uint32_t FRAME_HEADER_SIZE = 4;   // type, sequence, length
constexpr uint32_t FRAME_OVERHEAD = 8;      // sync, header, CRC
constexpr uint32_t FRAME_MAX_RECEIVED = 76; // receive capacity: 68 payload bytes

// Field access on a whole frame (sync bytes included).
inline uint8_t frame_type(const uint8_t* frame) { return frame[2]; }
inline uint8_t frame_sequence(const uint8_t* frame) { return frame[3]; }
inline uint16_t frame_payload_length(const uint8_t* frame) {
    return static_cast<uint16_t>(frame[4] | (frame[5] << 8));
}

// Stores the CRC after the payload of a frame whose sync bytes, header and
// payload are written. Returns the total length, payload length + 8.
uint32_t frame_seal(uint8_t* frame);
// Writes a whole sealed frame into frame (room for length + 8 bytes) and returns
// its total length.
uint32_t frame_compose(uint8_t* frame, uint8_t type, uint8_t sequence, const uint8_t* payload,
                       uint16_t length);
// 1 when the stored CRC matches the frame's contents, else 0.
int frame_check(const uint8_t* frame);

// Recognises one frame in a byte stream; its state survives between feeds so a
// frame may arrive spread over several sentences.
// States: 0-1 sync, 2 header, 3 payload, 4 CRC, 5 complete, 6 failed.
struct FrameParser {
    uint8_t* buffer;
    uint32_t capacity;
    uint32_t count;
    int32_t state;
};
constexpr int32_t FRAME_STATE_COMPLETE = 5;
constexpr int32_t FRAME_STATE_FAILED = 6;

void frame_parser_init(FrameParser* parser, uint8_t* buffer, uint32_t capacity);
void frame_parser_reset(FrameParser* parser);
// Consumes bytes up to and including the one that completes or fails the frame.
uint32_t frame_parser_feed(FrameParser* parser, const uint8_t* bytes, uint32_t n);
bool frame_parser_complete(const FrameParser* parser);
bool frame_parser_failed(const FrameParser* parser);
