// The diagnostic commands of the device shell (file system, logs, tasks,
// buses, receivers): fixed inventories with a few live values.
#pragma once
#include <string>
#include <vector>

#include "sim/shell.h"

namespace sim {

// Runs a diagnostic command; false when words[0] is not one.
bool diag_command(ShellContext& context, const std::vector<std::string>& words,
                  CommandResult* result);
std::vector<std::string> diag_command_names();

} // namespace sim
