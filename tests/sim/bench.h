// A simulated device on a simulated clock: what the tool would send goes in,
// what the device puts on the line comes out with the time it left.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/nmea.h"
#include "sim/device.h"

struct TimedSentence {
    uint64_t time_us; // when its '$' was put on the line
    std::string text;
};

struct ReceivedFrame {
    uint8_t type;
    std::vector<uint8_t> payload;
};

class Bench {
  public:
    explicit Bench(const sim::SimSettings& settings);

    // Runs the device's clock forward to the given time.
    void run_until(uint64_t time_us);
    void run_for(uint64_t duration_us) { run_until(now_ + duration_us); }

    void send_bytes(const std::string& bytes);
    void send_shell(const std::string& line); // in SH sentences
    void send_frame(uint8_t type, const std::vector<uint8_t>& payload, bool raw);

    // A shell transaction as the tool makes it: the reply text up to the prompt.
    std::string shell(const std::string& line, uint64_t timeout_us = 2'000'000);
    // Sends a frame and waits for the answer; type 0 when none came.
    ReceivedFrame transact(uint8_t type, const std::vector<uint8_t>& payload, bool raw,
                           uint64_t timeout_us = 1'000'000);

    std::vector<TimedSentence> take_sentences(); // since the last call

    sim::Device& device() { return device_; }
    uint64_t now() const { return now_; }

  private:
    void collect(const std::string& bytes);
    void on_sentence(const std::string& sentence);

    sim::Recorder recorder_;
    sim::Device device_;
    uint64_t now_ = 0;
    uint8_t sequence_ = 0;
    char buffer_[NMEA_MAX_SENTENCE];
    NmeaParser parser_{};
    uint64_t sentence_start_ = 0;
    std::vector<TimedSentence> sentences_;
    std::string shell_text_;
    std::vector<uint8_t> frame_buffer_;
    FrameParser frame_parser_{};
    std::vector<ReceivedFrame> frames_;
};

std::vector<uint8_t> le32(uint32_t value);
sim::SimSettings settings_of(const char* model);
