// Tab completion at the prompt: command names and the keywords the connected
// model takes, and file paths where a command wants one.
#pragma once
#include <string>
#include <vector>

#include "base/console.h"
#include "link/device.h"

// What may follow words_before on a device of this model (nullptr: unknown).
CompletionCandidates prompt_candidates(const char* model, const std::vector<std::string>& words_before);

// From now on Tab at the prompt completes for this device.
void start_prompt_completion(const DeviceRecord& device);
