// nc-sim: one simulated device on a pseudo-terminal. A single thread waits
// for the line, the control input, a signal or the next deadline.
#include <algorithm>
#include <cstdio>
#include <deque>

#include "base/clock.h"
#include "sim/device.h"
#include "sim/log.h"
#include "sim/options.h"
#include "sim/wire.h"

namespace {

// Received bytes become visible to the device when their last character has
// arrived at the line rate.
struct ArrivingBytes {
    uint64_t due_us;
    std::string bytes;
};

// Bytes received but not yet through the line. Beyond this the simulator
// stops taking input from the pty, so the sender is held up as a real line
// paces it, and memory stays bounded whatever a program writes.
constexpr size_t MAX_ARRIVING_BYTES = 4096;

class Runner {
  public:
    Runner(sim::SimOptions& options, sim::Recorder& recorder)
        : options_(options), device_(options.settings, recorder, clock_us(), sim::wall_clock_utc()),
          recorder_(recorder) {}

    bool start();
    void run();

  private:
    bool open_wire();
    void announce_path();
    void step(uint64_t now);
    void deliver_arrived(uint64_t now);
    void record_release(sim::Wire::Release release, uint64_t now);
    void transmit(uint64_t now);
    void wait_for_events(uint64_t now);
    void read_line_input(uint64_t now);
    void read_control_input(uint64_t now);
    void close_control_input();
    void queue_arriving(const char* bytes, size_t n, uint64_t now, uint32_t baud);
    void report_mismatch(uint64_t now, uint32_t port_baud, uint32_t device_baud);
    void handle_control_line(const std::string& line, uint64_t now);
    bool handle_wire_control(const sim::ControlCommand& command, uint64_t now,
                             std::string* message);
    void hang_up(uint64_t now, uint64_t back_after_ms);
    void come_back(uint64_t now);
    std::string noise_for(const std::string& bytes, uint32_t sent_baud, uint32_t line_baud);

