// The navigation output on a simulated clock: well-formed sentences, the
// table's intervals kept exactly, slow sentences only in the gaps, and values
// that agree with each other.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>

#include "bench.h"
#include "link/device.h"

namespace {

std::string formatter_of(const std::string& sentence) {
    if (sentence.rfind("$PFEC,", 0) == 0)
        return sentence.substr(8, 3);
    return sentence.substr(3, 3);
}

std::vector<std::string> fields_of(const std::string& sentence) {
    std::vector<std::string> fields;
    const std::string body = sentence.substr(1, sentence.find('*') - 1);
    size_t start = 0;
    for (size_t comma = body.find(',');; comma = body.find(',', start)) {
        fields.push_back(body.substr(start, comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return fields;
}

std::map<std::string, std::vector<uint64_t>>
start_times(const std::vector<TimedSentence>& sentences) {
    std::map<std::string, std::vector<uint64_t>> times;
    for (const TimedSentence& s : sentences)
        times[formatter_of(s.text)].push_back(s.time_us);
    return times;
}

TEST(NmeaOutput, EverySentenceOfEveryModelIsWellFormed) {
    for (const char* model : {"NC-4100", "NC-350", "NC-210"}) {
        Bench bench(settings_of(model));
        bench.run_for(3'000'000);
        const std::vector<TimedSentence> sentences = bench.take_sentences();
        EXPECT_GT(sentences.size(), 10u) << model;
        for (const TimedSentence& s : sentences) {
            EXPECT_LE(s.text.size(), NMEA_MAX_SENTENCE) << s.text;
            EXPECT_TRUE(nmea_verify_checksum(s.text.data(), static_cast<uint32_t>(s.text.size())))
                << s.text;
        }
    }
}

TEST(NmeaOutput, FastSentencesKeepTheirIntervalAndSlowOnesFillTheGaps) {
    Bench bench(settings_of("NC-4100")); // 38400 baud, 100 ms base, GNSS every second
    bench.run_for(3'900'000);            // one-second marks at 0 to 3 s
    const std::vector<TimedSentence> sentences = bench.take_sentences();
    const auto times = start_times(sentences);
    for (const char* fast : {"HDT", "THS", "ROT", "att", "hev"}) {
        const std::vector<uint64_t>& t = times.at(fast);
        ASSERT_GE(t.size(), 38u) << fast;
        for (size_t i = 1; i < t.size(); ++i)
            EXPECT_NEAR(static_cast<double>(t[i] - t[i - 1]), 100'000.0, 1'000.0)
                << fast << " " << i;
    }
    for (const char* slow : {"GGA", "RMC", "VTG", "ZDA", "MDA"})
        EXPECT_EQ(times.at(slow).size(), 4u) << slow;
    // Sentences never overlap on the line: each starts after the previous ended.
    const uint64_t char_us = 10'000'000 / 38400;
    for (size_t i = 1; i < sentences.size(); ++i)
        EXPECT_GE(sentences[i].time_us + 1000,
                  sentences[i - 1].time_us + sentences[i - 1].text.size() * char_us)
            << sentences[i].text;
    // The base sentences go first at every 100 ms mark: HDT is never delayed.
    const uint64_t first = times.at("HDT").front();
    for (uint64_t t : times.at("HDT"))
        EXPECT_LT((t - first) % 100'000, 1'000u);
}

TEST(NmeaOutput, ValuesAgreeAcrossSentencesOfOneMoment) {
    Bench bench(settings_of("NC-4100"));
    bench.run_for(1'050'000);
    std::map<std::string, std::vector<std::string>> last;
    for (const TimedSentence& s : bench.take_sentences())
        last[formatter_of(s.text)] = fields_of(s.text);
    EXPECT_EQ(last.at("HDT")[1], last.at("THS")[1]);
    EXPECT_EQ(last.at("HDT")[1], last.at("att")[2]);
    EXPECT_EQ(last.at("hev")[3], "V");
    EXPECT_EQ(last.at("GGA")[1], last.at("RMC")[1]); // one fix, one time
    EXPECT_EQ(last.at("GGA")[2], last.at("RMC")[3]);
    EXPECT_EQ(last.at("RMC")[8], last.at("VTG")[1]); // course over ground
    EXPECT_EQ(last.at("GGA")[1].substr(6), ".00");   // whole seconds
    const double pressure_bar = std::atof(last.at("MDA")[3].c_str());
    EXPECT_GT(pressure_bar, 0.95);
    EXPECT_LT(pressure_bar, 1.05);
}

TEST(NmeaOutput, SatelliteGroupsComeFromEveryReceiverInUse) {
    Bench bench(settings_of("NC-4100")); // GPS, SBAS, QZSS, GLONASS
    bench.run_for(700'000);              // one second's groups
    std::map<std::string, std::vector<std::vector<std::string>>> groups;
    for (const TimedSentence& s : bench.take_sentences()) {
        if (formatter_of(s.text) == "GSV")
            groups[s.text.substr(1, 2)].push_back(fields_of(s.text));
    }
    EXPECT_EQ(groups.size(), 3u); // GP, GL, GQ
    for (const auto& [talker, group] : groups) {
        for (size_t i = 0; i < group.size(); ++i) {
            EXPECT_EQ(std::atoi(group[i][1].c_str()), static_cast<int>(group.size())) << talker;
            EXPECT_EQ(std::atoi(group[i][2].c_str()), static_cast<int>(i + 1)) << talker;
        }
    }
}

// Where each sentence starts within its interval, as milliseconds after the
// device's whole-second marks (the bench starts on a whole UTC second).
std::map<std::string, std::vector<uint64_t>> phases_ms(Bench& bench, uint64_t interval_ms) {
    std::map<std::string, std::vector<uint64_t>> phases;
    for (const auto& [formatter, times] : start_times(bench.take_sentences())) {
        for (uint64_t t : times)
            phases[formatter].push_back(t / 1000 % interval_ms);
    }
    return phases;
}

TEST(NmeaOutput, SentencesStartAtTheirTableOffsetAndChangesTakeEffectAtOnce) {
    Bench bench(settings_of("NC-350")); // HDT 200/0, ROT 1000/50, HDG 1000/100
    bench.run_for(4'000'000);
    auto phases = phases_ms(bench, 1000);
    for (const auto& [formatter, offset] : {std::pair<std::string, uint64_t>{"ROT", 50},
                                            std::pair<std::string, uint64_t>{"HDG", 100}}) {
        ASSERT_EQ(phases[formatter].size(), 4u) << formatter;
        for (uint64_t phase : phases[formatter])
            EXPECT_EQ(phase, offset) << formatter;
    }
    EXPECT_EQ(phases["HDT"].size(), 20u);

    bench.shell("kestrel\r\r");
    bench.shell("cfg n s 6 HE HDG 1000 250\r");
    bench.shell("cfg n s 1 HE HDT 500 0\r");
    bench.shell("cfg n s 3 HE ROT 0 0\r");
    bench.run_until(6'000'000);
    bench.take_sentences();
    bench.run_for(3'000'000);
    phases = phases_ms(bench, 1000);
    ASSERT_EQ(phases["HDG"].size(), 3u);
    for (uint64_t phase : phases["HDG"])
        EXPECT_EQ(phase, 250u);
    EXPECT_EQ(phases["HDT"].size(), 6u);
    EXPECT_EQ(phases.count("ROT"), 0u);
}

struct Attitude {
    uint64_t time_us = 0;
    double heading = 0, pitch = 0, roll = 0;
};

// The last attitude sentence of the first two seconds after the shell lines.
Attitude attitude_after(const sim::SimSettings& settings, const char* line) {
    Bench bench(settings);
    bench.shell("kestrel\r\r");
    bench.shell(std::string(line) + "\r");
    bench.run_until(2'000'000);
    Attitude a;
    for (const TimedSentence& s : bench.take_sentences()) {
        if (formatter_of(s.text) != "att")
            continue;
        const std::vector<std::string> f = fields_of(s.text);
        a = {s.time_us, std::atof(f[2].c_str()), std::atof(f[3].c_str()), std::atof(f[4].c_str())};
    }
    return a;
}

TEST(NmeaOutput, MountingOffsetsAndAutolevelReachTheAttitude) {
    const sim::SimSettings newer = settings_of("NC-4100");
    sim::SimSettings older = newer;
    older.identity.application.version = make_version(1, 1, 0);
    const Attitude base = attitude_after(newer, "cfg m r 0 0 0");
    const Attitude offset = attitude_after(newer, "cfg m r 250 -100 -1000");
    ASSERT_EQ(offset.time_us, base.time_us);
    EXPECT_NEAR(std::fmod(offset.heading - base.heading + 360.0, 360.0), 10.0, 0.11);
    EXPECT_NEAR(offset.roll - base.roll, -2.5, 0.11);
    EXPECT_NEAR(offset.pitch - base.pitch, 1.0, 0.11);

    // Levelled by static offsets or by a rotation, the output is corrected alike.
    const Attitude by_rotation = attitude_after(newer, "cfg m r a");
    const Attitude by_offsets = attitude_after(older, "cfg m r a");
    ASSERT_EQ(by_rotation.time_us, by_offsets.time_us);
    EXPECT_NEAR(by_rotation.roll, by_offsets.roll, 0.11);
    EXPECT_NEAR(by_rotation.pitch, by_offsets.pitch, 0.11);
    EXPECT_GT(std::fabs(by_rotation.roll - base.roll) + std::fabs(by_rotation.pitch - base.pitch),
              0.3);
}

} // namespace

// A replayed capture goes out in its order and starts over at its end: back
// to back at the line rate, or one sentence per period at a fixed rate; the
// shell still answers in between.
TEST(NmeaOutput, ReplayPlaysTheCaptureInOrderAndOver) {
    sim::SimSettings settings = settings_of("NC-4100");
    settings.replay = {"$GPHDT,1.0,T\r\n", " garbage $GPHDT,2.0,T\r\n", "$GPHDT,3.0,T\r\n"};
    {
        Bench bench(settings);
        bench.run_for(100'000);
        const std::vector<TimedSentence> sent = bench.take_sentences();
        ASSERT_GE(sent.size(), 20u);
        for (size_t i = 0; i < 6; ++i)
            EXPECT_EQ(sent[i].text, "$GPHDT," + std::to_string(i % 3 + 1) + ".0,T\r\n") << i;
        // 14 characters at 38400 baud: one right after the other.
        EXPECT_LE(sent[2].time_us - sent[1].time_us, 14 * 260 + 1500);
        bench.shell("kestrel\r\r");
        EXPECT_EQ(bench.shell("cfg v\r"), "cfg v\r\n0 1\r\nNC-4100");
    }
    settings.replay_rate = 10;
    Bench bench(settings);
    bench.run_for(1'050'000);
    const std::vector<TimedSentence> sent = bench.take_sentences();
    ASSERT_GE(sent.size(), 10u);
    ASSERT_LE(sent.size(), 11u);
    for (size_t i = 1; i < sent.size(); ++i)
        EXPECT_NEAR(static_cast<double>(sent[i].time_us - sent[i - 1].time_us), 100'000, 2000) << i;
}
