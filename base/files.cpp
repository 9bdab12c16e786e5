#include "base/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

bool read_file_whole(const std::string& path, uintmax_t max_bytes, const char* what,
                     std::string* text, std::string* error) {
    std::error_code failed;
    if (std::filesystem::is_directory(path, failed)) {
        *error = "Error: " + path + " is a folder, not " + what;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "Error: cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    text->clear();
    char chunk[64 * 1024];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text->append(chunk, static_cast<size_t>(in.gcount()));
        if (text->size() > max_bytes) {
            *error = "Error: " + path + " is too large for " + what;
            return false;
        }
    }
    if (in.bad()) {
        *error = "Error: cannot read " + path;
        return false;
    }
    return true;
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
