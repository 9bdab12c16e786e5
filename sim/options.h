// Command-line options of nc-sim.
#pragma once
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

struct SimOptions {
    SimSettings settings;
    std::string link_path;
    std::string record_path;
    std::vector<std::string> fault_lines; // applied as control lines at start
    std::string replay_error; // why --replay failed
    int verbosity = 0;
    bool help = false;
};

// Parses argv. false with the reason in *error.
bool parse_options(int argc, char** argv, SimOptions* options, std::string* error);
std::string usage_text();

} // namespace sim
