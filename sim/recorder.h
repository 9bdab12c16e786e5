// The traffic record: one JSON object per line and event, so that tests can
// assert exactly what reached the device and what it answered.
#pragma once
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace sim {

class Recorder {
  public:
    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool open(const std::string& path); // false when the file cannot be created
    bool active() const { return file_ != nullptr; }

    // dir is "rx" (from the tool) or "tx" (from the device); time in microseconds.
    void sentence(uint64_t time_us, const char* dir, const std::string& text);
    void shell(uint64_t time_us, const char* dir, const std::string& text);
    void console(uint64_t time_us, const char* dir, const std::string& text);
    // A whole command line the shell executed (received, without its CR).
    void line(uint64_t time_us, const std::string& text);
    void frame(uint64_t time_us, const char* dir, const char* via, uint8_t type, uint8_t sequence,
               std::span<const uint8_t> payload);
    void event(uint64_t time_us, const std::string& what);
    // Bytes received outside any sentence or frame (typed at a device that
    // is not at its plain console, line noise).
    void stray(uint64_t time_us, const std::string& bytes);

  private:
    void write_line(uint64_t time_us, const char* dir, const char* kind, const std::string& fields);
    FILE* file_ = nullptr;
};

// JSON string contents: quotes, backslashes and every byte outside printable
// ASCII escaped as \u00XX.
std::string json_escape(const std::string& text);

} // namespace sim
