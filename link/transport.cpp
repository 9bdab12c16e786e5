#include "link/transport.h"

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/frame.h"
#include "link/nmea.h"
#include "link/serial.h"

char shell_reply_buffer[SHELL_REPLY_SIZE];
char shell_command_buffer[SHELL_COMMAND_SIZE];

namespace {

// Outgoing sentences are built apart from the receive buffer, so that a sentence
// arriving in pieces survives a transmission in between.
char send_sentence[NMEA_MAX_SENTENCE];
char receive_sentence[NMEA_MAX_SENTENCE];
uint32_t last_sentence_length = 0;

// Bytes read from the port; [rx_parsed, rx_count) are not yet fed to the parser.
// They are parsed first by the next receive, so the space offered to each read
// stays the full buffer and no sentence that came in the same read is lost.
// The parser itself starts afresh with every receive: a sentence cut off by an
// earlier time-out must not swallow the first whole sentence of this one.
uint8_t rx_buffer[NMEA_MAX_SENTENCE];
uint32_t rx_count = 0;
uint32_t rx_parsed = 0;
// A display that reads the stream lets this long pass before it reads the rest
// of a sentence, so that one wake-up takes what a port handing over a few
// bytes every millisecond delivered meanwhile. 0: every arrival is read at once.
uint32_t gathering_ms = 0;

NmeaParser sentence_parser;
uint8_t frame_buffer[FRAME_MAX_RECEIVED];
FrameParser frame_parser;
uint32_t frame_sequence_counter = 0;

// Where shell text goes while a shell transaction waits; nullptr otherwise, so
// late text is discarded instead of landing in a buffer nobody owns any more.
char* reply_target = nullptr;
uint32_t reply_capacity = 0;
uint32_t reply_count = 0;

constexpr uint32_t ADDRESS_FIELD_SIZE = 6; // five characters and the NUL
constexpr uint32_t PROTOCOL_FIELD_SIZE = 6;

void log_sentence(const char* prefix, const char* sentence, uint32_t length) {
    if (traffic_log)
        log_traffic(prefix, nullptr, 1, reinterpret_cast<const uint8_t*>(sentence), length);
}

int feed_frame_bytes(const uint8_t* bytes, uint32_t count) {
    int event = 0;
    while (count > 0 && event == 0) {
        const uint32_t used = frame_parser_feed(&frame_parser, bytes, count);
        bytes += used;
        count -= used;
        if (frame_parser_complete(&frame_parser) && frame_check(frame_buffer))
            event = RECEIVE_FRAME; // the frame stays in frame_buffer for the caller
        if (frame_parser_complete(&frame_parser) || frame_parser_failed(&frame_parser))
            frame_parser_reset(&frame_parser);
    }
    return event;
}

int take_frame_data(const char* data, uint32_t length) {
    if (length % 2 != 0)
        return 0;
    uint8_t decoded[FRAME_DECODE_LIMIT];
    uint8_t* out = decoded;
    uint32_t space = sizeof decoded;
    const char* in = data;
    uint32_t remaining = length;
    if (hex_decode(&in, &remaining, &out, &space) != 0)
        return 0;
    if (remaining > 0) {
        // Digits beyond the decode limit are ignored, but must still be hex.
        int error = 0;
        for (uint32_t i = 0; i < remaining; ++i)
            hex_value(static_cast<uint8_t>(in[i]), &error);
        if (error)
            return 0;
    }
    return feed_frame_bytes(decoded, static_cast<uint32_t>(out - decoded));
}

int take_shell_text(const char* data, uint32_t length) {
    if (!reply_target)
        return 0;
    uint8_t text[NMEA_MAX_SENTENCE - 1];
    const char* src = data;
    uint32_t error_pos = 0;
    const uint32_t n = nmea_unescape(text, sizeof text, &src, length, &error_pos);
    if (n == 0 || error_pos != 0 || n >= reply_capacity - reply_count)
        return 0;
    std::memcpy(reply_target + reply_count, text, n);
    reply_count += n;
    reply_target[reply_count] = '\0';
    // Searched by count: a NUL sent by the device must not hide the prompt.
    const std::string_view collected(reply_target, reply_count);
    const size_t prompt = collected.find("> ");
    if (prompt == std::string_view::npos)
        return 0;
    reply_target[prompt] = '\0';
    return RECEIVE_SHELL_REPLY;
}

int take_pncx(const char* fields, uint32_t length) {
    char protocol[PROTOCOL_FIELD_SIZE];
    if (nmea_next_field(&fields, &length, protocol, sizeof protocol) != 0)
        return 0;
    if (std::strcmp(protocol, "0") == 0)
        return take_frame_data(fields, length);
    if (std::strcmp(protocol, "SH") == 0)
        return take_shell_text(fields, length);
    out_print(LEVEL_DETAIL, "pncx nmea frame with illegal protocol: %s\n", protocol);
    return 0;
}

// Sorts one complete sentence; returns the event it gives, 0 for none.
int take_sentence(const char* sentence, uint32_t length) {
    log_sentence("RX: ", sentence, length);
    if (!nmea_verify_checksum(sentence, length)) {
        out_print(LEVEL_DETAIL, "nmea frame with illegal CRC\n");
        log_sentence("RX CRC: ", sentence, length);
        return 0;
    }
    const char* body = sentence + 1;
    const void* star = std::memchr(body, '*', length - 1);
    const uint32_t body_length = star ? static_cast<uint32_t>(static_cast<const char*>(star) - body)
                                      : length - 3; // up to CR LF
    const char* fields = body;
    uint32_t remaining = body_length;
    char address[ADDRESS_FIELD_SIZE];
    if (nmea_next_field(&fields, &remaining, address, sizeof address) != 0) {
        out_print(LEVEL_DETAIL, "nmea frame with illegal address field\n");
        return 0;
    }
    if (std::strcmp(address, "PNCX") != 0) {
        last_sentence_length = length;
        return RECEIVE_SENTENCE;
    }
    return take_pncx(fields, remaining);
}

// Parses the unparsed bytes until the event of mode occurs or they are used up.
bool parse_pending(int mode) {
    while (rx_parsed < rx_count) {
        rx_parsed += nmea_parser_feed(&sentence_parser, rx_buffer + rx_parsed, rx_count - rx_parsed);
        int event = 0;
        if (nmea_parser_complete(&sentence_parser))
            event = take_sentence(receive_sentence, sentence_parser.count);
        if (nmea_parser_complete(&sentence_parser) || nmea_parser_failed(&sentence_parser))
            nmea_parser_reset(&sentence_parser);
        if (event == mode)
            return true;
    }
    rx_count = rx_parsed = 0;
    return false;
}

// A failed read or write is remembered in the link: commands that report a
// failed query and go on must not hide a lost line from the loop.
int note_port_result(SerialLink& link, int result) {
    if (result == RESULT_PORT_ERROR)
        link.port_failed = true;
    return result;
}

int write_sentence(SerialLink& link, uint32_t length) {
    log_sentence("TX: ", send_sentence, length);
    const int written = serial_write(link.port, reinterpret_cast<const uint8_t*>(send_sentence), length);
    return written < 0 ? note_port_result(link, written) : 0;
}

uint32_t finish_sentence(uint32_t length) {
    length += nmea_append_checksum(send_sentence, length);
    return length + nmea_append_crlf(send_sentence, length);
}

int send_shell_line(SerialLink& link, const char* command_line) {
    const auto* src = reinterpret_cast<const uint8_t*>(command_line);
    uint32_t remaining = static_cast<uint32_t>(std::strlen(command_line));
    while (remaining > 0) {
        const uint32_t length =
            nmea_shell_sentence(send_sentence, SHELL_SENTENCE_LIMIT, &src, &remaining);
        const int result = write_sentence(link, length);
        if (result < 0)
            return result;
    }
    return 0;
}

int send_frame_in_sentences(SerialLink& link, const uint8_t* frame, uint32_t total) {
    const uint8_t* src = frame;
    uint32_t remaining = total;
    while (remaining > 0) {
        const uint32_t start = nmea_begin_pncx(send_sentence, "0,");
        char* out = send_sentence + start;
        uint32_t space = FRAME_SENTENCE_LIMIT - 8;
        hex_encode(&out, &space, &src, &remaining, /*upper=*/1);
        const int result =
            write_sentence(link, finish_sentence(static_cast<uint32_t>(out - send_sentence)));
        if (result < 0)
            return result;
    }
    return 0;
}

int send_frame_raw(SerialLink& link, const uint8_t* frame, uint32_t total) {
    if (traffic_log)
        log_traffic("TX: ", "\n", 0, frame, total);
    const int written = serial_write(link.port, frame, total);
    return written < 0 ? note_port_result(link, written) : 0;
}

} // namespace

