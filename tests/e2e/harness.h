// Runs the real programs for end-to-end tests: simulated devices on ptys, and
// nc-service driven through its options and standard input.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <csignal>
#include <termios.h>
#include <unistd.h>
#include <thread>
#include <vector>

// A path in a fresh temporary directory that is removed at exit.
std::string temp_path(const std::string& name);
// A directory made at temp_path(name).
std::string temp_folder(const std::string& name);
std::string read_text_file(const std::string& path);
// Every match of the regular expression in text, each as its groups ([0] is
// the whole match).
std::vector<std::vector<std::string>> all_matches(const std::string& text, const std::string& pattern);

inline std::vector<std::string> concat(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

struct ToolRun {
    int status = -1; // exit status, or -1 when it did not exit by itself
    int signal = 0;  // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
    double seconds = 0;
};

// nc-service running with its standard input kept open, for tests that act while
// it runs. With terminal set, its standard input and output are a pseudo-terminal
// of 80 by 50, as a technician's console, and out() collects what it wrote there.
class ToolProcess {
  public:
    ToolProcess(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {}, const std::string& program = "",
                bool terminal = false);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void send(const std::string& input) {
        if (in_ >= 0)
            (void)!write(in_, input.data(), input.size());
    }
    void close_input() {
        if (in_ >= 0)
            close(in_);
        in_ = -1;
    }
    // Sends input, then waits as wait_for_output() does.
    bool send_and_wait(const std::string& input, const std::string& text, int timeout_ms,
                       size_t occurrences = 1) {
        send(input);
        return wait_for_output(text, timeout_ms, occurrences);
    }
    // Waits until done(standard output so far) holds, up to timeout_ms.
    bool wait_until(const std::function<bool(const std::string&)>& done, int timeout_ms);
    // Waits until standard output holds text (that many times). True when it does.
    bool wait_for_output(const std::string& text, int timeout_ms, size_t occurrences = 1) {
        return wait_until(
            [&](const std::string& out) { return count_of(out, text) >= occurrences; }, timeout_ms);
    }
    void signal(int signal_number) {
        if (pid_ > 0)
            kill(pid_, signal_number);
    }
    const std::string& out() const { return run_.out; }
    const std::string& err() const { return run_.err; }
    // On a terminal: whether its modes are as the tool found them, however it ended.
    bool terminal_as_before() const;
    // Waits for the end (killing the program after timeout_s) and collects its output.
    ToolRun finish(int timeout_s = 60);

  private:
    bool read_output(int timeout_ms); // false once both streams have ended
    pid_t pid_ = -1;
    int in_ = -1, terminal_ = -1;
    int from_[2] = {-1, -1}; // standard output and error, -1 once ended
    termios terminal_modes_{}; // as the tool found them
    ToolRun run_;
    std::chrono::steady_clock::time_point start_;
};

// One nc-sim process playing a device until the object goes away.
class Simulator {
  public:
    explicit Simulator(const std::vector<std::string>& options);

    const std::string& port() const { return port_; } // the pty, also behind a --link
    bool running() const { return !port_.empty(); }
    // A run-time control line.
    void control(const std::string& line) { process_.send(line + "\n"); }
    std::string record() const { return read_text_file(record_path_); } // so far
    // Waits until the record holds text (that many times). True when it does.
    bool wait_for_record(const std::string& text, int timeout_ms, size_t occurrences = 1) const;

  private:
    std::string record_path_;
    ToolProcess process_;
    std::string port_;
};

// Runs nc-service with args and input (then closed) to the end, killed after
// timeout_s. env entries are added to the environment (an empty one removes).
ToolRun run_tool(const std::vector<std::string>& args, const std::string& input = "",
                 const std::map<std::string, std::string>& env = {}, int timeout_s = 60,
                 const std::string& program = "");

// Runs check on every row, four at once, each on a thread: rows with a
// simulator each mostly wait on its timing, and so wait side by side. More at
// once would crowd two cores (sanitizer builds above all) into time-outs.
template <typename Rows, typename Check> void check_at_once(const Rows& rows, const Check& check) {
    const size_t count = std::size(rows);
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::min<size_t>(count, 4); ++i)
        threads.emplace_back([&] {
            for (size_t row; (row = next++) < count;)
                check(std::begin(rows)[row]);
        });
    for (std::thread& thread : threads)
        thread.join();
}
