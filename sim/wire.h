// The simulator's end of the serial line: a pseudo-terminal whose slave is
// the port the tool opens. The simulator keeps a descriptor of the slave
// open itself, so the tool can close and reopen the port without a hang-up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Wire {
  public:
    Wire() = default;
    ~Wire();
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    // A new pty with its slave raw at baud. false with the reason in *error.
    bool open(uint32_t baud, std::string* error);
    // Closes both ends: the tool's reads fail as on an unplugged cable.
    void close();
    bool is_open() const { return master_ >= 0; }
    int poll_fd() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

    // The line speed set on the slave (by the tool, or ours at open); 0 unknown.
    uint32_t slave_baud() const;
    // Reads what is there without waiting: count, 0 nothing, -1 failure.
    long read_some(uint8_t* buffer, size_t size);
    // Writes without waiting; what does not fit is lost, as on a line that
    // nobody reads.
    void write_all(const std::string& bytes);
    // Follows the programs that open and close the port. When the last one
    // closes it, what it left unread is discarded and its exclusive flag is
    // cleared (the flag belongs to the tty, which our own descriptor keeps
    // alive, so a program killed before it could clear the flag would lock
    // the port). Output is sent only while the port is held, so a program
    // that opens it finds it empty, as on a real line. Tells whether the last
    // holder just left, and whether it left the exclusive flag set.
    enum class Release { None, Clean, ExclusiveLeftSet };
    Release track_holders();
    int notify_fd() const { return notify_; } // readable when the port is opened or closed
    // True while some program has the port open (always, when that cannot be told).
    bool held() const { return notify_ < 0 || holders_ > 0; }

    // Points a symlink at the slave (replacing an older symlink) / removes it.
    bool link(const std::string& path, std::string* error);
    void unlink_link();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
    std::string link_path_;
    int notify_ = -1;
    int holders_ = 0; // open descriptors of the slave besides ours
};

// The rest of what the simulator asks of the system.

// SIGTERM, SIGINT and SIGHUP ask the simulator to stop; they are let through
// only while it waits, so none slips in between a check and the wait. Reading
// a terminal from the background does not stop the process (the read fails).
void install_signal_handlers();
bool stop_requested();

// Seconds since 1970 from the system's calendar clock.
double wall_clock_utc();

// What ended a wait_events.
struct WireEvents {
    bool line_input = false;     // the line has bytes for us
    bool line_failed = false;    // the line can no longer be read
    bool control_input = false;  // standard input has data
    bool control_closed = false; // standard input is at its end or failed
};

// Waits up to timeout_us for the line (when open and line_input is wanted),
// the port's open and close notices, standard input (when watched) or a
// stop signal.
WireEvents wait_events(const Wire& wire, bool want_line_input, bool watch_control,
                       uint64_t timeout_us);

// Reads control input that is there: count, 0 when interrupted, -1 when
// standard input is closed (its end, an error, or a terminal that belongs to
// the foreground while we run in the background).
long read_control_input(char* buffer, size_t size);

} // namespace sim
