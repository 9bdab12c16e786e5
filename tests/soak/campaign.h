// What the two campaigns share: their arguments, the loop over their runs
// with its summary, and the image files they upload.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "tests/e2e/harness.h"

// How a run ended, and whether that is one of the allowed ends.
struct Outcome {
    std::string what;
    bool good;
};

// A run as it is printed: what was tried, and its group in the distribution
// (the outcome is added to both).
struct Run {
    std::string tried;
    std::string group;
    Outcome outcome;
};

// Writes an image file with nc-mkimage; false when that failed.
inline bool make_image(const std::string& path, const std::string& options) {
    return std::system((std::string(NC_MKIMAGE_PATH) + " -o " + path + options).c_str()) == 0;
}

// argv[1]: how many runs (default 20); argv[2]: the seed (default random).
// run(i, random, dir) makes run i; dir is the campaign's own directory. Prints
// each run as it ends, then how often each outcome came; the exit status: 1
// when any run failed.
inline int run_campaign(int argc, char** argv, const char* name, const char* noun,
                        const std::function<Run(int, std::mt19937&, const std::string&)>& run) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const unsigned seed =
        argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : std::random_device{}();
    std::mt19937 random(seed);
    const std::string dir = temp_path(name);
    std::filesystem::create_directories(dir);
    std::printf("%s campaign: %d %s, seed %u\n", name, runs, noun, seed);
    std::map<std::string, int> outcomes;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const Run done = run(i, random, dir);
        failed += !done.outcome.good;
        ++outcomes[done.group + done.outcome.what];
        std::printf("%3d %s %s%s\n", i + 1, done.tried.c_str(), done.outcome.what.c_str(),
                    done.outcome.good ? "" : "  <-- FAILED");
        std::fflush(stdout);
    }
    std::printf("\ndistribution:\n");
    for (const auto& [what, count] : outcomes)
        std::printf("%4d  %s\n", count, what.c_str());
    std::printf("%d of %d %s failed\n", failed, runs, noun);
    return failed == 0 ? 0 : 1;
}
