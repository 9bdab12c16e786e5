// A unit's settings in a file: lines of the tool's own setting commands after
// '#' comment lines, one of which names the model ("# model: NC-4100").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t SETTINGS_LINE_MAX = 255;      // as at the prompt
constexpr uint32_t SETTINGS_FILE_MAX = 64 * 1024; // far beyond any unit's settings

// One command line of the file with its line number (from 1).
struct SettingsLine {
    uint32_t number = 0;
    std::string text;
};

struct SettingsFile {
    std::string model; // empty when no "# model:" line was found
    std::string saved; // the "# saved:" line's text, for the technician
    std::vector<SettingsLine> lines;
};

// Reads and splits a settings file. On failure returns false with a message
// ("Error: ..." with the line number where one applies) in error. Refused:
// a missing or unreadable file, a folder, a file too large, bytes that are not
// text, a line over SETTINGS_LINE_MAX characters.
bool read_settings_file(const std::string& path, SettingsFile* file, std::string* error);

// The text of a file, checked and split as read_settings_file does.
bool parse_settings_text(const std::string& text, SettingsFile* file, std::string* error);
