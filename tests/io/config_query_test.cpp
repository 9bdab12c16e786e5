// The configuration queries against a device played on a pty: each row queues
// the device's replies (the command's, then the one to "echo $?") and checks
// what the query reads and the error shown; a reply that holds no value gives
// the query's error, never a wrong value. The values as the commands print
// them: Commands.EachLineShownAndExecutedAsTheModelTakesIt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
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

// A query's result, then the N values it read (9 where it read none).
template <size_t N, typename Query> std::string outcome(Query query) {
    float values[N];
    std::fill_n(values, N, 9.0f);
    std::string text = std::to_string(query(values));
    for (const float value : values) {
        char number[32];
        std::snprintf(number, sizeof number, " %.2f", value);
        text += number;
    }
    return text;
}

using ConfigQuery = PtyDevice;

struct QueryCase {
    const char* legend;
    std::string replies;
    std::function<std::string(DeviceRecord&)> query; // the outcome as text
    std::string outcome;
    std::string errors = ""; // none
    const char* model = "NC-4100";
    std::string sent = ""; // a part of what the tool sent
};

std::string rotation(DeviceRecord& d) {
    return outcome<3>([&](float* v) { return cfg_get_rotation_offset(d, v, v + 1, v + 2); });
}

std::string autolevel(DeviceRecord& d) {
    return outcome<2>([&](float* v) { return cfg_get_autolevel_offset(d, v, v + 1); });
}

template <int (*query)(DeviceRecord&, float*)> std::string one(DeviceRecord& d) {
    return outcome<1>([&](float* v) { return query(d, v); });
}
const auto vertical = one<cfg_get_vertical_offset>;
const auto filter = one<cfg_get_filter_time>;
const auto heading = one<read_heading>;

// The value, then the source's number and name.
std::string variation(DeviceRecord& d) {
    uint32_t source = 9;
    const char* name = nullptr;
    const std::string text =
        outcome<1>([&](float* v) { return cfg_get_variation(d, &source, v, &name); });
    return text + " " + std::to_string(source) + " " + name;
}

std::string gnss(DeviceRecord& d) {
    const char* names = nullptr;
    cfg_get_gnss_receivers(d, &names);
    return std::string("[") + names + "]";
}

std::string set_rotation(DeviceRecord& d) {
    return std::to_string(cfg_set_rotation_offset(d, 0.125f, -0.125f, 1.5f));
}

const std::string FAILED_ROTATION = "Error: Failed to read rotation offset\n";

} // namespace

TEST_F(ConfigQuery, EachQueryWithWellFormedAndMalformedReplies) {
    const std::string hdg_no_variation = with_checksum("$HEHDG,100.0,2.0,W,,");
    const std::vector<QueryCase> cases = {
        {"R and P without Y", reply("cfg m r", "R -150 P 25\r\n"), rotation, "0 1.50 -0.25 0.00"},
        {"exit status not 0", reply("cfg m r", "R 100\r\n", "1"), rotation, "-14 9.00 9.00 9.00",
         FAILED_ROTATION},
        {"quaternion a little above a quarter turn",
         reply("cfg m r", "Q0 0.72 Q1 0 Q2 0.7 Q3 0\r\n"), autolevel, "0 0.00 90.00", "", "NC-350"},
        {"quaternion without Q3", reply("cfg m r", "Q0 1 Q1 0 Q2 0\r\n"), autolevel,
         "-14 9.00 9.00", FAILED_ROTATION, "NC-350"},
        {"vertical without W", reply("cfg m w", "13\r\n"), vertical, "-14 0.00"},
        {"variation source 5", reply("cfg a v", "5 100\r\n"), variation, "0 0.00 2 ?", "",
         "NC-350"},
        {"variation nan", reply("cfg a v", "1 nan\r\n"), variation, "0 0.00 2 ?", "", "NC-350"},
        {"variation without line end",
         shell_sentences("cfg a v NC> ") + shell_sentences("echo $?\r\n0\r\nNC> "), variation,
         "0 0.00 2 ?", "", "NC-350"},
        {"gnss", reply("cfg g s", "6b\r\n"), gnss, "[GPS SBAS BEIDOU GLONASS ]", "", "NC-210"},
        {"gnss without a number", reply("cfg g s", "\r\n"), gnss, "[]",
         "Error: Failed to select gnss recivers\n", "NC-210"},
        // The filter time is read whatever the exit status, so it has none here.
        {"filter", reply("cfg a f", "25\r\n", ""), filter, "0 2.50"},
        {"filter without number", reply("cfg a f", "no\r\n", ""), filter, "-14 9.00",
         "Error: Failed to get filter time constant\n"},
        {"rotation set, halves rounded away from zero", reply("cfg m r -13 13 -150", ""),
         set_rotation, "0", "", "NC-4100", "$PNCX,SH,cfg m r -13 13 -150^0D*"},
        // The heading from the sentences that carry it.
        {"HDG with deviation and variation", with_checksum("$HEHDG,100.0,2.0,W,3.0,E"), heading,
         "1 101.00"},
        {"HDG without variation, NC-350 with variation off",
         hdg_no_variation + reply("cfg a v", "3 0\r\n"), heading, "0 98.00", "", "NC-350"},
        {"HDG without variation, NC-350 with variation auto",
         hdg_no_variation + reply("cfg a v", "0 340\r\n"), heading, "2 98.00", "", "NC-350"},
        {"THS not valid, HDT nan, then THS",
         with_checksum("$HETHS,10.0,V") + with_checksum("$HEHDT,nan,T") +
             with_checksum("$GPTHS,12.5,A"),
         heading, "1 12.50"},
        {"short sentence, then HDT", with_checksum("$A") + with_checksum("$HEHDT,7.0,T"), heading,
         "1 7.00"},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.legend);
        device.model_name = c.model;
        link_purge(device.link);
        pty.drain_master(0);
        device_sends(c.replies);
        testing::internal::CaptureStderr();
        const std::string outcome = c.query(device);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors);
        EXPECT_EQ(outcome, c.outcome);
        if (!c.sent.empty()) {
            const std::string sent = pty.drain_master(50);
            EXPECT_NE(sent.find(c.sent), std::string::npos) << sent;
        }
    }
}

TEST_F(ConfigQuery, HeadingThatNeverBecomesValidGivesUpAfterAboutThreeSeconds) {
    std::jthread device_side([&](std::stop_token stop) {
        const std::string invalid = with_checksum("$HETHS,10.0,V");
        for (; !stop.stop_requested(); sleep_ms(100))
            (void)!write(pty.master, invalid.data(), invalid.size());
    });
    const uint64_t start = clock_ms();
    EXPECT_EQ(heading(device), "-1 9.00");
    const uint64_t elapsed = clock_ms() - start;
    EXPECT_GT(elapsed, 2900u);
    EXPECT_LT(elapsed, 4500u);
}