void transport_init() {
    nmea_parser_init(&sentence_parser, receive_sentence, sizeof receive_sentence);
    frame_parser_init(&frame_parser, frame_buffer, sizeof frame_buffer);
    rx_count = rx_parsed = 0;
}

void link_rx_clear() {
    rx_count = rx_parsed = 0;
    nmea_parser_reset(&sentence_parser);
    frame_parser_reset(&frame_parser);
}

void link_purge(SerialLink& link) {
    if (link.port != INVALID_PORT)
        serial_purge_rx(link.port);
    link_rx_clear();
}

int link_set_baud(SerialLink& link, uint32_t baud) {
    if (!serial_set_baud(link.port, baud))
        return 0;
    link_rx_clear(); // what half arrived at the old rate is noise now
    return 1;
}

uint32_t link_timeout_ms(const DeviceRecord& device) {
    return device.link.baud_rate == 4800 ? 4000 : 2000;
}

void link_set_gathering(uint32_t milliseconds) { gathering_ms = milliseconds; }

int link_receive(SerialLink& link, int mode, uint32_t timeout_ms) {
    const uint64_t start = clock_ms();
    nmea_parser_reset(&sentence_parser);
    bool drained = false; // the last read took all there was, and part of a sentence
    for (;;) {
        if (parse_pending(mode))
            return mode;
        if (clock_ms() - start >= timeout_ms)
            return RESULT_TIMEOUT;
        if (drained && gathering_ms > 0)
            sleep_ms(std::min(gathering_ms, remaining_ms(clock_ms(), start, timeout_ms)));
        const int n = serial_read(link.port, rx_buffer, sizeof rx_buffer);
        if (n < 0)
            return note_port_result(link, n);
        rx_count = static_cast<uint32_t>(n);
        rx_parsed = 0;
        drained = n > 0 && rx_count < sizeof rx_buffer;
    }
}

