// One simulated device: what it receives from the line, what it sends, and
// its modes (application, bootloader, rebooting, plain console). Pure logic:
// time comes in as a parameter and bytes go out through take_output, so the
// whole device runs in tests without a pseudo-terminal.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/nmea.h"
#include "sim/bootloader.h"
#include "sim/config.h"
#include "sim/control.h"
#include "sim/model.h"
#include "sim/motion.h"
#include "sim/recorder.h"
#include "sim/shell.h"
#include "sim/transmitter.h"

namespace sim {

struct SimSettings {
    ModelProfile profile = profile_for_part_number(0);
    DeviceIdentity identity;
    uint32_t baud = 0; // 0: the model's default
    bool nmea = true;
    bool ident_sentence = true; // answers identification requested in sentences
    bool ident_raw = true;      // ... and as raw bytes
    bool rescue = false;        // starts in the bootloader without an application
    uint32_t protocol_version = 0;
    uint32_t reboot_time_ms = 1500;
    uint32_t seed = 1;
    Faults faults;
    // A capture played instead of the sentence table, over and over: at the
    // line rate, or at replay_rate sentences a second when that is not 0.
    std::vector<std::string> replay;
    uint32_t replay_rate = 0;
};

// The settings of a model with its factory identity.
SimSettings default_settings(const ModelProfile& profile);

enum class DeviceMode { APPLICATION, BOOTLOADER, REBOOTING, DOWN };

class Device {
  public:
    Device(const SimSettings& settings, Recorder& recorder, uint64_t now_us, double utc_now);

    // Bytes that have finished arriving on the line.
    void receive(const uint8_t* bytes, size_t n, uint64_t now_us);
    // Timers and the navigation sentences due by now.
    void advance(uint64_t now_us);
    // Bytes to put on the line now (see Transmitter::take_due).
    TxChunk take_output(uint64_t now_us);
    // When advance or take_output has something to do next.
    uint64_t next_wake_us(uint64_t now_us) const;

    uint32_t line_baud() const { return tx_.baud(); }
    DeviceMode mode() const { return mode_; }
    bool console_active() const { return console_active_; }

    // A DEVICE control line (wake, reboot, reboot-time, nmea, status).
    bool control(const ControlCommand& command, uint64_t now_us, std::string* message);
    Faults& faults() { return faults_; }
    std::string status_text(uint64_t now_us) const;

    // For tests.
    const DeviceConfig& config() const { return config_; }
    const DeviceIdentity& identity() const { return identity_; }

  private:
    enum class RxState { IDLE, SENTENCE, RAW_FRAME };

