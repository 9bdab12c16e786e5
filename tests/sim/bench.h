// A simulated device on a simulated clock: what the tool would send goes in,
// what the device puts on the line comes out with the time it left.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "link/frame.h"
#include "link/nmea.h"
#include "sim/device.h"
#include "tests/nmea_text.h"

inline std::vector<uint8_t> le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

inline sim::SimSettings settings_of(const char* model) {
    return sim::default_settings(*sim::find_profile_by_name(model));
}

struct TimedSentence {
    uint64_t time_us; // when its '$' was put on the line
    std::string text;
};

struct ReceivedFrame {
    uint8_t type; // 0: none came
    std::vector<uint8_t> payload;
};

class Bench {
  public:
    explicit Bench(const sim::SimSettings& settings)
        : device_(settings, recorder_, 0, 1'765'000'000.0) {
        nmea_parser_init(&parser_, buffer_, NMEA_MAX_SENTENCE);
        frame_parser_init(&frame_parser_, frame_buffer_, sizeof frame_buffer_);
    }

    // Runs the device's clock forward.
    void run_for(uint64_t duration_us) {
        for (const uint64_t end = now_ + duration_us; now_ < end;) {
            device_.advance(now_);
            for (sim::TxChunk chunk; !(chunk = device_.take_output(now_)).bytes.empty();)
                collect(chunk.bytes);
            now_ = std::min(std::max(device_.next_wake_us(now_), now_ + 1), end);
        }
    }

    void send_bytes(const std::string& bytes) {
        device_.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now_);
    }
    void send_shell(const std::string& line) { send_bytes(shell_sentences(line)); }
    // Raw, or in frame sentences of 34 frame bytes each.
    void send_frame(uint8_t type, const std::vector<uint8_t>& payload, bool raw) {
        std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
        frame_compose(frame.data(), type, ++sequence_, payload.data(),
                      static_cast<uint16_t>(payload.size()));
        for (size_t at = 0; !raw && at < frame.size(); at += 34) {
            std::string hex;
            for (size_t i = at; i < std::min(frame.size(), at + 34); ++i)
                hex += {hex_digit(frame[i] >> 4, 1), hex_digit(frame[i], 1)};
            send_bytes(with_checksum("$PNCX,0," + hex));
        }
        if (raw)
            send_bytes(std::string(frame.begin(), frame.end()));
    }

    // A shell transaction as the tool makes it: the reply text up to the
    // prompt, within 2 s.
    std::string shell(const std::string& line) {
        shell_text_.clear();
        send_shell(line);
        for (const uint64_t end = now_ + 2'000'000; now_ < end;) {
            run_for(1000);
            if (const size_t prompt = shell_text_.find("> "); prompt != std::string::npos)
                return std::exchange(shell_text_, {}).substr(0, prompt);
        }
        return {};
    }
    // Sends a raw frame and gives the answer that comes within a second.
    ReceivedFrame transact(uint8_t type, const std::vector<uint8_t>& payload) {
        frames_.clear();
        send_frame(type, payload, true);
        for (const uint64_t end = now_ + 1'000'000; now_ < end && frames_.empty();)
            run_for(1000);
        return frames_.empty() ? ReceivedFrame{0, {}} : frames_.front();
    }
    std::vector<TimedSentence> take_sentences() { return std::exchange(sentences_, {}); }

    sim::Device& device() { return device_; }

  private:
    // Sorts the device's output into sentences, shell text and frames.
    void collect(const std::string& bytes) {
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
    void on_sentence(const std::string& sentence) {
        sentences_.push_back({sentence_start_, sentence});
        if (!nmea_verify_checksum(sentence.data(), static_cast<uint32_t>(sentence.size())))
            return;
        const uint32_t star = static_cast<uint32_t>(sentence.rfind('*'));
        if (sentence.starts_with("$PNCX,SH,")) {
            const char* src = sentence.data() + 9;
            uint8_t text[100];
            uint32_t error = 0;
            const uint32_t n = nmea_unescape(text, sizeof text, &src, star - 9, &error);
            shell_text_.append(reinterpret_cast<const char*>(text), n);
        } else if (sentence.starts_with("$PNCX,0,")) {
            const char* in = sentence.data() + 8;
            uint32_t remaining = star - 8, space = 64;
            uint8_t bytes[64];
            uint8_t* out = bytes;
            hex_decode(&in, &remaining, &out, &space);
            frame_parser_feed(&frame_parser_, bytes, static_cast<uint32_t>(out - bytes));
            const uint8_t* f = frame_buffer_;
            if (frame_parser_complete(&frame_parser_) && frame_check(f))
                frames_.push_back({frame_type(f), {f + 6, f + 6 + frame_payload_length(f)}});
            if (frame_parser_complete(&frame_parser_) || frame_parser_failed(&frame_parser_))
                frame_parser_reset(&frame_parser_);
        }
    }

    sim::Recorder recorder_;
    sim::Device device_;
    uint64_t now_ = 0;
    uint8_t sequence_ = 0;
    char buffer_[NMEA_MAX_SENTENCE];
    NmeaParser parser_{};
    uint64_t sentence_start_ = 0;
    std::vector<TimedSentence> sentences_;
    std::string shell_text_;
    uint8_t frame_buffer_[1100];
    FrameParser frame_parser_{};
    std::vector<ReceivedFrame> frames_;
};
