// Whole files read and written for the tool's own formats (settings files,
// pictures, logs): refused cleanly when they cannot be, never left half written.
#pragma once
#include <cstdint>
#include <string>

// Reads a file of at most max_bytes into text. On failure false, with error
// "Error: ..." naming the path: a folder ("... is a folder, not <what>"), a
// file too large ("... is too large for <what>"), or one that cannot be read.
bool read_file_whole(const std::string& path, uintmax_t max_bytes, const char* what,
                     std::string* text, std::string* error);

// Writes text to path through a temporary file beside it, renamed at the end,
// so that a failure never leaves a partial file. false with error set.
bool write_file_whole(const std::string& path, const std::string& text, std::string* error);
