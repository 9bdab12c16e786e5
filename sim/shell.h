// The device's command shell: the "cfg" vocabulary over the configuration
// store, the system commands and the diagnostic commands, and the session
// around them (login, echo, prompt, exit status) for the tunnel and the plain
// console.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/model.h"

namespace sim {

// Exit statuses of the shell.
constexpr uint32_t STATUS_OK = 0;
constexpr uint32_t STATUS_REFUSED = 1;     // value out of range or not allowed
constexpr uint32_t STATUS_USAGE = 2;       // wrong words or numbers
constexpr uint32_t STATUS_UNSUPPORTED = 3; // the model has no such function
constexpr uint32_t STATUS_NOT_FOUND = 127;

struct Calibration {
    bool completed = true;
    int64_t time = 0; // seconds since start, or a calendar time
    uint32_t count = 4;
    uint32_t score = 86;
    double reset_at = 0; // uptime of the last reset
};

struct LinkCounters {
    uint64_t rx_bytes = 0;
    uint64_t tx_bytes = 0;
    uint64_t rx_sentences = 0;
    uint64_t tx_sentences = 0;
    uint64_t checksum_errors = 0;
    uint64_t dropped_sentences = 0;
};

// Everything a command may read or change; owned by the device.
struct ShellContext {
    const ModelProfile* profile = nullptr;
    DeviceIdentity* identity = nullptr;
    DeviceConfig* config = nullptr;
    Calibration* calibration = nullptr;
    const LinkCounters* counters = nullptr;
    uint32_t protocol_version = 0;
    double uptime = 0;     // seconds since start
    double utc = 0;        // seconds since 1970
    double level_roll = 0; // mean raw attitude that autolevel measures
    double level_pitch = 0;
    uint32_t line_baud = 0;   // in use now
    uint32_t active_gnss = 0; // in use now
    bool post_fail = false;
    bool events_active = false;
    bool reboot_requested = false; // set by "reboot"
    // Injected failure for a command line: the exit status to give instead.
    std::function<std::optional<uint32_t>(const std::string&)> injected_failure;
};

struct CommandResult {
    std::string output; // lines ending in CR LF
    uint32_t status = STATUS_OK;
};

std::vector<std::string> split_words(const std::string& line);

// Runs one command line (without its CR) and returns its output and status.
// "echo" needs the previous status.
CommandResult run_command(ShellContext& context, const std::string& line, uint32_t last_status);

// The names of all commands the shell knows, for "help" and for tests.
std::vector<std::string> shell_command_names();

std::string shell_prompt(const ModelProfile& profile);

constexpr const char* LOGIN_USER = "kestrel";

// One shell session: login, line assembly, echo and prompt.
class ShellSession {
  public:
    enum class Kind { TUNNEL, CONSOLE };
    enum class State { USER, PASSWORD, SHELL };
    explicit ShellSession(Kind kind) : kind_(kind) {}

    // Feeds received text and returns what the device answers.
    std::string feed(const std::string& text, ShellContext& context);
    // The command lines executed since the last clear_executed, for the record.
    const std::vector<std::string>& executed_lines() const { return executed_; }
    void clear_executed() { executed_.clear(); }

    State state() const { return state_; }
    bool logged_out_now() const { return logged_out_; } // "exit" seen in the last feed
    void reset();                                       // logged out, nothing pending
    uint32_t last_status() const { return last_status_; }

  private:
    std::string on_char(char ch, ShellContext& context);
    std::string on_line(const std::string& line, ShellContext& context);
    std::string on_user(const std::string& line);
    std::string on_password(const std::string& line, const ShellContext& context);
    std::string on_command(const std::string& line, ShellContext& context);

    Kind kind_;
    State state_ = State::USER;
    std::string line_;
    std::string user_;
    uint32_t last_status_ = 0;
    bool logged_out_ = false;
    std::vector<std::string> executed_;
};

constexpr size_t SHELL_MAX_LINE = 255;

} // namespace sim
