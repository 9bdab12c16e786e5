#include "sim_client.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "base/clock.h"
#include "link/nmea.h"
#include "link/transport.h"

SimProcess::SimProcess(const std::vector<std::string>& options) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (!getenv("NC_SIM_TEST_VERBOSE"))
            dup2(null, STDERR_FILENO);
        std::vector<char*> argv = {const_cast<char*>(NC_SIM_PATH)};
        for (const std::string& option : options)
            argv.push_back(const_cast<char*>(option.c_str()));
        argv.push_back(nullptr);
        execv(NC_SIM_PATH, argv.data());
        _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_fd_ = in[1];
    stdout_fd_ = out[0];
    path_ = next_output_line(5000);
}

SimProcess::~SimProcess() {
    close_control();
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (stdout_fd_ >= 0)
        ::close(stdout_fd_);
}

std::string SimProcess::next_output_line(int timeout_ms) {
    const uint64_t end = clock_ms() + static_cast<uint64_t>(timeout_ms);
    while (pending_.find('\n') == std::string::npos && clock_ms() < end) {
        pollfd pfd{stdout_fd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(end - clock_ms())) <= 0)
            break;
        char chunk[256];
        const ssize_t n = read(stdout_fd_, chunk, sizeof chunk);
        if (n <= 0)
            break;
        pending_.append(chunk, static_cast<size_t>(n));
    }
    const size_t newline = pending_.find('\n');
    if (newline == std::string::npos)
        return {};
    std::string line = pending_.substr(0, newline);
    pending_.erase(0, newline + 1);
    return line;
}

void SimProcess::control(const std::string& line) {
    const std::string text = line + "\n";
    if (stdin_fd_ >= 0 && write(stdin_fd_, text.data(), text.size()) < 0)
        close_control();
}

void SimProcess::close_control() {
    if (stdin_fd_ >= 0)
        ::close(stdin_fd_);
    stdin_fd_ = -1;
}

