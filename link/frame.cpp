#include "link/frame.h"

#include <cstring>

#include "link/crc16.h"

namespace {

uint16_t frame_crc(const uint8_t* frame) {
    return crc16(frame + 2, FRAME_HEADER_SIZE + frame_payload_length(frame));
}

void store(FrameParser* p, uint8_t byte) { p->buffer[p->count++] = byte; }

void step(FrameParser* p, uint8_t byte) {
    if (p->count >= p->capacity) {
        p->state = FRAME_STATE_FAILED;
        return;
    }
    switch (p->state) {
    case 0:
    case 1: {
        const uint8_t expected = p->state == 0 ? FRAME_SYNC_1 : FRAME_SYNC_2;
        if (byte != expected) {
            p->state = FRAME_STATE_FAILED;
            return;
        }
        store(p, byte);
        ++p->state;
        break;
    }
    case 2:
        store(p, byte);
        if (p->count == 6)
            p->state = frame_payload_length(p->buffer) != 0 ? 3 : 4;
        break;
    case 3:
        store(p, byte);
        if (p->count == 6u + frame_payload_length(p->buffer))
            p->state = 4;
        break;
    case 4:
        store(p, byte);
        if (p->count == 8u + frame_payload_length(p->buffer))
            p->state = FRAME_STATE_COMPLETE;
        break;
    default:
        p->state = FRAME_STATE_FAILED;
        break;
    }
}

} // namespace

uint32_t frame_seal(uint8_t* frame) {
    const uint32_t length = frame_payload_length(frame);
    const uint16_t crc = frame_crc(frame);
    frame[6 + length] = static_cast<uint8_t>(crc & 0xFF);
    frame[7 + length] = static_cast<uint8_t>(crc >> 8);
    return length + FRAME_OVERHEAD;
}

uint32_t frame_compose(uint8_t* frame, uint8_t type, uint8_t sequence, const uint8_t* payload,
                       uint16_t length) {
    frame[0] = FRAME_SYNC_1;
    frame[1] = FRAME_SYNC_2;
    frame[2] = type;
    frame[3] = sequence;
    frame[4] = static_cast<uint8_t>(length & 0xFF);
    frame[5] = static_cast<uint8_t>(length >> 8);
    if (length > 0)
        std::memcpy(frame + 6, payload, length);
    return frame_seal(frame);
}

int frame_check(const uint8_t* frame) {
    const uint32_t length = frame_payload_length(frame);
    const uint16_t stored = static_cast<uint16_t>(frame[6 + length] | (frame[7 + length] << 8));
    return stored == frame_crc(frame);
}

void frame_parser_init(FrameParser* parser, uint8_t* buffer, uint32_t capacity) {
    parser->buffer = buffer;
    parser->capacity = capacity;
    frame_parser_reset(parser);
}

void frame_parser_reset(FrameParser* parser) {
    parser->count = 0;
    parser->state = 0;
}

uint32_t frame_parser_feed(FrameParser* parser, const uint8_t* bytes, uint32_t n) {
    uint32_t consumed = 0;
    while (consumed < n && parser->state != FRAME_STATE_COMPLETE &&
           parser->state != FRAME_STATE_FAILED) {
        step(parser, bytes[consumed]);
        ++consumed;
    }
    return consumed;
}

bool frame_parser_complete(const FrameParser* parser) {
    return parser->state == FRAME_STATE_COMPLETE;
}

bool frame_parser_failed(const FrameParser* parser) {
    return parser->state == FRAME_STATE_FAILED;
}