    sim::SimOptions& options_;
    sim::Device device_;
    sim::Recorder& recorder_;
    sim::Wire wire_;
    std::deque<ArrivingBytes> arriving_;
    size_t arriving_bytes_ = 0;
    uint64_t rx_line_free_us_ = 0;
    uint64_t come_back_us_ = UINT64_MAX;
    bool mismatch_reported_ = false;
    bool stdin_open_ = true;
    std::string control_buffer_;
    uint32_t noise_state_ = 0x2545F491u;
};

bool Runner::open_wire() {
    std::string error;
    if (!wire_.open(device_.line_baud(), &error)) {
        sim::log_message(0, "cannot open a pseudo-terminal: %s", error.c_str());
        return false;
    }
    if (!options_.link_path.empty() && !wire_.link(options_.link_path, &error)) {
        sim::log_message(0, "%s", error.c_str());
        return false;
    }
    announce_path();
    return true;
}

void Runner::announce_path() {
    std::printf("%s\n", wire_.slave_path().c_str());
    std::fflush(stdout);
    sim::log_message(0, "%s on %s at %u baud", options_.settings.profile.name,
                     wire_.slave_path().c_str(), device_.line_baud());
}

bool Runner::start() {
    for (const std::string& line : options_.fault_lines)
        handle_control_line(line, clock_us());
    return open_wire();
}

void Runner::run() {
    while (!sim::stop_requested()) {
        const uint64_t now = clock_us();
        step(now);
        wait_for_events(clock_us());
    }
}

void Runner::step(uint64_t now) {
    if (!wire_.is_open() && now >= come_back_us_)
        come_back(now);
    if (wire_.is_open())
        record_release(wire_.track_holders(), now);
    device_.advance(now);
    deliver_arrived(now);
    transmit(now);
}

// A real tty forgets its exclusive flag when the last program closes it; ours
// lives on, so a program that leaves it set is worth recording.
void Runner::record_release(sim::Wire::Release release, uint64_t now) {
    if (release == sim::Wire::Release::Clean)
        recorder_.event(now, "port released");
    else if (release == sim::Wire::Release::ExclusiveLeftSet)
        recorder_.event(now, "port released with its exclusive flag set");
}

void Runner::deliver_arrived(uint64_t now) {
    while (!arriving_.empty() && arriving_.front().due_us <= now) {
        const std::string& bytes = arriving_.front().bytes;
        device_.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
        arriving_bytes_ -= bytes.size();
        arriving_.pop_front();
    }
}

// A receiver at another rate sees framing garbage: fewer or more characters,
// none of which can start a sentence.
std::string Runner::noise_for(const std::string& bytes, uint32_t sent_baud, uint32_t line_baud) {
    const uint64_t count =
        line_baud == 0 ? bytes.size() : std::max<uint64_t>(1, bytes.size() * line_baud / sent_baud);
    std::string noise;
    for (uint64_t i = 0; i < count; ++i) {
        noise_state_ ^= noise_state_ << 13;
        noise_state_ ^= noise_state_ >> 17;
        noise_state_ ^= noise_state_ << 5;
        noise += static_cast<char>(0x80 | (noise_state_ & 0x7F));
    }
    return noise;
}

void Runner::transmit(uint64_t now) {
    for (;;) {
        const sim::TxChunk chunk = device_.take_output(now);
        if (chunk.bytes.empty())
            break;
        if (!wire_.is_open() || !wire_.held())
            continue; // nobody on the line
        const uint32_t line_baud = wire_.slave_baud();
        wire_.write_all(line_baud == chunk.baud ? chunk.bytes
                                                : noise_for(chunk.bytes, chunk.baud, line_baud));
    }
}

void Runner::read_line_input(uint64_t now) {
    uint8_t buffer[MAX_ARRIVING_BYTES];
    while (arriving_bytes_ < MAX_ARRIVING_BYTES) {
        const long n = wire_.read_some(buffer, MAX_ARRIVING_BYTES - arriving_bytes_);
        if (n <= 0)
            return;
        const uint32_t device_baud = device_.line_baud();
        if (wire_.slave_baud() != device_baud) {
            if (!mismatch_reported_)
                report_mismatch(now, wire_.slave_baud(), device_baud);
            mismatch_reported_ = true;
            continue;
        }
        mismatch_reported_ = false;
        queue_arriving(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n), now,
                       device_baud);
    }
}

// Pieces of about 10 ms of line time, each due when its last character is in.
void Runner::queue_arriving(const char* bytes, size_t n, uint64_t now, uint32_t baud) {
    const size_t piece = std::max<size_t>(1, baud / 1000);
    for (size_t at = 0; at < n; at += piece) {
        const size_t length = std::min(piece, n - at);
        const uint64_t start = std::max(now, rx_line_free_us_);
        rx_line_free_us_ = start + static_cast<uint64_t>(length) * 10000000ULL / baud;
        arriving_.push_back({rx_line_free_us_, std::string(bytes + at, length)});
        arriving_bytes_ += length;
    }
}

void Runner::report_mismatch(uint64_t now, uint32_t port_baud, uint32_t device_baud) {
    char text[96];
    std::snprintf(text, sizeof text, "line noise: port at %u baud, device at %u", port_baud,
                  device_baud);
    recorder_.event(now, text);
    sim::log_message(1, "%s", text);
}

void Runner::read_control_input(uint64_t now) {
    char buffer[512];
    const long n = sim::read_control_input(buffer, sizeof buffer);
    if (n < 0)
        close_control_input(); // the end of input does not end the simulation
    if (n <= 0)
        return;
    control_buffer_.append(buffer, static_cast<size_t>(n));
    size_t newline = 0;
    while ((newline = control_buffer_.find('\n')) != std::string::npos) {
        handle_control_line(control_buffer_.substr(0, newline), now);
        control_buffer_.erase(0, newline + 1);
    }
    if (control_buffer_.size() > 4096)
        control_buffer_.clear();
}

