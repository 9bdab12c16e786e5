// The configuration queries against a device played on a pty, and the
// catalogue of what a device may answer instead of a clean reply: each row
// queues the device's replies (the command's, then the one to "echo $?") and
// checks the value the query reads and the error the user sees. Never a wrong
// value: a reply that does not hold one gives the query's error. How the
// commands print the values is seen end to end in Commands.Offsets and
// Commands.CompassAndReceivers.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "config/queries.h"
#include "link/transport.h"
#include "pty.h"
#include "tests/nmea_text.h"

namespace {

// The reply to command (echo, output, prompt) and, unless status is empty, the
// reply to the exit-status query that follows it.
std::string reply(const std::string& command, const std::string& output,
                  const std::string& status = "0") {
    std::string text = shell_sentences(command + "\r\n" + output + "NC> ");
    if (!status.empty())
        text += shell_sentences("echo $?\r\n" + status + "\r\nNC> ");
    return text;
}

// A query's result, then the values it read (read once it has returned).
std::string outcome(int result, std::initializer_list<const float*> values) {
    std::string text = std::to_string(result);
    for (const float* value : values) {
        char number[32];
        std::snprintf(number, sizeof number, " %.2f", *value);
        text += number;
    }
    return text;
}

using ConfigQuery = PtyDevice;

struct QueryCase {
    const char* legend;
    const char* model;
    std::string replies;
    std::function<std::string(DeviceRecord&)> query; // the outcome as text
    std::string outcome;
    std::string errors = ""; // none
};

std::string rotation(DeviceRecord& d) {
    float r = 9, p = 9, y = 9;
    return outcome(cfg_get_rotation_offset(d, &r, &p, &y), {&r, &p, &y});
}

std::string autolevel(DeviceRecord& d) {
    float r = 9, p = 9;
    return outcome(cfg_get_autolevel_offset(d, &r, &p), {&r, &p});
}

std::string vertical(DeviceRecord& d) {
    float m = 9;
    return outcome(cfg_get_vertical_offset(d, &m), {&m});
}

std::string variation(DeviceRecord& d) {
    uint32_t source = 9;
    float value = 9;
    const char* name = nullptr;
    const int result = cfg_get_variation(d, &source, &value, &name);
    const float number = static_cast<float>(source);
    return outcome(result, {&number, &value}) + " " + name;
}

std::string gnss(DeviceRecord& d) {
    const char* names = nullptr;
    cfg_get_gnss_receivers(d, &names);
    return std::string("[") + names + "]";
}

std::string filter(DeviceRecord& d) {
    float s = 9;
    return outcome(cfg_get_filter_time(d, &s), {&s});
}

std::string sentences(DeviceRecord& d) {
    std::vector<SentenceEntry> list;
    std::string text = std::to_string(cfg_get_sentences(d, &list));
    for (const SentenceEntry& e : list)
        text += " " + std::to_string(e.id) + e.talker + e.formatter + ":" +
                std::to_string(e.interval) + "/" + std::to_string(e.offset);
    return text;
}

std::string heading(DeviceRecord& d) {
    float h = 9;
    return outcome(read_heading(d, &h), {&h});
}

std::string options_in_47(DeviceRecord& d) {
    char text[64] = {};
    const int result = cfg_format_calibration_options(d, text, 47, true);
    return std::to_string(result) + " [" + text + "]";
}

const std::string FAILED_ROTATION = "Error: Failed to read rotation offset\n";
const std::string FAILED_FILTER = "Error: Failed to get filter time constant\n";

} // namespace

