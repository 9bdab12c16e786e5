#include "app/settings_file.h"

#include "base/files.h"
#include "base/text.h"

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
    for (const std::string& line : text_lines(text)) {
        ++number;
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
    std::string text;
    return read_file_whole(path, SETTINGS_FILE_MAX, "a settings file", &text, error) &&
           parse_settings_text(text, file, error);
}