int shell_transact(DeviceRecord& device, const char* command_line, char* reply,
                   uint32_t reply_size, uint32_t timeout_ms) {
    if (command_line[0] != '\0') {
        const int sent = send_shell_line(device.link, command_line);
        if (sent < 0)
            return sent;
    }
    if (!reply || reply_size == 0)
        return 0;
    reply[0] = '\0';
    reply_target = reply;
    reply_capacity = reply_size;
    reply_count = 0;
    const int result = link_receive(device.link, RECEIVE_SHELL_REPLY, timeout_ms);
    reply_target = nullptr;
    return result;
}

int shell_exit_status(DeviceRecord& device) {
    char reply[32];
    if (shell_transact(device, "echo $?\r", reply, sizeof reply, link_timeout_ms(device)) < 0)
        return RESULT_NO_REPLY;
    const char* line_end = std::strchr(reply, '\n');
    unsigned status = 0;
    if (!line_end || std::sscanf(line_end + 1, "%u", &status) != 1 || status > 0x7FFFFFFF)
        return RESULT_NO_REPLY;
    return static_cast<int>(status);
}

int frame_transact(DeviceRecord& device, const uint8_t* request, uint8_t expected_type,
                   uint8_t* response, uint32_t response_size, uint32_t timeout_ms, int raw) {
    ++frame_sequence_counter;
    const uint32_t payload_length = static_cast<uint32_t>(request[2] | (request[3] << 8));
    std::vector<uint8_t> frame;
    try {
        frame.resize(payload_length + FRAME_OVERHEAD);
    } catch (const std::bad_alloc&) {
        return RESULT_FAILED;
    }
    const uint32_t total =
        frame_compose(frame.data(), request[0], static_cast<uint8_t>(frame_sequence_counter & 0xFF),
                      request + FRAME_HEADER_SIZE, static_cast<uint16_t>(payload_length));
    const int sent = raw ? send_frame_raw(device.link, frame.data(), total)
                         : send_frame_in_sentences(device.link, frame.data(), total);
    if (sent < 0)
        return sent;
    if (!response)
        return 0;
    const int result = link_receive(device.link, RECEIVE_FRAME, timeout_ms);
    if (result < 0)
        return result;
    const uint32_t answer_size = FRAME_HEADER_SIZE + frame_payload_length(frame_buffer);
    if (answer_size > response_size)
        return RESULT_TIMEOUT; // an answer longer than any the caller expects
    std::memcpy(response, frame_buffer + 2, answer_size);
    const uint8_t type = frame_type(frame_buffer);
    if (type == expected_type)
        return 1;
    // An answer of type 0 must not read as "nothing awaited".
    return type != 0 ? -static_cast<int>(type) : RESULT_TIMEOUT;
}

int nmea_read_sentence(DeviceRecord& device, const char** sentence, uint32_t timeout_ms) {
    const int result = link_receive(device.link, RECEIVE_SENTENCE, timeout_ms);
    if (result < 0)
        return result;
    *sentence = receive_sentence;
    return static_cast<int>(last_sentence_length);
}
