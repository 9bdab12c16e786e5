// The device shell as the tool reads it: reply formats, refused values,
// factory defaults and the session around the commands.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

#include "bench.h"
#include "link/device.h"
#include "sim/diag.h"
#include "sim/shell.h"

namespace {

// A device's shell state without the line.
class ShellTest : public ::testing::Test {
  protected:
    void use_model(const char* model) {
        settings_ = settings_of(model);
        profile_ = settings_.profile;
        identity_ = settings_.identity;
        config_ = sim::factory_config(profile_);
    }
    void SetUp() override { use_model("NC-4100"); }

    sim::CommandResult run(const std::string& line) {
        sim::ShellContext c;
        c.profile = &profile_;
        c.identity = &identity_;
        c.config = &config_;
        c.calibration = &calibration_;
        c.counters = &counters_;
        c.level_roll = 1.25;
        c.level_pitch = -0.5;
        c.line_baud = 38400;
        return sim::run_command(c, line, 0);
    }
    // The text after the echo's line end, as the tool's queries read it.
    std::string value_of(const std::string& line) { return run(line).output; }

    sim::SimSettings settings_;
    sim::ModelProfile profile_ = sim::profile_for_part_number(0);
    sim::DeviceIdentity identity_;
    sim::DeviceConfig config_;
    sim::Calibration calibration_;
    sim::LinkCounters counters_;
};

// "R" then "P" then "Y", each followed by a signed integer, anywhere in the text.
void read_rpy(const std::string& text, long* r, long* p, long* y) {
    const char* at = std::strchr(text.c_str(), 'R');
    ASSERT_NE(at, nullptr);
    *r = std::strtol(at + 1, nullptr, 10);
    at = std::strchr(at, 'P');
    ASSERT_NE(at, nullptr);
    *p = std::strtol(at + 1, nullptr, 10);
    at = std::strchr(at, 'Y');
    ASSERT_NE(at, nullptr);
    *y = std::strtol(at + 1, nullptr, 10);
}

double read_key(const std::string& text, const char* key) {
    const size_t at = text.find(key);
    EXPECT_NE(at, std::string::npos) << key;
    float value = NAN;
    EXPECT_EQ(std::sscanf(text.c_str() + at + std::strlen(key), "%f", &value), 1) << key;
    return value;
}

TEST_F(ShellTest, RotationOffsetsReadAsTheToolReadsThem) {
    EXPECT_EQ(run("cfg m r -150 25 900").status, sim::STATUS_OK);
    long r = 0, p = 0, y = 0;
    read_rpy("cfg m r\r\n" + value_of("cfg m r"), &r, &p, &y);
    EXPECT_EQ(r, -150);
    EXPECT_EQ(p, 25);
    EXPECT_EQ(y, 900);
}

// The tool reads the static offsets (inverted sign) as the autolevel result
// only on an NC-4100 before 1.02, the quaternion everywhere else; a status
// report adds both, so every variant must give the correction of the same
// measured tilt (roll 1.25, pitch -0.5).
TEST_F(ShellTest, AutolevelHoldsTheSameCorrectionOnEveryFirmware) {
    struct Case {
        const char* model;
        uint32_t minor;
        bool static_offsets;
    };
    for (const Case& c : {Case{"NC-4100", 5, false}, Case{"NC-4100", 1, true},
                          Case{"NC-350", 1, false}, Case{"NC-350", 5, false}}) {
        SCOPED_TRACE(std::string(c.model) + " 1.0" + std::to_string(c.minor));
        use_model(c.model);
        identity_.application.version = make_version(1, c.minor, 0);
        EXPECT_EQ(run("cfg m r a").status, sim::STATUS_OK);
        const std::string text = value_of("cfg m r");
        double roll = 0, pitch = 0;
        if (c.static_offsets) {
            EXPECT_EQ(text.find("Q0"), std::string::npos);
            long r = 0, p = 0, y = 0;
            read_rpy(text, &r, &p, &y);
            roll = -r / 100.0;
            pitch = -p / 100.0;
        } else {
            const double q0 = read_key(text, "Q0"), q1 = read_key(text, "Q1"),
                         q2 = read_key(text, "Q2"), q3 = read_key(text, "Q3");
            roll = std::atan2(2 * (q0 * q1 + q2 * q3), 1 - 2 * (q1 * q1 + q2 * q2)) * 57.29578;
            pitch = std::asin(2 * (q0 * q2 - q1 * q3)) * 57.29578;
        }
        EXPECT_NEAR(roll, -1.25, 0.01);
        EXPECT_NEAR(pitch, 0.5, 0.01);
        EXPECT_EQ(run("cfg m r r").status,
                  c.static_offsets ? sim::STATUS_UNSUPPORTED : sim::STATUS_OK);
        if (!c.static_offsets) {
            EXPECT_NEAR(read_key(value_of("cfg m r"), "Q0"), 1.0, 1e-6);
        }
    }
}

TEST_F(ShellTest, SentenceTableLinesParseWithTheToolsFormat) {
    const std::string text = "cfg n s\r\n" + value_of("cfg n s") + "NC-4100> ";
    size_t parsed = 0;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', lf + 1)) {
        unsigned id = 0, interval = 0, offset = 0;
        char t[2], f[3];
        if (std::sscanf(text.c_str() + lf + 1, "%u %c%c %c%c%c %u %u", &id, &t[0], &t[1], &f[0],
                        &f[1], &f[2], &interval, &offset) != 8)
            break;
        EXPECT_EQ(id, profile_.sentences[parsed].id);
        EXPECT_EQ(std::string(f, 3), profile_.sentences[parsed].formatter);
        ++parsed;
    }
    EXPECT_EQ(parsed, profile_.sentences.size());
}

