#include "harness.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Made on first use, removed with everything in it when the tests end.
struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/nc-e2e-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempDir() {
        if (!path.empty())
            std::filesystem::remove_all(path);
    }
};

const std::string& temp_dir() {
    static const TempDir dir;
    return dir.path;
}

} // namespace

std::string temp_path(const std::string& name) {
    static std::atomic<int> counter = 0; // rows may run at once
    return temp_dir() + "/" + std::to_string(++counter) + "-" + name;
}

std::string temp_folder(const std::string& name) {
    const std::string path = temp_path(name);
    std::filesystem::create_directories(path);
    return path;
}

std::string read_text_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<std::vector<std::string>> all_matches(const std::string& text, const std::string& pattern) {
    std::vector<std::vector<std::string>> found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it)
        found.emplace_back(it->begin(), it->end());
    return found;
}

Simulator::Simulator(const std::vector<std::string>& options)
    : record_path_(temp_path("record.jsonl")),
      process_(concat({"--record", record_path_}, options), {}, NC_SIM_PATH) {
    // The first line of its output names the pty; it ends at once if it
    // fails, and then has no port under either name.
    if (!process_.wait_for_output("\n", 10000))
        return;
    port_ = process_.out().substr(0, process_.out().find('\n'));
    for (size_t i = 0; i + 1 < options.size(); ++i) {
        if (options[i] == "--link")
            port_ = options[i + 1];
    }
}

std::string Simulator::record() const { return read_text_file(record_path_); }

bool Simulator::wait_for_record(const std::string& text, int timeout_ms,
                                size_t occurrences) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (count_of(record(), text) >= occurrences)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

namespace {

// What the programs' output depends on, the same on every machine: the
// character set (the degree sign), the time zone (local times in reports),
// the terminal type, a home of the test's own (the prompt's history) and
// colours on a terminal; then what the test itself asks for (an empty value
// removes the variable).
void set_test_environment(const std::map<std::string, std::string>& env, const std::string& home) {
    unsetenv("LANG");
    unsetenv("LANGUAGE");
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("TZ", "UTC", 1);
    setenv("TERM", "xterm", 1);
    setenv("HOME", home.c_str(), 1);
    unsetenv("NO_COLOR");
    for (const auto& [name, value] : env) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
}

} // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& program,
                         bool terminal)
    : start_(Clock::now()) {
    std::vector<std::string> argv = concat({program.empty() ? NC_SERVICE_PATH : program}, args);
    static const std::string home = temp_folder("home");
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
        pipe2(err_pipe, O_CLOEXEC) != 0)
        return;
    int master = -1, slave = -1;
    if (terminal) {
        const winsize size{50, 80, 0, 0};
        if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
            return;
        fcntl(master, F_SETFD, FD_CLOEXEC);
        termios modes{};
        tcgetattr(slave, &modes);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&modes);
        terminal_modes_.assign(bytes, bytes + sizeof modes);
    }
    pid_ = fork();
    if (pid_ == 0) {
        if (terminal) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
        }
        dup2(terminal ? slave : in_pipe[0], STDIN_FILENO);
        dup2(terminal ? slave : out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        if (slave > STDERR_FILENO)
            close(slave);
        set_test_environment(env, home);
        // A test run started in the background ignores Ctrl-C; a technician's
        // shell starts the tool with it in force.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGQUIT, SIG_DFL);
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    for (int fd : {in_pipe[0], out_pipe[1], err_pipe[1]})
        close(fd);
    err_ = err_pipe[0];
    if (terminal) {
        close(slave);
        for (int fd : {in_pipe[1], out_pipe[0]})
            close(fd);
        in_ = dup(master);
        out_ = master;
        terminal_ = master;
    } else {
        in_ = in_pipe[1];
        out_ = out_pipe[0];
    }
    ::signal(SIGPIPE, SIG_IGN);
}

bool ToolProcess::terminal_as_before() const {
    termios now{};
    if (terminal_ < 0 || tcgetattr(terminal_, &now) != 0)
        return false;
    termios before{};
    std::memcpy(&before, terminal_modes_.data(), sizeof before);
    return now.c_iflag == before.c_iflag && now.c_oflag == before.c_oflag &&
           now.c_cflag == before.c_cflag && now.c_lflag == before.c_lflag &&
           std::memcmp(now.c_cc, before.c_cc, sizeof now.c_cc) == 0;
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close_input();
    for (int fd : {out_, err_})
        if (fd >= 0)
            close(fd);
}

void ToolProcess::send(const std::string& input) {
    if (in_ >= 0)
        (void)!write(in_, input.data(), input.size());
}

void ToolProcess::close_input() {
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

bool ToolProcess::read_output(int timeout_ms) {
    if (!out_open_ && !err_open_)
        return false;
    pollfd fds[2] = {{out_open_ ? out_ : -1, POLLIN, 0}, {err_open_ ? err_ : -1, POLLIN, 0}};
    if (poll(fds, 2, timeout_ms) <= 0)
        return true;
    bool* open[2] = {&out_open_, &err_open_};
    std::string* text[2] = {&run_.out, &run_.err};
    for (int i = 0; i < 2; ++i) {
        if (!fds[i].revents)
            continue;
        char chunk[4096];
        const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
        if (n > 0)
            text[i]->append(chunk, static_cast<size_t>(n));
        else
            *open[i] = false;
    }
    return true;
}

bool ToolProcess::wait_for_output(const std::string& text, int timeout_ms, size_t occurrences) {
    return wait_until([&](const std::string& out) { return count_of(out, text) >= occurrences; },
                      timeout_ms);
}

bool ToolProcess::wait_until(const std::function<bool(const std::string&)>& done, int timeout_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done(run_.out)) {
        if (Clock::now() >= end || !read_output(50))
            return done(run_.out);
    }
    return true;
}

void ToolProcess::signal(int signal_number) {
    if (pid_ > 0)
        kill(pid_, signal_number);
}

ToolRun ToolProcess::finish(int timeout_s) {
    const auto deadline = start_ + std::chrono::seconds(timeout_s);
    while ((out_open_ || err_open_) && Clock::now() < deadline)
        read_output(200);
    int status = 0;
    if (out_open_ || err_open_)
        kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    if (!out_open_ && !err_open_) {
        run_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    pid_ = -1;
    run_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    return run_;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& input,
                 const std::map<std::string, std::string>& env, int timeout_s,
                 const std::string& program) {
    ToolProcess tool(args, env, program);
    tool.send(input);
    tool.close_input();
    return tool.finish(timeout_s);
}