bool SimProcess::alive() {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

bool SimClient::open(const std::string& path, uint32_t baud) {
    close();
    port_ = serial_open(path.c_str(), baud);
    if (port_ == INVALID_PORT)
        return false;
    serial_set_read_timeout(port_, 20);
    nmea_parser_init(&parser_, buffer_, NMEA_MAX_SENTENCE);
    frame_parser_init(&frame_parser_, frame_buffer_, FRAME_MAX_RECEIVED);
    return true;
}

void SimClient::close() {
    if (port_ != INVALID_PORT)
        serial_close(port_);
    port_ = INVALID_PORT;
}

bool SimClient::set_baud(uint32_t baud) {
    return serial_set_baud(port_, baud) == 1;
}

void SimClient::send(const std::vector<uint8_t>& bytes) {
    serial_write(port_, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void SimClient::on_sentence(const std::string& sentence, uint64_t time_us) {
    if (!nmea_verify_checksum(sentence.data(), static_cast<uint32_t>(sentence.size())))
        return;
    const size_t star = sentence.rfind('*');
    if (sentence.rfind("$PNCX,SH,", 0) == 0) {
        uint8_t text[100];
        const char* src = sentence.data() + 9;
        uint32_t error = 0;
        const uint32_t n =
            nmea_unescape(text, sizeof text, &src, static_cast<uint32_t>(star - 9), &error);
        shell_text_.append(reinterpret_cast<const char*>(text), n);
    } else if (sentence.rfind("$PNCX,0,", 0) == 0) {
        uint8_t bytes[40];
        const char* in = sentence.data() + 8;
        uint32_t remaining = static_cast<uint32_t>(star - 8);
        uint8_t* out = bytes;
        uint32_t space = sizeof bytes;
        if (hex_decode(&in, &remaining, &out, &space) != 0)
            return;
        frame_parser_feed(&frame_parser_, bytes, static_cast<uint32_t>(out - bytes));
        if (frame_parser_complete(&frame_parser_) && frame_check(frame_buffer_))
            frames_.emplace_back(frame_buffer_,
                                 frame_buffer_ + 8 + frame_payload_length(frame_buffer_));
        if (frame_parser_complete(&frame_parser_) || frame_parser_failed(&frame_parser_))
            frame_parser_reset(&frame_parser_);
    } else {
        sentences_.push_back({time_us, sentence});
    }
}

void SimClient::poll_input(uint32_t wait_ms) {
    serial_set_read_timeout(port_, wait_ms);
    uint8_t bytes[512];
    last_read_ = serial_read(port_, bytes, sizeof bytes);
    const uint64_t now = clock_us();
    for (int i = 0; i < last_read_; ++i) {
        if (parser_.count == 0 && bytes[i] != '$')
            continue;
        nmea_parser_feed(&parser_, &bytes[i], 1);
        if (nmea_parser_complete(&parser_))
            on_sentence(std::string(buffer_, parser_.count), now);
        if (nmea_parser_complete(&parser_) || nmea_parser_failed(&parser_))
            nmea_parser_reset(&parser_);
    }
}

void SimClient::send_frame(uint8_t type, const std::vector<uint8_t>& payload, bool raw) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    frame_compose(frame.data(), type, ++sequence_, payload.data(),
                  static_cast<uint16_t>(payload.size()));
    if (raw) {
        send(frame);
        return;
    }
    for (size_t at = 0; at < frame.size(); at += 34) {
        char text[NMEA_MAX_SENTENCE];
        uint32_t n = nmea_begin_pncx(text, "0,");
        for (size_t i = at; i < std::min(frame.size(), at + 34); ++i) {
            text[n++] = hex_digit(frame[i] >> 4, 1);
            text[n++] = hex_digit(frame[i], 1);
        }
        n += nmea_append_checksum(text, n);
        n += nmea_append_crlf(text, n);
        send(std::vector<uint8_t>(text, text + n));
    }
}

std::vector<uint8_t> SimClient::transact(uint8_t type, const std::vector<uint8_t>& payload,
                                         bool raw, uint32_t timeout_ms) {
    frames_.clear();
    send_frame(type, payload, raw);
    const uint64_t end = clock_ms() + timeout_ms;
    while (clock_ms() < end) {
        poll_input(20);
        if (!frames_.empty())
            return std::vector<uint8_t>(frames_.front().begin() + 2, frames_.front().end() - 2);
    }
    return {};
}

std::vector<uint8_t> SimClient::identify(bool raw, uint32_t timeout_ms) {
    const std::vector<uint8_t> answer = transact(0x10, {}, raw, timeout_ms);
    if (answer.size() < FRAME_HEADER_SIZE || answer[0] != 0x11)
        return {};
    return std::vector<uint8_t>(answer.begin() + FRAME_HEADER_SIZE, answer.end());
}

std::string SimClient::shell(const std::string& line, uint32_t timeout_ms) {
    shell_text_.clear();
    const uint8_t* src = reinterpret_cast<const uint8_t*>(line.data());
    uint32_t remaining = static_cast<uint32_t>(line.size());
    while (remaining > 0) {
        char sentence[NMEA_MAX_SENTENCE];
        const uint32_t n = nmea_shell_sentence(sentence, SHELL_SENTENCE_LIMIT, &src, &remaining);
        send(std::vector<uint8_t>(sentence, sentence + n));
    }
    const uint64_t end = clock_ms() + timeout_ms;
    while (clock_ms() < end) {
        poll_input(20);
        const size_t prompt = shell_text_.find("> ");
        if (prompt != std::string::npos)
            return shell_text_.substr(0, prompt);
    }
    return {};
}

std::vector<TimedLine> SimClient::sentences(uint32_t duration_ms) {
    sentences_.clear();
    const uint64_t end = clock_ms() + duration_ms;
    while (clock_ms() < end)
        poll_input(20);
    return std::exchange(sentences_, {});
}

bool SimClient::read_fails_within(uint32_t timeout_ms) {
    const uint64_t end = clock_ms() + timeout_ms;
    while (clock_ms() < end) {
        poll_input(20);
        if (last_read_ < 0)
            return true;
    }
    return false;
}
