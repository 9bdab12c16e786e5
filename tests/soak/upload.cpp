// The upload campaign: uploads against nc-sim, each with one random fault
// (wrong load-end CRCs, unanswered segments, short answers, line noise, a
// hang-up at a random moment, a start that never comes back). Every run must
// end in one of two ways: the success message with the device running the
// file's software; or "Upload failed (...)" (or the device lost) with the
// device left where a following clean upload succeeds. Prints the
// distribution; exit status 1 when any run ended otherwise.
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "tests/soak/campaign.h"

namespace {

constexpr int UPLOAD_WAIT_MS = 240000;

struct Fault {
    std::string kind;    // its group in the distribution
    std::string times;   // how often it comes, when it is counted
    std::string control; // empty: a hang-up at a random moment
};

Fault random_fault(std::mt19937& random) {
    const std::string k = std::to_string(1 + random() % 5);
    const char* const answers[] = {"begin", "segment", "end"};
    switch (random() % 6) {
    case 0: return {"load-end CRC wrong", k + "x", "bad-crc " + k};
    case 1: {
        const std::string segment = std::to_string(1 + random() % 22);
        return {"segment unanswered", k + "x", "skip-segment " + segment + " " + k};
    }
    case 2: {
        const std::string which = answers[random() % 3];
        return {"short " + which + " answer", k + "x", "short-answer " + which + " " + k};
    }
    case 3: return {"line noise", "", "noise 0.05"};
    case 4: return {"hang-up", "", ""};
    default: return {"never starts again", "", "stay-down on"};
    }
}

// Waits for the upload's end: the success message, its failure, or the
// device lost for good.
bool upload_ended(ToolProcess& tool) {
    return tool.wait_until(
        [&tool](const std::string& out) {
            return out.find("Device successfully updated") != std::string::npos ||
                   out.find("\nNo devices found") != std::string::npos ||
                   tool.err().find("Upload failed") != std::string::npos;
        },
        UPLOAD_WAIT_MS);
}

// The software the device reports now is the image's: its build number.
bool runs_build(ToolProcess& tool, int build) {
    const std::string version =
        "Software version: 1.06 Developer (rel-" + std::to_string(build) + " ";
    const size_t before = count_of(tool.out(), "Software version:");
    tool.send("ver\n");
    if (!tool.wait_for_output("Software version:", 15000, before + 1))
        return false;
    return tool.wait_for_output(version, 2000);
}

Outcome run_one(const Fault& fault, const std::string& image, int build, std::mt19937& random,
                const std::string& link) {
    Simulator sim({"--model", "NC-4100", "--baud", "4800", "--link", link, "--reboot-time", "500"});
    if (!sim.running())
        return {"simulator did not start", false};
    auto tool =
        std::make_unique<ToolProcess>(std::vector<std::string>{"-a", "-p", link, "-b", "4800"});
    if (!tool->wait_for_output("nc> ", 20000))
        return {"no prompt", false};
    std::thread hang_up;
    if (fault.control.empty()) {
        const int delay = 500 + static_cast<int>(random() % 4000);
        hang_up = std::thread([&sim, delay] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            sim.control("hangup 1000");
        });
    } else {
        sim.control(fault.control);
    }
    tool->send("upload -b 115200 " + image + "\n");
    const bool ended = upload_ended(*tool);
    if (hang_up.joinable())
        hang_up.join();
    if (!ended)
        return {"no outcome within the time-outs", false};
    const std::string out = tool->out();
    const bool success = out.find("Device successfully updated to 1.06") != std::string::npos &&
                         tool->err().find("Upload failed") == std::string::npos;
    if (success)
        return runs_build(*tool, build) ? Outcome{"updated", true}
                                        : Outcome{"success message, other software", false};
    // Failed: a clean upload must now succeed, from where the device was left.
    sim.control("clear");
    sim.control("wake");
    if (out.find("\nNo devices found") != std::string::npos ||
        !tool->wait_for_output("nc> ", 30000, count_of(out, "nc> ") + 1)) {
        tool->finish(30);
        tool =
            std::make_unique<ToolProcess>(std::vector<std::string>{"-a", "-p", link, "-b", "4800"});
        if (!tool->wait_for_output("nc> ", 30000))
            return {"failed, then the device was not found again", false};
    }
    tool->send("upload -b 115200 " + image + "\n");
    const size_t before = count_of(tool->out(), "Device successfully updated");
    if (!tool->wait_for_output("Device successfully updated to 1.06", UPLOAD_WAIT_MS, before + 1))
        return {"failed, and the clean upload after it failed too", false};
    return runs_build(*tool, build) ? Outcome{"failed, clean upload then succeeded", true}
                                    : Outcome{"failed, clean upload ran other software", false};
}

// Upload i: a fresh image file, a random fault.
Run upload_run(int i, std::mt19937& random, const std::string& dir) {
    const int build = 100 + i;
    const std::string image = dir + "/image-" + std::to_string(i) + ".nci";
    const bool made = make_image(image, " --sw-build " + std::to_string(build) +
                                            " --sw-release developer --code-size 4096");
    const Fault fault = random_fault(random);
    char tried[64];
    std::snprintf(tried, sizeof tried, "%-26s", (fault.kind + " " + fault.times).c_str());
    if (!made)
        return {tried, fault.kind + ": ", {"cannot make the image file", false}};
    return {tried, fault.kind + ": ", run_one(fault, image, build, random, dir + "/device")};
}

} // namespace

int main(int argc, char** argv) {
    return run_campaign(argc, argv, "upload", "runs", upload_run);
}
