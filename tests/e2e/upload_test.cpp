// Firmware upload against simulated devices: the command's words, the checks
// of the file, the frames on the wire at their rates, the retries after
// injected faults, and what the device runs afterwards.
#include <csignal>

#include "expect.h"

namespace {

// The frames of one type the device received, as "via:payload" (hex).
std::vector<std::string> received(const std::string& record, int type) {
    std::vector<std::string> frames;
    for (const auto& match : all_matches(record, R"re("dir":"rx","kind":"frame","via":"(\w+)","type":)re" +
                                                     std::to_string(type) +
                                                     R"re(,"seq":\d+,"payload":"([0-9a-f]*)")re"))
        frames.push_back(match[1] + ":" + match[2]);
    return frames;
}

} // namespace

// The whole path: image in three segments at the transfer rate, the new
// software checked, the data block in sentences of at most 34 frame bytes,
// and the device restarted with it.
TEST(Upload, ImageAndDataBlockReachTheDeviceAndItRunsThem) {
    START_SIMULATOR(sim, {"--model", "NC-350", "--reboot-time", "300"});
    const std::string file = make_image({"--data-size", "0x10:200"});

    const ToolRun run = run_tool({"-v", "-p", sim.port(), "upload", "-b", "38400", file});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(holds(run.out, "Load begin baud 38400 addr 0x8010000 size 385\n"
                               "Loading application\n...\n"));
    EXPECT_TRUE(holds(run.out, "Loading application data\n"
                               "Appd begin baud 4800 id 0x0010 size 200\n..\n"));
    EXPECT_TRUE(holds(run.out, "Device successfully updated to 1.07 Release\n"));
    EXPECT_EQ(count_of(run.out, "Connected to NC-350"), 3u); // start, new image, new data

    const std::string record = sim.record();
    std::vector<size_t> segments; // payload bytes of each segment frame
    for (const std::string& frame : received(record, 0x15))
        segments.push_back((frame.size() - frame.find(':') - 1) / 2);
    EXPECT_EQ(segments, (std::vector<size_t>{192, 192, 1, 192, 8}));
    const std::vector<std::string> runs = received(record, 0x12);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0], "sentence:4c1d0346"); // the bootloader, 70-204108
    EXPECT_EQ(runs[1], "raw:00000000");
    EXPECT_EQ(runs[2], "sentence:00000000");
    // Image segments go raw at the transfer rate, which the device took up
    // after its load begin answer and left after the last segment.
    const size_t fast = record.find("line rate 38400");
    const size_t slow = record.find("line rate 4800");
    ASSERT_NE(fast, std::string::npos);
    EXPECT_LT(record.find(R"("via":"raw","type":21)"), slow);
    EXPECT_GT(record.find(R"("via":"raw","type":21)"), fast);
    EXPECT_FALSE(holds(record, "line noise"));
    // The 200-byte segment frame of the data block: five sentences of 34
    // bytes and one of 30.
    std::vector<size_t> digits;
    for (const auto& match : all_matches(record, R"(\$PNCX,0,([0-9A-F]*)\*)"))
        digits.push_back(match[1].size());
    EXPECT_EQ(std::count(digits.begin(), digits.end(), 68u), 5);
    EXPECT_EQ(std::count(digits.begin(), digits.end(), 60u), 1);
    EXPECT_EQ(std::count_if(digits.begin(), digits.end(), [](size_t n) { return n > 68; }), 0);
    EXPECT_TRUE(holds(record, "data block 0x0010 stored, 200 bytes"));
}

// At the prompt: a damaged file, one for another product or below the
// device's minimum version; no frame reaches the device before the checks
// pass, and the prompt goes on. Then -f sends the other product's image, and
// Ctrl-C during its transfer ends the upload at once and the program through
// its closing steps; no attempt follows. The command's words: UploadWords;
// files that cannot be read: BadFilePaths.
TEST(Upload, FileChecksStopBeforeAnyFrameAndCtrlCEndsTheTransfer) {
    START_SIMULATOR(sim, {"--model", "NC-350", "--min-version", "1.06"});
    // About 70 s at 4800 baud.
    const std::string foreign =
        make_image({"--model", "NC-210", "--sw-part", "73-204107", "--code-size", "40000"});
    const std::string old = make_image({"--sw-version", "1.05"});
    const std::string damaged = make_image({"--bad-span-crc"});
    START_AT_PROMPT(tool, {"-p", sim.port()});
    const size_t frames_at_prompt = count_of(sim.record(), R"("kind":"frame")");
    tool.send("upload " + damaged + "\nupload " + foreign + "\nupload " + old + "\nabout\n");
    ASSERT_TRUE(tool.wait_for_output("NC_Service Tool, version", 30000));
    EXPECT_EQ(count_of(sim.record(), R"("kind":"frame")"), frames_at_prompt);
    tool.send("upload -f " + foreign + "\n");
    ASSERT_TRUE(sim.wait_for_record(R"("via":"raw","type":21)", 20000, 3));
    tool.signal(SIGINT);
    const auto interrupted = std::chrono::steady_clock::now();
    const ToolRun run = tool.finish(60);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count(),
              3.0);
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_EQ(run.err, "File parse error\n"
                       "Upload failed (-2)\n"
                       "File is for another product\n"
                       "Upload failed (-9)\n"
                       "Device requires minimum SW version v1.06Upload failed (-9)\n"
                       "Upload failed (-4)\n");
    EXPECT_EQ(received(sim.record(), 0x13).size(), 1u);
}

