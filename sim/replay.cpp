#include "sim/replay.h"

#include <fstream>

namespace sim {

bool load_replay(const std::string& path, std::vector<std::string>* lines, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    lines->clear();
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        lines->push_back(line + "\r\n");
    }
    if (lines->empty()) {
        *error = path + " holds no line to replay";
        return false;
    }
    return true;
}

} // namespace sim
