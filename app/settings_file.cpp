#include "app/settings_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

std::string line_error(uint32_t number, const char* what) {
    return "Error: line " + std::to_string(number) + ": " + what;
}

// Text is printable ASCII or UTF-8, with tabs and line ends; anything else
// (a NUL, an escape, a stray control byte) is not a settings file.
bool is_text_byte(unsigned char byte) {
    return (byte >= 0x20 && byte != 0x7f) || byte == '\t' || byte == '\r';
}

// "# key: value" comment lines that the tool itself reads back.
void take_header(const std::string& line, SettingsFile* file) {
    const auto value_of = [&line](const char* key) -> const char* {
        const std::string start = std::string("# ") + key + ": ";
        return line.rfind(start, 0) == 0 ? line.c_str() + start.size() : nullptr;
    };
    if (const char* model = value_of("model"))
        file->model = model;
    else if (const char* saved = value_of("saved"))
        file->saved = saved;
}

bool blank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

} // namespace

bool parse_settings_text(const std::string& text, SettingsFile* file, std::string* error) {
    *file = SettingsFile{};
    uint32_t number = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        for (char ch : line) {
            if (!is_text_byte(static_cast<unsigned char>(ch))) {
                *error = line_error(number, "not text (a settings file holds command lines)");
                return false;
            }
        }
        if (line.size() > SETTINGS_LINE_MAX) {
            *error = line_error(number, "longer than 255 characters");
            return false;
        }
        if (!line.empty() && line[0] == '#')
            take_header(line, file);
        else if (!blank(line))
            file->lines.push_back({number, line});
    }
    return true;
}

bool read_settings_file(const std::string& path, SettingsFile* file, std::string* error) {
    std::error_code failed;
    if (std::filesystem::is_directory(path, failed)) {
        *error = "Error: " + path + " is a folder, not a settings file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "Error: cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text(SETTINGS_FILE_MAX + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        *error = "Error: cannot read " + path;
        return false;
    }
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > SETTINGS_FILE_MAX) {
        *error = "Error: " + path + " is too large for a settings file";
        return false;
    }
    return parse_settings_text(text, file, error);
}

bool write_file_whole(const std::string& path, const std::string& text, std::string* error) {
    const std::string temporary = path + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        *error = "Error: cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                         std::fflush(out) == 0;
    const int write_errno = errno;
    const bool closed = std::fclose(out) == 0;
    std::error_code failed;
    if (written && closed)
        std::filesystem::rename(temporary, path, failed);
    if (!written || !closed || failed) {
        *error = "Error: cannot write " + path + ": " +
                 (failed ? failed.message() : std::string(std::strerror(write_errno ? write_errno : EIO)));
        std::filesystem::remove(temporary, failed);
        return false;
    }
    return true;
}
