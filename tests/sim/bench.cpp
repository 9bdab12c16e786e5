#include "bench.h"

#include <algorithm>
#include <utility>

#include "link/nmea.h"
#include "link/transport.h"
#include "sim/nmea_gen.h"

std::vector<uint8_t> le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

sim::SimSettings settings_of(const char* model) {
    return sim::default_settings(*sim::find_profile_by_name(model));
}

Bench::Bench(const sim::SimSettings& settings)
    : device_(settings, recorder_, 0, 1'765'000'000.0), frame_buffer_(1100) {
    nmea_parser_init(&parser_, buffer_, NMEA_MAX_SENTENCE);
    frame_parser_init(&frame_parser_, frame_buffer_.data(), 1100);
}

void Bench::run_until(uint64_t time_us) {
    while (now_ < time_us) {
        device_.advance(now_);
        for (;;) {
            const sim::TxChunk chunk = device_.take_output(now_);
            if (chunk.bytes.empty())
                break;
            collect(chunk.bytes);
        }
        const uint64_t wake = device_.next_wake_us(now_);
        now_ = std::min(std::max(wake, now_ + 1), time_us);
    }
}

void Bench::collect(const std::string& bytes) {
    for (char ch : bytes) {
        const uint8_t byte = static_cast<uint8_t>(ch);
        if (parser_.count == 0 && byte != '$')
            continue; // plain console text
        if (parser_.count == 0)
            sentence_start_ = now_;
        nmea_parser_feed(&parser_, &byte, 1);
        if (nmea_parser_complete(&parser_))
            on_sentence(std::string(buffer_, parser_.count));
        if (nmea_parser_complete(&parser_) || nmea_parser_failed(&parser_))
            nmea_parser_reset(&parser_);
    }
}

void Bench::on_sentence(const std::string& sentence) {
    sentences_.push_back({sentence_start_, sentence});
    if (!nmea_verify_checksum(sentence.data(), static_cast<uint32_t>(sentence.size())))
        return;
    const size_t star = sentence.rfind('*');
    if (sentence.rfind("$PNCX,SH,", 0) == 0) {
        const char* src = sentence.data() + 9;
        uint8_t text[100];
        uint32_t error = 0;
        const uint32_t n =
            nmea_unescape(text, sizeof text, &src, static_cast<uint32_t>(star - 9), &error);
        shell_text_.append(reinterpret_cast<const char*>(text), n);
    } else if (sentence.rfind("$PNCX,0,", 0) == 0) {
        const char* in = sentence.data() + 8;
        uint32_t remaining = static_cast<uint32_t>(star - 8);
        uint8_t bytes[64];
        uint8_t* out = bytes;
        uint32_t space = sizeof bytes;
        hex_decode(&in, &remaining, &out, &space);
        const uint32_t n = static_cast<uint32_t>(out - bytes);
        frame_parser_feed(&frame_parser_, bytes, n);
        if (frame_parser_complete(&frame_parser_) && frame_check(frame_buffer_.data())) {
            const uint8_t* f = frame_buffer_.data();
            frames_.push_back(
                {frame_type(f), std::vector<uint8_t>(f + 6, f + 6 + frame_payload_length(f))});
        }
        if (frame_parser_complete(&frame_parser_) || frame_parser_failed(&frame_parser_))
            frame_parser_reset(&frame_parser_);
    }
}

void Bench::send_bytes(const std::string& bytes) {
    device_.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now_);
}

void Bench::send_shell(const std::string& line) {
    const uint8_t* src = reinterpret_cast<const uint8_t*>(line.data());
    uint32_t remaining = static_cast<uint32_t>(line.size());
    while (remaining > 0) {
        char sentence[NMEA_MAX_SENTENCE];
        const uint32_t n = nmea_shell_sentence(sentence, SHELL_SENTENCE_LIMIT, &src, &remaining);
        send_bytes(std::string(sentence, n));
    }
}

void Bench::send_frame(uint8_t type, const std::vector<uint8_t>& payload, bool raw) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    frame_compose(frame.data(), type, ++sequence_, payload.data(),
                  static_cast<uint16_t>(payload.size()));
    if (raw) {
        send_bytes(std::string(frame.begin(), frame.end()));
        return;
    }
    for (size_t at = 0; at < frame.size(); at += 34) {
        std::string hex;
        for (size_t i = at; i < std::min(frame.size(), at + 34); ++i) {
            hex += hex_digit(frame[i] >> 4, 1);
            hex += hex_digit(frame[i], 1);
        }
        send_bytes(sim::finish_sentence("PNCX,0," + hex));
    }
}

std::string Bench::shell(const std::string& line, uint64_t timeout_us) {
    shell_text_.clear();
    send_shell(line);
    const uint64_t end = now_ + timeout_us;
    while (now_ < end && shell_text_.find("> ") == std::string::npos)
        run_for(1000);
    const std::string text = std::exchange(shell_text_, {});
    const size_t prompt = text.find("> ");
    return prompt == std::string::npos ? std::string() : text.substr(0, prompt);
}

ReceivedFrame Bench::transact(uint8_t type, const std::vector<uint8_t>& payload, bool raw,
                              uint64_t timeout_us) {
    frames_.clear();
    send_frame(type, payload, raw);
    const uint64_t end = now_ + timeout_us;
    while (now_ < end && frames_.empty())
        run_for(1000);
    if (frames_.empty())
        return {0, {}};
    ReceivedFrame frame = frames_.front();
    frames_.clear();
    return frame;
}

std::vector<TimedSentence> Bench::take_sentences() {
    return std::exchange(sentences_, {});
}