void Runner::handle_control_line(const std::string& line, uint64_t now) {
    std::string message;
    const std::optional<sim::ControlCommand> command = sim::parse_control_line(line, &message);
    if (command && command->name.empty())
        return; // blank line or comment
    bool done = false;
    if (command && command->target == sim::ControlTarget::FAULTS)
        done = sim::apply_fault(device_.faults(), *command, &message);
    else if (command && command->target == sim::ControlTarget::DEVICE)
        done = device_.control(*command, now, &message);
    else if (command)
        done = handle_wire_control(*command, now, &message);
    if (!done) {
        sim::log_message(0, "%s", message.c_str());
        return;
    }
    sim::log_message(1, "control: %s", line.c_str());
    std::fputs(message.c_str(), stderr); // what "status" and "help" report
}

bool Runner::handle_wire_control(const sim::ControlCommand& command, uint64_t now,
                                 std::string* message) {
    if (command.name == "help") {
        *message = sim::control_help();
    } else if (command.name == "back") {
        if (!wire_.is_open())
            come_back(now);
    } else if (command.name == "hangup") {
        uint32_t ms = 0;
        if (!command.args.empty() && !sim::parse_u32(command.args[0], &ms)) {
            *message = "hangup: not a number: " + command.args[0];
            return false;
        }
        hang_up(now, ms);
    }
    return true;
}

void Runner::hang_up(uint64_t now, uint64_t back_after_ms) {
    if (!wire_.is_open())
        return;
    recorder_.event(now, "hang-up");
    sim::log_message(0, "hang-up of %s", wire_.slave_path().c_str());
    wire_.unlink_link();
    wire_.close();
    arriving_.clear();
    arriving_bytes_ = 0;
    come_back_us_ = back_after_ms == 0 ? UINT64_MAX : now + back_after_ms * 1000;
}

void Runner::come_back(uint64_t now) {
    come_back_us_ = UINT64_MAX;
    if (open_wire())
        recorder_.event(now, "back on " + wire_.slave_path());
}

void Runner::close_control_input() {
    stdin_open_ = false;
    sim::log_message(1, "no more control input");
}

void Runner::wait_for_events(uint64_t now) {
    uint64_t wake = device_.next_wake_us(now);
    if (!arriving_.empty())
        wake = std::min(wake, arriving_.front().due_us);
    wake = std::min(wake, come_back_us_);
    const uint64_t wait_us = std::min<uint64_t>(wake > now ? wake - now : 0, 1'000'000);
    const sim::WireEvents events =
        sim::wait_events(wire_, arriving_bytes_ < MAX_ARRIVING_BYTES, stdin_open_, wait_us);
    const uint64_t after = clock_us();
    if (events.line_input)
        read_line_input(after);
    else if (events.line_failed)
        hang_up(after, 1000); // cannot happen while we hold the slave; never spin on it
    if (events.control_input)
        read_control_input(after);
    else if (events.control_closed)
        close_control_input();
}

} // namespace

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string error;
    if (!sim::parse_options(argc, argv, &options, &error)) {
        std::fprintf(stderr, "nc-sim: %s\nTry 'nc-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::usage_text().c_str(), stdout);
        return 0;
    }
    sim::log_verbosity = options.verbosity;
    sim::Recorder recorder;
    if (!options.record_path.empty() && !recorder.open(options.record_path)) {
        std::fprintf(stderr, "nc-sim: cannot create %s\n", options.record_path.c_str());
        return 1;
    }
    sim::install_signal_handlers();
    // A device has a processor of its own: keep the line timing when the
    // machine is busy. The loop always blocks in its wait, so this cannot starve
    // anything; without the privilege the simulator runs as it is.
    if (raise_realtime_priority() != 0)
        sim::log_message(1, "running without real-time priority");
    Runner runner(options, recorder);
    if (!runner.start())
        return 1;
    runner.run();
    sim::log_message(1, "stopped");
    return 0;
}
