#include "sim/recorder.h"

#include <cinttypes>

#include "link/nmea.h"

namespace sim {

Recorder::~Recorder() {
    if (file_)
        std::fclose(file_);
}

bool Recorder::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

std::string json_escape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += "\\u00";
            out += hex_digit(byte >> 4, 0);
            out += hex_digit(byte, 0);
        } else {
            out += ch;
        }
    }
    return out;
}

void Recorder::write_line(uint64_t time_us, const char* dir, const char* kind,
                          const std::string& fields) {
    if (!file_)
        return;
    std::fprintf(file_, "{\"t\":%" PRIu64 ".%06" PRIu64 ",\"dir\":\"%s\",\"kind\":\"%s\",%s}\n",
                 time_us / 1000000, time_us % 1000000, dir, kind, fields.c_str());
    std::fflush(file_); // a test reads it while the simulator runs
}

void Recorder::sentence(uint64_t time_us, const char* dir, const std::string& text) {
    write_line(time_us, dir, "sentence", "\"text\":\"" + json_escape(text) + "\"");
}

void Recorder::shell(uint64_t time_us, const char* dir, const std::string& text) {
    write_line(time_us, dir, "shell", "\"text\":\"" + json_escape(text) + "\"");
}

void Recorder::console(uint64_t time_us, const char* dir, const std::string& text) {
    write_line(time_us, dir, "console", "\"text\":\"" + json_escape(text) + "\"");
}

void Recorder::line(uint64_t time_us, const std::string& text) {
    write_line(time_us, "rx", "line", "\"text\":\"" + json_escape(text) + "\"");
}

void Recorder::frame(uint64_t time_us, const char* dir, const char* via, uint8_t type,
                     uint8_t sequence, std::span<const uint8_t> payload) {
    std::string hex;
    for (uint8_t byte : payload) {
        hex += hex_digit(byte >> 4, 0);
        hex += hex_digit(byte, 0);
    }
    write_line(time_us, dir, "frame",
               "\"via\":\"" + std::string(via) + "\",\"type\":" + std::to_string(type) +
                   ",\"seq\":" + std::to_string(sequence) + ",\"payload\":\"" + hex + "\"");
}

void Recorder::stray(uint64_t time_us, const std::string& bytes) {
    write_line(time_us, "rx", "stray", "\"text\":\"" + json_escape(bytes) + "\"");
}

void Recorder::event(uint64_t time_us, const std::string& what) {
    write_line(time_us, "sim", "event", "\"text\":\"" + json_escape(what) + "\"");
}

} // namespace sim