TEST_F(ShellTest, SentenceSettingsAreStoredOrRefusedWhole) {
    EXPECT_EQ(run("cfg n s 1 GP HDT 200 25").status, sim::STATUS_OK);
    EXPECT_EQ(config_.sentences[0].talker, "GP");
    EXPECT_EQ(config_.sentences[0].interval_ms, 200u);
    EXPECT_EQ(config_.sentences[0].offset_ms, 25u);
    EXPECT_EQ(run("cfg n s 10 GN GGA 0 0").status, sim::STATUS_OK);

    const sim::SentenceTable before = config_.sentences;
    for (const char* line : {"cfg n s 1 GP HDT 110 0",     // not a multiple of 25
                             "cfg n s 1 GP HDT 10 0",      // below 25
                             "cfg n s 1 GP HDT 100 125",   // offset beyond the interval
                             "cfg n s 10 GN GGA 500 0",    // fixed at 1000
                             "cfg n s 1 gp HDT 100 0",     // talker in lower case
                             "cfg n s 14 GP GSV 1000 0",   // talker cannot change
                             "cfg n s 1 GP THS 100 0",     // formatter of another row
                             "cfg n s 99 GP HDT 100 0"}) { // no such row
        EXPECT_EQ(run(line).status, sim::STATUS_REFUSED) << line;
    }
    EXPECT_EQ(run("cfg n s 1 GP HDT x 0").status, sim::STATUS_USAGE);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(config_.sentences[i].interval_ms, before[i].interval_ms);

    EXPECT_EQ(run("cfg n s d").status, sim::STATUS_OK);
    EXPECT_EQ(config_.sentences[0].talker, "HE");
}

TEST_F(ShellTest, ReceiverMaskIsHexadecimalAfterTheEchoAndFollowsTheRules) {
    EXPECT_EQ(run("cfg g s 99").status, sim::STATUS_OK); // gps, qzss, sbas, glonass
    const std::string text = "cfg g s\r\n" + value_of("cfg g s");
    EXPECT_EQ(std::strtoul(text.c_str() + 7, nullptr, 16), 99u);
    for (const char* line : {"cfg g s 105",  // beidou with glonass
                             "cfg g s 2",    // sbas without gps
                             "cfg g s 32",   // qzss without gps
                             "cfg g s 128"}) // unknown receiver
        EXPECT_EQ(run(line).status, sim::STATUS_REFUSED) << line;
    EXPECT_EQ(config_.gnss_mask, 99u);
}