TEST_F(ConfigQuery, EachQueryWithWellFormedAndMalformedReplies) {
    const std::string garbage("\x01\xff\x7f R", 5);
    const std::string hdg_no_variation = with_checksum("$HEHDG,100.0,2.0,W,,");
    const std::vector<QueryCase> cases = {
        {"R and P without Y", "NC-4100", reply("cfg m r", "R -150 P 25\r\n"), rotation,
         "0 1.50 -0.25 0.00"},
        {"letters without digits", "NC-4100", reply("cfg m r", "R P 12x Y\r\n"), rotation,
         "0 0.00 -0.12 0.00"},
        {"binary garbage loses the sentence with the prompt", "NC-4100", reply("cfg m r", garbage),
         rotation, "-14 9.00 9.00 9.00", FAILED_ROTATION},
        {"exit status not 0", "NC-4100", reply("cfg m r", "R 100\r\n", "1"), rotation,
         "-14 9.00 9.00 9.00", FAILED_ROTATION},
        {"no exit status number", "NC-4100", reply("cfg m r", "R 100\r\n", "x"), rotation,
         "-14 9.00 9.00 9.00", FAILED_ROTATION},
        {"quaternion a little above a quarter turn", "NC-350",
         reply("cfg m r", "Q0 0.72 Q1 0 Q2 0.7 Q3 0\r\n"), autolevel, "0 0.00 90.00"},
        {"quaternion without Q3", "NC-350", reply("cfg m r", "Q0 1 Q1 0 Q2 0\r\n"), autolevel,
         "-14 9.00 9.00", FAILED_ROTATION},
        {"quaternion with nan", "NC-350", reply("cfg m r", "Q0 nan Q1 0 Q2 0 Q3 0\r\n"), autolevel,
         "-14 9.00 9.00", FAILED_ROTATION},
        {"vertical without W", "NC-4100", reply("cfg m w", "13\r\n"), vertical, "-14 0.00"},
        {"vertical W inf", "NC-4100", reply("cfg m w", "W inf\r\n"), vertical, "-14 0.00"},
        {"variation source 5", "NC-350", reply("cfg a v", "5 100\r\n"), variation, "0 2.00 0.00 ?"},
        {"variation nan", "NC-350", reply("cfg a v", "1 nan\r\n"), variation, "0 2.00 0.00 ?"},
        {"variation without line end", "NC-350",
         shell_sentences("cfg a v NC> ") + shell_sentences("echo $?\r\n0\r\nNC> "), variation,
         "0 2.00 0.00 ?"},
        {"gnss", "NC-210", reply("cfg g s", "6b\r\n"), gnss, "[GPS SBAS BEIDOU GLONASS ]"},
        {"gnss without a number", "NC-210", reply("cfg g s", "\r\n"), gnss, "[]",
         "Error: Failed to select gnss recivers\n"},
        // Device text is never taken as a format.
        {"gnss with format directives", "NC-210", reply("cfg g s", "%s%n\r\n"), gnss, "[]",
         "Error: Failed to select gnss recivers\n"},
        // The filter time is read whatever the exit status, so it has none here.
        {"filter", "NC-4100", reply("cfg a f", "25\r\n", ""), filter, "0 2.50"},
        {"filter without number", "NC-4100", reply("cfg a f", "no\r\n", ""), filter, "-14 9.00",
         FAILED_FILTER},
        {"filter without its prompt", "NC-4100", shell_sentences("cfg a f\r\n25\r\n"), filter,
         "-14 9.00", FAILED_FILTER},
        {"filter in a sentence with a wrong checksum", "NC-4100",
         "$PNCX,SH,cfg a f^0D^0A25^0D^0ANC> *00\r\n", filter, "-14 9.00", FAILED_FILTER},
        {"filter with a NUL byte inside the value", "NC-4100",
         reply("cfg a f", std::string("2") + '\0' + "5\r\n", ""), filter, "-14 9.00",
         FAILED_FILTER},
        {"filter past the 10240 bytes of a reply", "NC-4100",
         reply("cfg a f", std::string(11000, 'x') + "\r\n25\r\n", ""), filter, "-14 9.00",
         FAILED_FILTER},
        {"sentence table cut short", "NC-4100",
         reply("cfg n s", "1 HE HDT 100 0\r\n2 -- at\r\n3 HE THS 100 0\r\n"), sentences,
         "0 1HEHDT:100/0"},
        {"options capacity 47", "NC-4100", reply("cfg h o", "6\r\n"), options_in_47, "-22 []"},
        // The heading from the sentences that carry it.
        {"HDG with deviation and variation", "NC-4100", with_checksum("$HEHDG,100.0,2.0,W,3.0,E"),
         heading, "1 101.00"},
        {"HDG without variation, NC-350 with variation off", "NC-350",
         hdg_no_variation + reply("cfg a v", "3 0\r\n"), heading, "0 98.00"},
        {"HDG without variation, NC-350 with variation auto", "NC-350",
         hdg_no_variation + reply("cfg a v", "0 340\r\n"), heading, "2 98.00"},
        {"HDG whose heading is nan", "NC-4100", with_checksum("$HEHDG,nan,2.0,W,3.0,E"), heading,
         "-1 9.00"},
        {"HDG whose deviation is inf counts none", "NC-4100",
         with_checksum("$HEHDG,100.0,inf,W,3.0,W"), heading, "1 97.00"},
        {"THS not valid, HDT nan, then THS", "NC-4100",
         with_checksum("$HETHS,10.0,V") + with_checksum("$HEHDT,nan,T") +
             with_checksum("$GPTHS,12.5,A"),
         heading, "1 12.50"},
        {"short sentence, then HDT", "NC-4100", with_checksum("$A") + with_checksum("$HEHDT,7.0,T"),
         heading, "1 7.00"},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.legend);
        device.model_name = c.model;
        link_purge(device.link);
        pty.drain_master(0);
        // Sent meanwhile: more than a pty holds would block a write made beforehand.
        std::thread device_side([&] { device_sends(c.replies); });
        testing::internal::CaptureStderr();
        const std::string outcome = c.query(device);
        device_side.join();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors);
        EXPECT_EQ(outcome, c.outcome);
    }
}

TEST_F(ConfigQuery, SetRotationOffsetRoundsHalvesAwayFromZero) {
    device_sends(reply("cfg m r -13 13 -150", ""));
    EXPECT_EQ(cfg_set_rotation_offset(device, 0.125f, -0.125f, 1.5f), 0);
    const std::string sent = pty.drain_master(50);
    EXPECT_NE(sent.find("$PNCX,SH,cfg m r -13 13 -150^0D*"), std::string::npos) << sent;
}

TEST_F(ConfigQuery, HeadingThatNeverBecomesValidGivesUpAfterAboutThreeSeconds) {
    std::jthread device_side([&](std::stop_token stop) {
        const std::string invalid = with_checksum("$HETHS,10.0,V");
        for (; !stop.stop_requested(); sleep_ms(100))
            (void)!write(pty.master, invalid.data(), invalid.size());
    });
    float heading = 0;
    const uint64_t start = clock_ms();
    EXPECT_EQ(read_heading(device, &heading), -1);
    const uint64_t elapsed = clock_ms() - start;
    EXPECT_GT(elapsed, 2900u);
    EXPECT_LT(elapsed, 4500u);
}
