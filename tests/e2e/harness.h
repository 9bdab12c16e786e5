// Runs the real programs for end-to-end tests: simulated devices on ptys, and
// nc-service driven through its options and standard input.
#pragma once
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

struct ToolRun {
    int status = -1; // exit status, or -1 when it did not exit by itself
    int signal = 0;  // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
    double seconds = 0;
};

// nc-service running with its standard input kept open, for tests that act
// while it runs (type at the prompt, send it a signal). With terminal set, its
// standard input and output are a pseudo-terminal of 80 by 50, as a
// technician's console, and out() collects what it wrote there.
class ToolProcess {
  public:
    ToolProcess(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {}, const std::string& program = "",
                bool terminal = false);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void send(const std::string& input);
    void close_input();
    // Waits until standard output holds text (that many times), up to
    // timeout_ms. True when it does.
    bool wait_for_output(const std::string& text, int timeout_ms, size_t occurrences = 1);
    // Waits until done(standard output so far) holds, up to timeout_ms.
    bool wait_until(const std::function<bool(const std::string&)>& done, int timeout_ms);
    void signal(int signal_number);
    const std::string& out() const { return run_.out; }
    const std::string& err() const { return run_.err; }
    // On a terminal: whether its modes are now as they were before the tool
    // started (the tool must put them back however it ends).
    bool terminal_as_before() const;
    // Waits for the end (killing the program after timeout_s) and collects its output.
    ToolRun finish(int timeout_s = 60);

  private:
    bool read_output(int timeout_ms); // false once both streams have ended
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    bool out_open_ = true, err_open_ = true;
    int terminal_ = -1;
    std::vector<unsigned char> terminal_modes_; // as the tool found them
    ToolRun run_;
    std::chrono::steady_clock::time_point start_;
};

// One nc-sim process playing a device until the object goes away.
class Simulator {
  public:
    explicit Simulator(const std::vector<std::string>& options);

    const std::string& port() const { return port_; } // the pty (or --link) path
    bool running() const { return !port_.empty(); }
    // A run-time control line.
    void control(const std::string& line) { process_.send(line + "\n"); }
    std::string record() const; // the --record file so far
    // Waits until the record holds text (that many times), up to timeout_ms.
    // True when it does.
    bool wait_for_record(const std::string& text, int timeout_ms, size_t occurrences = 1) const;

  private:
    std::string record_path_;
    ToolProcess process_;
    std::string port_;
};

// Runs nc-service with args, feeding input to its standard input (then closing
// it). env entries are added to (or, with an empty value, removed from) the
// environment. The run is killed after timeout_s.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& input = "",
                 const std::map<std::string, std::string>& env = {}, int timeout_s = 60,
                 const std::string& program = "");

// A path in a fresh temporary directory that is removed at exit.
std::string temp_path(const std::string& name);
// A directory made at temp_path(name).
std::string temp_folder(const std::string& name);
std::string read_text_file(const std::string& path);
std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b);
size_t count_of(const std::string& text, const std::string& part);
// Every match of the regular expression in text, each as its groups ([0] is
// the whole match).
std::vector<std::vector<std::string>> all_matches(const std::string& text, const std::string& pattern);

// Runs check on every row at once, each on a thread of its own: rows with a
// simulator each mostly wait on its timing, and so wait side by side.
template <typename Row, size_t N, typename Check> void check_at_once(const Row (&rows)[N], const Check& check) {
    std::vector<std::thread> threads;
    for (const Row& row : rows)
        threads.emplace_back([&check, &row] { check(row); });
    for (std::thread& thread : threads)
        thread.join();
}