TEST_F(ShellTest, RefusedValuesChangeNothing) {
    use_model("NC-350");
    struct Case {
        const char* line;
        uint32_t status;
    };
    const Case cases[] = {
        {"cfg a f 100", sim::STATUS_REFUSED},   {"cfg a f -1", sim::STATUS_REFUSED},
        {"cfg a v 4", sim::STATUS_REFUSED},     {"cfg a v 1 18001", sim::STATUS_REFUSED},
        {"cfg a v 0 100", sim::STATUS_REFUSED}, {"cfg m r 18001 0 0", sim::STATUS_REFUSED},
        {"cfg m w 32001", sim::STATUS_REFUSED}, {"cfg n b 9600", sim::STATUS_REFUSED},
        {"cfg c t 2", sim::STATUS_REFUSED},     {"cfg h m 3", sim::STATUS_REFUSED},
        {"cfg h o 100", sim::STATUS_REFUSED},   {"cfg m r 1 2", sim::STATUS_USAGE},
        {"cfg a f ten", sim::STATUS_USAGE},     {"cfg x", sim::STATUS_USAGE},
        {"cfg g s", sim::STATUS_UNSUPPORTED},   {"frobnicate", sim::STATUS_NOT_FOUND},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(c.line).status, c.status) << c.line;
    const sim::DeviceConfig factory = sim::factory_config(profile_);
    EXPECT_EQ(config_.filter_time, factory.filter_time);
    EXPECT_EQ(config_.variation_source, factory.variation_source);
    EXPECT_EQ(config_.rotation, factory.rotation);
    EXPECT_EQ(config_.vertical, factory.vertical);
    EXPECT_EQ(config_.nmea_baud, factory.nmea_baud);
    EXPECT_EQ(config_.termination, factory.termination);
    EXPECT_EQ(config_.calibration_mode, factory.calibration_mode);
}

TEST_F(ShellTest, SettingsReadBackInTheToolsUnits) {
    use_model("NC-350");
    EXPECT_EQ(run("cfg a v 1 -235").status, sim::STATUS_OK);
    unsigned source = 9;
    float variation = 0;
    ASSERT_EQ(std::sscanf(value_of("cfg a v").c_str(), "%u %f", &source, &variation), 2);
    EXPECT_EQ(source, 1u);
    EXPECT_FLOAT_EQ(variation, -235.0f);

    EXPECT_EQ(run("cfg m w -13").status, sim::STATUS_OK);
    EXPECT_DOUBLE_EQ(read_key(value_of("cfg m w"), "W"), -13.0);
    EXPECT_EQ(run("cfg h o f9").status, sim::STATUS_OK);
    EXPECT_EQ(std::strtoul(value_of("cfg h o").c_str(), nullptr, 16), 0xF9u);
    EXPECT_EQ(run("cfg c t 1").status, sim::STATUS_OK);
    EXPECT_EQ(run("cfg a f 25").status, sim::STATUS_OK);
    EXPECT_EQ(value_of("cfg a f"), "25\r\n");

    // Factory defaults wait for the next start; until then the values in effect show.
    EXPECT_EQ(run("cfg f").status, sim::STATUS_OK);
    EXPECT_EQ(value_of("cfg a f"), "25\r\n");
    EXPECT_TRUE(config_.factory_pending);
}

TEST_F(ShellTest, ReportsCarryWhatTheStatusReportLooksFor) {
    sim::CommandResult post = run("post");
    EXPECT_EQ(post.output.find("Fail"), std::string::npos);
    EXPECT_EQ(run("event").output.find(" On "), std::string::npos);
    EXPECT_NE(run("hsiron").output.find("Time: "), std::string::npos);

    EXPECT_EQ(run("cfg h r").status, sim::STATUS_OK);
    const std::string hsiron = run("hsiron").output;
    EXPECT_EQ(hsiron.find("Time:"), std::string::npos);
    EXPECT_EQ(hsiron.find("Score:"), std::string::npos);
}

