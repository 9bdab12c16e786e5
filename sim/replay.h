// A capture of NMEA text played as the device's navigation output, so that the
// tool's analysers meet what real receivers send, malformed lines included.
#pragma once
#include <string>
#include <vector>

namespace sim {

// The lines of a capture as they go on the line: "#" comment lines and empty
// lines dropped, every line ended with CR LF (captures often hold bare LF),
// all other bytes as they stand. false with the reason when the file cannot be
// read or holds no line to play.
bool load_replay(const std::string& path, std::vector<std::string>* lines, std::string* error);

} // namespace sim
