// What the two campaigns share: their arguments and their summary.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

// argv[1]: how many runs (default 20); argv[2]: the seed (default random).
struct CampaignArgs {
    int runs;
    unsigned seed;
};

inline CampaignArgs campaign_args(int argc, char** argv) {
    return {argc > 1 ? std::atoi(argv[1]) : 20,
            argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : std::random_device{}()};
}

// Prints how often each outcome came; the exit status: 1 when any run failed.
inline int campaign_summary(const std::map<std::string, int>& outcomes, int failed, int runs,
                            const char* noun) {
    std::printf("\ndistribution:\n");
    for (const auto& [what, count] : outcomes)
        std::printf("%4d  %s\n", count, what.c_str());
    std::printf("%d of %d %s failed\n", failed, runs, noun);
    return failed == 0 ? 0 : 1;
}