// Every output ends before the prompt: "> " inside it would cut the tool's
// reply. And it is plain text, even with a build tag from an uploaded image.
TEST_F(ShellTest, EveryOutputIsPlainTextWithoutThePromptMark) {
    const char* const lines[] = {
        "help",    "ver",     "post",    "event",   "hsiron",  "cfg v",   "cfg a v", "cfg c t",
        "cfg g s", "cfg h m", "cfg h o", "cfg m r", "cfg m w", "cfg n b", "cfg n s", "cfg a f",
        "can",     "ffs i",   "ffs l p", "ffs l d", "ffs l 2", "ffs l 1", "ffs l 4", "ffs l 5",
        "ffs l 6", "ffs l 7", "ffs l 8", "ffs l 9", "flog",    "lps",     "n1",      "pool",
        "queue",   "rxs",     "sched",   "spi d",   "spi b",   "stack",   "ublox",   "uptime r",
        "utctime", "uart",    "shell",   "cfg x y", "nothing"};
    for (const char* model : {"NC-4100", "NC-350", "NC-210"}) {
        use_model(model);
        identity_.application.build_tag = "\x1b[2J\xff";
        for (const char* line : lines) {
            const sim::CommandResult result = run(line);
            EXPECT_EQ(result.output.find("> "), std::string::npos) << model << ": " << line;
            EXPECT_FALSE(result.output.empty()) << model << ": " << line;
            for (char ch : result.output)
                EXPECT_TRUE((ch >= 0x20 && ch <= 0x7E) || ch == '\r' || ch == '\n') << line;
        }
    }
}

TEST(ShellSession, LoginEchoAndExitStatusOverTheTunnel) {
    Bench bench(settings_of("NC-4100"));
    // Login: one prompt for the whole line, logged in or not.
    const std::string login = bench.shell("kestrel\r\r");
    EXPECT_EQ(login.rfind("kestrel\r\n", 0), 0u) << login;
    bench.run_for(200'000);
    EXPECT_EQ(bench.take_shell_text(), "");
    EXPECT_EQ(bench.shell("kestrel\r\r").rfind("kestrel\r\n", 0), 0u);
    bench.run_for(200'000);
    EXPECT_EQ(bench.take_shell_text(), "");

    EXPECT_EQ(bench.shell("cfg v\r"), "cfg v\r\n0 1\r\nNC-4100");
    EXPECT_EQ(bench.shell("echo $?\r"), "echo $?\r\n0\r\nNC-4100");
    bench.shell("cfg a f 100\r");
    EXPECT_EQ(bench.shell("echo $?\r"), "echo $?\r\n1\r\nNC-4100");
    EXPECT_EQ(bench.shell("echo $?\r"), "echo $?\r\n0\r\nNC-4100");

    // Injected failures refuse the command without acting.
    bench.device().faults().failing.push_back({{"cfg", "a", "f"}, 5});
    bench.shell("cfg a f 20\r");
    EXPECT_EQ(bench.shell("echo $?\r"), "echo $?\r\n5\r\nNC-4100");
    EXPECT_EQ(bench.device().config().filter_time, 10u);
}

TEST(ShellSession, WrongLoginGetsNoPrompt) {
    Bench bench(settings_of("NC-350"));
    EXPECT_EQ(bench.shell("guest\r\r", 500'000), "");
    EXPECT_EQ(bench.shell("cfg v\r", 500'000), ""); // taken as a user name
    EXPECT_EQ(bench.shell("\r", 500'000), "");      // its password
    EXPECT_EQ(bench.shell("kestrel\r\r").rfind("kestrel\r\n", 0), 0u);
}

} // namespace
