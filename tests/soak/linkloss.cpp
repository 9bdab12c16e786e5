// The link-loss campaign: the device hangs up at a random moment during a
// command of every family at the prompt, and comes back after a while or stays
// away. Every trial must end one of two ways: the tool reconnects and goes on,
// or it ends with "No devices found" and status 0 (also when the device came
// back too late for its search); it never hangs or crashes, and the
// terminal's modes are as they were. With NC_SOAK_WAIT=S the tool runs with
// -w S, and a device that comes back must be connected again every time.
// Prints the distribution; exit status 1 when any trial failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/soak/campaign.h"

namespace {

struct Family {
    const char* name;
    std::string line;
};

// The diagnostic report goes beside the image file.
std::vector<Family> families(const std::string& image) {
    const std::string dir = std::filesystem::path(image).parent_path().string();
    return {{"status", "status\n"},
            {"config query", "roll offset\n"},
            {"config change", "roll offset 1.5\n"},
            {"sentence table", "nmea0183 sentences\n"},
            {"nav", "nav\n"},
            {"mon", "mon\n"},
            {"stat", "stat\n"},
            {"diag", "diag " + dir + "\n"},
            {"upload", "upload " + image + "\n"},
            {"ncterm", "ncterm\n"}};
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

Outcome run_trial(const Family& family, bool comes_back, int delay_ms, const std::string& link) {
    Simulator sim({"--model", "NC-4100", "--baud", "38400", "--link", link});
    if (!sim.running())
        return {"simulator did not start", false};
    const char* wait = std::getenv("NC_SOAK_WAIT");
    std::vector<std::string> args{"-p", link, "-b", "38400"};
    if (wait)
        args.insert(args.end(), {"-w", wait});
    ToolProcess tool(args, {}, "", /*terminal=*/true);
    if (!tool.wait_for_output("nc> ", 20000))
        return {"no prompt", false};
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
    if (std::getenv("NC_SOAK_SHOW"))
        std::fprintf(stderr, "---- %s\n%s\n%s----\n", family.name, run.out.c_str(),
                     run.err.c_str());
    if (run.status < 0)
        return {run.signal ? "ended by signal " + std::to_string(run.signal) : "hung", false};
    if (!tool.terminal_as_before())
        return {"terminal modes changed", false};
    if (run.status != 0)
        return {"exit status " + std::to_string(run.status), false};
    // A device that comes back may still be missed by the one search the tool
    // makes when it notices the loss; then it ends as for one that stays away.
    if (count_of(run.out, "Connected to") >= 2)
        return comes_back ? Outcome{"reconnected", true}
                          : Outcome{"reconnected to a device that stayed away", false};
    if (run.out.find("\nNo devices found") != std::string::npos)
        return {comes_back ? "not waited for" : "no devices", !(comes_back && wait)};
    return {"neither", false};
}

} // namespace

int main(int argc, char** argv) {
    const std::string image = temp_path("image.bin");
    if (!make_image(image, "")) {
        std::fprintf(stderr, "cannot make the image file\n");
        return 1;
    }
    const std::vector<Family> all = families(image);
    const auto trial = [&all](int, std::mt19937& random, const std::string& dir) {
        const Family& family = all[random() % all.size()];
        const bool comes_back = random() % 2 == 0;
        const int delay_ms = static_cast<int>(random() % 3000);
        const char* const fate = comes_back ? "comes back" : "stays away";
        char tried[64];
        std::snprintf(tried, sizeof tried, "%-15s %-11s after %4d ms:", family.name, fate,
                      delay_ms);
        return Run{tried, family.name + std::string(", ") + fate + ": ",
                   run_trial(family, comes_back, delay_ms, dir + "/device")};
    };
    return run_campaign(argc, argv, "link-loss", "trials", trial);
}