// Faults in one-shot uploads, a row each: the messages, and how many
// attempts (load begin frames) and runs (run frames) the device received.
// Giving up after four attempts: FailureAtTheTransferRate*.
TEST(Upload, FaultsEndTheAttemptsTheyShould) {
    struct Attempts {
        const char* legend;
        std::vector<std::string> sim, image, options;
        const char* baud;
        std::vector<std::string> out;
        const char* err;
        size_t begins, runs; // runs 0: not counted
    };
    const Attempts rows[] = {
        // In its bootloader, found by an active search: no application to
        // leave, the image runs afterwards, and without data blocks no second
        // restart. A load end answer too short for its CRC fails the first try.
        {"rescue mode, short load end answer",
         {"--rescue", "--fault", "short-answer end"}, {}, {"-v", "-a"}, "38400",
         {"Device in rescue-mode (ready for software upload)", "Load end transaction error: -11\n",
          "Device successfully updated to 1.07 Release\n"},
         "", 2, 3},
        // Each ends its attempt (the first two at the transfer rate), never
        // read from an earlier answer's bytes; the fourth and last succeeds.
        {"short, lost segment answers and a wrong CRC",
         {"--fault", "short-answer segment", "--fault", "skip-segment 2", "--fault", "bad-crc 1"}, {},
         {"-v"}, "115200",
         {"Load segment transaction error: -11\nUpload failure (2)\n",
          "Device successfully updated to 1.07 Release\n"},
         "Upload CRC failed\n", 4, 0},
        // Runs the image but reports other software: never "updated", not retried.
        {"image without identity", {}, {"--no-identity-block"}, {}, "38400", {},
         "Upload failed for unknown reason\nUpload failed (-19)\n", 1, 0},
    };
    check_at_once(rows, [](const Attempts& row) {
        SCOPED_TRACE(row.legend);
        START_SIMULATOR(sim, concat({"--model", "NC-350", "--reboot-time", "300"}, row.sim));
        const ToolRun run = run_tool(concat(row.options, {"-p", sim.port(), "upload", "-b",
                                                          row.baud, make_image(row.image)}),
                                     "", {}, 120);
        EXPECT_EQ(run.err, row.err);
        for (const std::string& part : row.out)
            EXPECT_TRUE(holds(run.out, part));
        if (row.out.empty()) {
            EXPECT_FALSE(holds(run.out, "successfully"));
        }
        const std::string record = sim.record();
        EXPECT_EQ(received(record, 0x13).size(), row.begins);
        if (row.runs) {
            EXPECT_EQ(received(record, 0x12).size(), row.runs);
        }
    });
}

// Every attempt loses a segment answer at the transfer rate; the last one is
// not followed by a reconnect, yet the port is back at the link's rate: the
// next upload starts without a single character of line noise.
TEST(Upload, FailureAtTheTransferRateLeavesThePortAtTheLinkRate) {
    START_SIMULATOR(sim, {"--model", "NC-350", "--reboot-time", "300", "--fault", "skip-segment 2 4"});
    const std::string file = make_image();
    START_AT_PROMPT(tool, {"-p", sim.port()});
    tool.send("upload -b 115200 " + file + "\n");
    ASSERT_TRUE(tool.wait_for_output("nc> ", 100000, 2));
    EXPECT_EQ(received(sim.record(), 0x13).size(), 4u);
    // The device gives up each fast transfer after three seconds.
    ASSERT_TRUE(sim.wait_for_record("transfer abandoned", 5000, 4));
    const size_t before = sim.record().size();
    tool.send("upload -b 115200 " + file + "\nquit\n");
    const ToolRun run = tool.finish(90);
    EXPECT_TRUE(holds(run.err, "Upload failed (-11)\n"));
    EXPECT_TRUE(holds(run.out, "Device successfully updated to 1.07 Release\n"));
    const std::string after = sim.record().substr(before);
    EXPECT_FALSE(holds(after, "line noise"));
    EXPECT_EQ(received(after, 0x13).size(), 1u);
}

// A device that does not come back after an upload: the command reports the
// lost device, so the loop looks for it once more and ends, instead of
// running the next command on a closed link. Both the reconnect after the
// new image (then retried) and the one after the data blocks (whose result
// does not change the outcome of the upload) are covered.
TEST(Upload, DeviceLostAfterTheUploadEndsTheSession) {
    struct Unplug {
        const char* legend;
        size_t restarts; // unplugged at this restart of the device
        const char* expected_err;
        const char* expected_out;
    };
    const Unplug cases[] = {
        {"lost after the new image", 1, "Upload failed (-32)\n", "Loading application\n"},
        {"lost after the data blocks", 2, "", "Device successfully updated to 1.07 Release\n"},
    };
    check_at_once(cases, [](const Unplug& c) {
        SCOPED_TRACE(c.legend);
        const std::string link = temp_path("port");
        START_SIMULATOR(sim, {"--model", "NC-350", "--reboot-time", "300", "--link", link});
        const std::string file = make_image({"--data-size", "0x10:20"});
        START_AT_PROMPT(tool, {"-p", link});
        tool.send("upload -b 38400 " + file + "\nabout\n");
        tool.close_input();
        ASSERT_TRUE(sim.wait_for_record("rebooting", 30000, c.restarts));
        sim.control("hangup");
        const ToolRun run = tool.finish(90);
        EXPECT_EQ(run.err, c.expected_err);
        EXPECT_TRUE(holds(run.out, c.expected_out));
        EXPECT_TRUE(holds(run.out, "\nNo devices found\n"));
        EXPECT_FALSE(holds(run.out, "NC_Service Tool, version"));
        EXPECT_EQ(run.status, 0);
    });
}
