// The device shell as the tool meets it: values it must refuse without
// changing anything, and output that never cuts the tool's reply short.
#include <gtest/gtest.h>

#include "bench.h"
#include "sim/shell.h"

namespace {

// A device on the bench, logged in.
struct Shell : Bench {
    explicit Shell(const sim::SimSettings& settings) : Bench(settings) { shell("kestrel\r\r"); }

    uint32_t status() {
        const std::string reply = shell("echo $?\r");
        return static_cast<uint32_t>(std::stoul(reply.substr(reply.find('\n') + 1)));
    }
    // Everything the settings' queries show.
    std::string settings_shown() {
        std::string text;
        for (const char* query : {"cfg a f", "cfg a v", "cfg c t", "cfg g s", "cfg h m", "cfg h o",
                                  "cfg m r", "cfg m w", "cfg n b", "cfg n s"})
            text += shell(std::string(query) + "\r");
        return text;
    }
};

TEST(Shell, RefusedValuesChangeNothing) {
    const struct {
        const char* model;
        uint32_t status;
        std::vector<const char*> lines;
    } rows[] = {{"NC-4100",
                 sim::STATUS_REFUSED,
                 {"cfg n s 1 GP HDT 110 0",   // not a multiple of 25
                  "cfg n s 1 GP HDT 10 0",    // below 25
                  "cfg n s 1 GP HDT 100 125", // offset beyond the interval
                  "cfg n s 10 GN GGA 500 0",  // fixed at 1000
                  "cfg n s 1 gp HDT 100 0",   // talker in lower case
                  "cfg n s 14 GP GSV 1000 0", // talker cannot change
                  "cfg n s 1 GP THS 100 0",   // formatter of another row
                  "cfg n s 99 GP HDT 100 0",  // no such row
                  "cfg g s 105",              // beidou with glonass
                  "cfg g s 2",                // sbas without gps
                  "cfg g s 32",               // qzss without gps
                  "cfg g s 128"}},            // unknown receiver
                {"NC-4100", sim::STATUS_USAGE, {"cfg n s 1 GP HDT x 0"}},
                {"NC-350",
                 sim::STATUS_REFUSED,
                 {"cfg a f 100", "cfg a f -1", "cfg a v 4", "cfg a v 1 18001", "cfg a v 0 100",
                  "cfg m r 18001 0 0", "cfg m w 32001", "cfg n b 9600", "cfg c t 2", "cfg h m 3",
                  "cfg h o 100"}},
                {"NC-350", sim::STATUS_USAGE, {"cfg m r 1 2", "cfg a f ten", "cfg x"}},
                {"NC-350", sim::STATUS_UNSUPPORTED, {"cfg g s"}},
                {"NC-350", sim::STATUS_NOT_FOUND, {"frobnicate"}}};
    for (const auto& row : rows) {
        for (const char* line : row.lines) {
            Shell shell(settings_of(row.model));
            const std::string before = shell.settings_shown();
            shell.shell(std::string(line) + "\r");
            EXPECT_EQ(shell.status(), row.status) << row.model << ": " << line;
            EXPECT_EQ(shell.settings_shown(), before) << row.model << ": " << line;
            EXPECT_FALSE(shell.device().config().factory_pending) << row.model << ": " << line;
        }
    }
}

// "> " inside an output would end the tool's reply there: each reply runs to
// the prompt. And the output is plain text, even with a build tag from an
// uploaded image.
TEST(Shell, EveryOutputIsPlainTextWithoutThePromptMark) {
    const char* const lines[] = {
        "help",    "ver",     "post",    "event",   "hsiron",  "cfg v",   "cfg a v", "cfg c t",
        "cfg g s", "cfg h m", "cfg h o", "cfg m r", "cfg m w", "cfg n b", "cfg n s", "cfg a f",
        "can",     "ffs i",   "ffs l p", "ffs l d", "ffs l 2", "ffs l 1", "ffs l 4", "ffs l 5",
        "ffs l 6", "ffs l 7", "ffs l 8", "ffs l 9", "flog",    "lps",     "n1",      "pool",
        "queue",   "rxs",     "sched",   "spi d",   "spi b",   "stack",   "ublox",   "uptime r",
        "utctime", "uart",    "shell",   "cfg x y", "nothing"};
    for (const std::string model : {"NC-4100", "NC-350", "NC-210"}) {
        sim::SimSettings settings = settings_of(model.c_str());
        settings.identity.application.build_tag = "\x1b[2J\xff";
        Shell shell(settings);
        for (const std::string line : lines) {
            const std::string reply = shell.shell(line + "\r");
            EXPECT_TRUE(reply.starts_with(line + "\r\n") && reply.ends_with("\r\n" + model) &&
                        reply.size() > line.size() + 2 + model.size())
                << reply;
            for (char ch : reply)
                EXPECT_TRUE((ch >= 0x20 && ch <= 0x7E) || ch == '\r' || ch == '\n') << reply;
        }
    }
}

} // namespace
