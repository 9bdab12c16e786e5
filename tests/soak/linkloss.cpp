// The link-loss campaign: the device hangs up at a random moment during a
// command of every family at the prompt, and comes back after a while or stays
// away. Every trial must end one of two ways: the tool reconnects and goes on,
// or it ends with "No devices found" and status 0 (also when the device came
// back too late for its search); it never hangs or crashes, and the
// terminal's modes are as they were. Prints the distribution; exit status 1
// when any trial failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/soak/campaign.h"

namespace {

struct Family {
    const char* name;
    std::string line;
};

std::vector<Family> families(const std::string& diag_dir) {
    return {{"status", "status\n"},
            {"config query", "roll offset\n"},
            {"config change", "roll offset 1.5\n"},
            {"sentence table", "nmea0183 sentences\n"},
            {"nav", "nav\n"},
            {"mon", "mon\n"},
            {"stat", "stat\n"},
            {"diag", "diag " + diag_dir + "\n"},
            {"upload", "upload " + diag_dir + "/image.bin\n"},
            {"ncterm", "ncterm\n"}};
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Trial {
    std::string family;
    bool comes_back;
    std::string outcome; // "reconnected", "no devices", or what went wrong
};

Trial run_trial(const Family& family, bool comes_back, int delay_ms, const std::string& link) {
    Trial trial{family.name, comes_back, ""};
    Simulator sim({"--model", "NC-4100", "--baud", "38400", "--link", link});
    if (!sim.running())
        return {family.name, comes_back, "simulator did not start"};
    ToolProcess tool({"-p", link, "-b", "38400"}, {}, "", /*terminal=*/true);
    if (!tool.wait_for_output("nc> ", 20000))
        return {family.name, comes_back, "no prompt"};
    tool.send(family.line);
    pause_ms(delay_ms);
    sim.control(comes_back ? "hangup 1500" : "hangup");
    // Whatever the command made of it (a read on the lost line ends nav, mon and
    // stat), the prompt must work on, or the tool end.
    pause_ms(8000);
    tool.send("status\n");
    pause_ms(3000);
    tool.send("quit\n");
    const ToolRun run = tool.finish(90);
    if (run.status < 0)
        return {family.name, comes_back, run.signal ? "ended by signal " + std::to_string(run.signal)
                                                    : "hung"};
    if (!tool.terminal_as_before())
        return {family.name, comes_back, "terminal modes changed"};
    const bool reconnected = count_of(run.out, "Connected to") >= 2;
    const bool gone = run.out.find("\nNo devices found") != std::string::npos;
    // A device that comes back may still be missed by the one search the tool
    // makes when it notices the loss; then it ends as for one that stays away.
    if (run.status != 0)
        trial.outcome = "exit status " + std::to_string(run.status);
    else if (reconnected && !comes_back)
        trial.outcome = "reconnected to a device that stayed away";
    else if (reconnected)
        trial.outcome = "reconnected";
    else if (gone)
        trial.outcome = "no devices";
    else
        trial.outcome = "neither";
    if (std::getenv("NC_SOAK_SHOW"))
        std::fprintf(stderr, "---- %s\n%s\n%s----\n", family.name, run.out.c_str(), run.err.c_str());
    return trial;
}

} // namespace

int main(int argc, char** argv) {
    const auto [trials, seed] = campaign_args(argc, argv);
    std::mt19937 random(seed);
    const std::string dir = temp_path("linkloss");
    std::filesystem::create_directories(dir);
    const std::string image = std::string(NC_MKIMAGE_PATH) + " -o " + dir + "/image.bin";
    if (std::system(image.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the image file\n");
        return 1;
    }
    const std::vector<Family> all = families(dir);
    std::map<std::string, int> outcomes;
    int failed = 0;
    std::printf("link-loss campaign: %d trials, seed %u\n", trials, seed);
    for (int i = 0; i < trials; ++i) {
        const Family& family = all[random() % all.size()];
        const bool comes_back = random() % 2 == 0;
        const int delay_ms = static_cast<int>(random() % 3000);
        const Trial trial = run_trial(family, comes_back, delay_ms, dir + "/device");
        const bool good = trial.outcome == "reconnected" || trial.outcome == "no devices";
        failed += !good;
        ++outcomes[trial.family + (comes_back ? ", comes back: " : ", stays away: ") + trial.outcome];
        std::printf("%3d %-15s %-11s after %4d ms: %s%s\n", i + 1, trial.family.c_str(),
                    comes_back ? "comes back" : "stays away", delay_ms, trial.outcome.c_str(),
                    good ? "" : "  <-- FAILED");
        std::fflush(stdout);
    }
    return campaign_summary(outcomes, failed, trials, "trials");
}
