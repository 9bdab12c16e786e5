// Text helpers shared by the shell, the diagnostic commands and the sentences.
#pragma once
#include <string>

namespace sim {

// printf into a string of whatever length the text needs.
__attribute__((format(printf, 1, 2))) std::string format(const char* fmt, ...);

// The text with every byte outside printable ASCII replaced by '?', for
// values that came from outside (build tags) and go into shell output.
std::string printable(const std::string& text);

} // namespace sim