    // receiving
    void receive_byte(uint8_t byte, uint64_t now_us);
    void receive_idle_byte(uint8_t byte, uint64_t now_us);
    void receive_sentence_byte(uint8_t byte, uint64_t now_us);
    void receive_raw_frame_byte(uint8_t byte, uint64_t now_us);
    void on_sentence(uint64_t now_us);
    void on_frame_sentence(const std::string& data, uint64_t now_us);
    void on_shell_sentence(const std::string& data, uint64_t now_us);
    void on_frame(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_identify(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_run(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_load_begin(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_segment(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_load_end(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_data_begin(const uint8_t* frame, bool raw, uint64_t now_us);
    void on_data_end(const uint8_t* frame, bool raw, uint64_t now_us);

    // shell and console
    ShellContext shell_context(uint64_t now_us);
    void after_shell(ShellContext& context, uint64_t now_us);
    void record_lines(ShellSession& session, uint64_t now_us);
    void enter_console(uint64_t now_us);
    void console_byte(uint8_t byte, uint64_t now_us);
    void leave_console(uint64_t now_us);

    // sending
    void send_reply(std::string bytes, uint64_t now_us, uint32_t baud_after = 0);
    void send_shell_text(const std::string& text, uint64_t now_us);
    void send_frame(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& payload,
                    uint64_t now_us, uint32_t baud_after = 0);
    std::string with_faults(std::string sentence);
    std::vector<uint8_t> with_answer_fault(uint8_t type, std::vector<uint8_t> payload,
                                           uint64_t now_us);
    bool fits_gap(uint64_t rank, uint64_t end_us) const;

    // navigation output
    void restart_schedule(uint64_t now_us);
    void reschedule_changed_rows(uint64_t now_us);
    void generate_due_sentences(uint64_t now_us);
    void generate_row(size_t index, uint64_t deadline_us);
    void replay_due_sentences(uint64_t now_us);
    bool nmea_running() const;

    // control lines
    bool control_wake(const ControlCommand& command, uint64_t now_us, std::string* message);
    bool control_reboot(const ControlCommand& command, uint64_t now_us, std::string* message);
    bool control_reboot_time(const ControlCommand& command, uint64_t now_us, std::string* message);
    bool control_nmea(const ControlCommand& command, uint64_t now_us, std::string* message);
    bool control_status(const ControlCommand& command, uint64_t now_us, std::string* message);
    bool control_still(const ControlCommand& command, uint64_t now_us, std::string* message);

    // life cycle
    void prepare_reboot();
    void begin_reboot(uint64_t now_us);
    void finish_reboot(uint64_t now_us);
    void enter_bootloader(uint64_t now_us);
    void update_calibration(uint64_t now_us);
    void fall_back_from_transfer_rate(uint64_t now_us);

    double uptime(uint64_t now_us) const { return (now_us - boot_us_) / 1e6; }
    double utc(uint64_t now_us) const { return utc_at_start_ + (now_us - start_us_) / 1e6; }
    uint32_t random_below(uint32_t n);
    double random_unit();
    void log_event(uint64_t now_us, const std::string& what);

    SimSettings settings_;
    Recorder& recorder_;
    ModelProfile profile_;
    DeviceIdentity identity_;
    DeviceConfig config_;
    Calibration calibration_;
    LinkCounters counters_;
    Faults faults_;
    MotionModel motion_;
    Transmitter tx_;

    DeviceMode mode_ = DeviceMode::APPLICATION;
    RunningSoftware running_;
    uint64_t start_us_;
    uint64_t boot_us_;
    uint64_t reboot_done_us_ = 0;
    bool reboot_pending_ = false; // waits until the last reply has left
    double utc_at_start_;
    uint32_t active_gnss_;
    uint32_t normal_baud_; // the configured line rate in use
    bool nmea_on_;
    uint32_t rng_;

    RxState rx_state_ = RxState::IDLE;
    std::string stray_; // bytes outside sentences and frames, for the record
    uint64_t last_rx_us_ = 0; // a pause drops what was half received
    uint64_t last_frame_sentence_us_ = 0;
    std::array<char, NMEA_MAX_SENTENCE> sentence_buffer_{};
    NmeaParser sentence_parser_{};
    std::vector<uint8_t> raw_frame_buffer_;
    FrameParser raw_frame_parser_{};
    std::vector<uint8_t> tunnel_frame_buffer_;
    FrameParser tunnel_frame_parser_{};

    ShellSession tunnel_{ShellSession::Kind::TUNNEL};
    ShellSession console_{ShellSession::Kind::CONSOLE};
    bool console_armed_ = false; // a tunnelled "exit" lets a plain CR wake the console
    bool console_active_ = false;
    uint64_t console_input_us_ = 0;
    std::string console_line_; // for the record

    uint64_t epoch_us_ = 0;
    std::vector<uint64_t> next_deadline_;
    SentenceTable scheduled_; // the table the deadlines were computed for
    size_t replay_next_ = 0;
    uint64_t replay_due_us_ = 0;

    Transfer image_;
    Transfer data_;
    uint32_t segment_attempts_ = 0;
    bool image_fault_used_ = false;
    uint64_t last_frame_us_ = 0;
    std::map<uint32_t, uint32_t> data_blocks_; // id -> size
};

} // namespace sim
