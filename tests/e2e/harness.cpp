#include "harness.h"

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Made on first use, removed with everything in it when the tests end.
struct TempDir {
    char path[19] = "/tmp/nc-e2e-XXXXXX";
    TempDir() { (void)!mkdtemp(path); }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

} // namespace

std::string temp_path(const std::string& name) {
    static const TempDir dir;
    static std::atomic<int> counter = 0; // rows may run at once
    return std::string(dir.path) + "/" + std::to_string(++counter) + "-" + name;
}

std::string temp_folder(const std::string& name) {
    const std::string path = temp_path(name);
    std::filesystem::create_directories(path);
    return path;
}

std::string read_text_file(const std::string& path) {
    std::stringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
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
    // The first line of its output names the pty; when it fails it ends at once.
    if (!process_.wait_for_output("\n", 10000))
        return;
    port_ = process_.out().substr(0, process_.out().find('\n'));
}

bool Simulator::wait_for_record(const std::string& text, int timeout_ms,
                                size_t occurrences) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (count_of(record(), text) < occurrences) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& program,
                         bool terminal)
    : start_(Clock::now()) {
    std::vector<std::string> argv = concat({program.empty() ? NC_SERVICE_PATH : program}, args);
    std::vector<char*> pointers;
    for (std::string& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    // What the output depends on, the same on every machine (the degree sign,
    // local times, the terminal, the prompt's history in a home of the tests'
    // own, colours), after what the test asks for (an empty value unsets).
    static const std::string home = temp_folder("home");
    std::map<std::string, std::string> environment = env;
    environment.insert({{"LANG", ""}, {"LANGUAGE", ""}, {"LC_ALL", "C.UTF-8"}, {"TZ", "UTC"},
                        {"TERM", "xterm"}, {"HOME", home}, {"NO_COLOR", ""}});
    int in[2], out[2], err[2]; // [0] the reading end, [1] the writing end
    if (pipe2(err, O_CLOEXEC) != 0)
        return;
    if (terminal) {
        const winsize size{50, 80, 0, 0};
        if (openpty(&out[0], &out[1], nullptr, nullptr, &size) != 0)
            return;
        for (int fd : out)
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        tcgetattr(out[1], &terminal_modes_);
        in[0] = out[1];
        in[1] = fcntl(out[0], F_DUPFD_CLOEXEC, 0);
        terminal_ = fcntl(out[0], F_DUPFD_CLOEXEC, 0); // kept to read the modes after the end
    } else if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        if (terminal) {
            setsid();
            ioctl(out[1], TIOCSCTTY, 0);
        }
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        // A test run started in the background ignores Ctrl-C; a technician's
        // shell starts the tool with it in force.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGQUIT, SIG_DFL);
        for (const auto& [name, value] : environment) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (!terminal)
        close(in[0]);
    in_ = in[1];
    from_[0] = out[0];
    from_[1] = err[0];
    ::signal(SIGPIPE, SIG_IGN);
}

bool ToolProcess::terminal_as_before() const {
    // Field by field: the gaps between them need not be alike.
    const termios& before = terminal_modes_;
    termios now{};
    return terminal_ >= 0 && tcgetattr(terminal_, &now) == 0 && now.c_iflag == before.c_iflag &&
           now.c_oflag == before.c_oflag && now.c_cflag == before.c_cflag &&
           now.c_lflag == before.c_lflag &&
           std::memcmp(now.c_cc, before.c_cc, sizeof now.c_cc) == 0;
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, from_[0], from_[1], terminal_})
        if (fd >= 0)
            close(fd);
}

bool ToolProcess::read_output(int timeout_ms) {
    if (from_[0] < 0 && from_[1] < 0)
        return false;
    pollfd fds[2] = {{from_[0], POLLIN, 0}, {from_[1], POLLIN, 0}}; // poll skips an ended one
    if (poll(fds, 2, timeout_ms) <= 0)
        return true;
    std::string* texts[2] = {&run_.out, &run_.err};
    for (int i = 0; i < 2; ++i) {
        if (!fds[i].revents)
            continue;
        char chunk[4096];
        const ssize_t n = read(from_[i], chunk, sizeof chunk);
        if (n > 0) {
            texts[i]->append(chunk, static_cast<size_t>(n));
        } else {
            close(from_[i]);
            from_[i] = -1;
        }
    }
    return true;
}

bool ToolProcess::wait_until(const std::function<bool(const std::string&)>& done, int timeout_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done(run_.out)) {
        if (Clock::now() >= end || !read_output(50))
            return done(run_.out);
    }
    return true;
}

ToolRun ToolProcess::finish(int timeout_s) {
    const auto deadline = start_ + std::chrono::seconds(timeout_s);
    while (Clock::now() < deadline && read_output(200))
        continue;
    const bool ended = from_[0] < 0 && from_[1] < 0;
    if (!ended)
        kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    if (ended) {
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
