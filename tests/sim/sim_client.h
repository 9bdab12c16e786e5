// nc-sim as a separate process, and a small client on its port built from the
// project's port, sentence and frame code: what the tool does, minus the tool.
#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "link/frame.h"
#include "link/nmea.h"
#include "link/serial.h"

class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& options);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& path() const { return path_; } // first line of its output
    std::string next_output_line(int timeout_ms);     // later lines (new ptys)
    void control(const std::string& line);
    void close_control(); // end of its standard input
    bool alive();

  private:
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int stdout_fd_ = -1;
    std::string path_;
    std::string pending_;
};

struct TimedLine {
    uint64_t time_us;
    std::string text;
};

class SimClient {
  public:
    ~SimClient() { close(); }
    bool open(const std::string& path, uint32_t baud);
    void close();
    bool set_baud(uint32_t baud);

    void send_frame(uint8_t type, const std::vector<uint8_t>& payload, bool raw);
    // Sends a frame and returns the answer's header and payload (type first),
    // or nothing when no answer came in time.
    std::vector<uint8_t> transact(uint8_t type, const std::vector<uint8_t>& payload, bool raw,
                                  uint32_t timeout_ms = 1000);
    // The identification payload, or empty when none came in time.
    std::vector<uint8_t> identify(bool raw, uint32_t timeout_ms = 2000);
    // The reply up to the prompt, or empty on time-out.
    std::string shell(const std::string& line, uint32_t timeout_ms = 2000);
    // Ordinary sentences with their arrival time, for the given duration.
    std::vector<TimedLine> sentences(uint32_t duration_ms);
    // True when a read on the port fails (the other end hung up) within the time.
    bool read_fails_within(uint32_t timeout_ms);

  private:
    void send(const std::vector<uint8_t>& bytes);
    void poll_input(uint32_t wait_ms);
    void on_sentence(const std::string& sentence, uint64_t time_us);

    PortHandle port_ = INVALID_PORT;
    uint8_t sequence_ = 0;
    char buffer_[NMEA_MAX_SENTENCE] = {};
    NmeaParser parser_{};
    uint8_t frame_buffer_[FRAME_MAX_RECEIVED] = {};
    FrameParser frame_parser_{};
    std::vector<std::vector<uint8_t>> frames_;
    std::string shell_text_;
    std::vector<TimedLine> sentences_;
    int last_read_ = 0;
};
