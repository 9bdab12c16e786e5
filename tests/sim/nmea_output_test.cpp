// The navigation output on a simulated clock: every model's sentences well
// formed, one after the other on the line, at their table's intervals and
// offsets; table changes that take effect at once, and replayed captures.
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "bench.h"

namespace {

std::string formatter_of(const std::string& sentence) {
    return sentence.substr(sentence.rfind("$PFEC,", 0) == 0 ? 8 : 3, 3);
}

// Start times of each formatter's sentences that began before end_us.
std::map<std::string, std::vector<uint64_t>>
start_times(const std::vector<TimedSentence>& sentences, uint64_t end_us = UINT64_MAX) {
    std::map<std::string, std::vector<uint64_t>> times;
    for (const TimedSentence& s : sentences)
        if (s.time_us < end_us)
            times[formatter_of(s.text)].push_back(s.time_us);
    return times;
}

constexpr int64_t AFTER_OTHERS = -1; // at a fixed place behind the sentences before it
constexpr int64_t IN_GAPS = -2;      // wherever the line is free

// The bench starts on a whole UTC second, so the table's offsets count from 0.
TEST(NmeaOutput, EveryModelSendsItsTableOnTime) {
    const struct {
        const char* model;
        const char* formatters;
        uint64_t interval_ms;
        int64_t offset_ms; // from the device's whole seconds, or one of the two above
        size_t count;      // in four seconds
    } rows[] = {
        {"NC-4100", "HDT", 100, 0, 40},
        {"NC-4100", "THS ROT att hev", 100, AFTER_OTHERS, 40},
        {"NC-4100", "GGA RMC VTG ZDA MDA", 1000, IN_GAPS, 4},
        {"NC-350", "HDT", 200, 0, 20},
        {"NC-350", "ROT", 1000, 50, 4},
        {"NC-350", "HDG", 1000, 100, 4},
        {"NC-350", "MDA", 2000, AFTER_OTHERS, 2},
        {"NC-210", "GGA", 1000, 0, 4},
        {"NC-210", "RMC VTG ZDA", 1000, AFTER_OTHERS, 4},
    };
    std::map<std::string, std::vector<TimedSentence>> sent;
    for (const char* model : {"NC-4100", "NC-350", "NC-210"}) {
        Bench bench(settings_of(model));
        bench.run_for(4'500'000);
        sent[model] = bench.take_sentences();
        const std::vector<TimedSentence>& s = sent[model];
        const uint64_t char_us = 10'000'000 / bench.device().line_baud();
        for (size_t i = 0; i < s.size(); ++i) {
            EXPECT_LE(s[i].text.size(), NMEA_MAX_SENTENCE) << model << ": " << s[i].text;
            EXPECT_TRUE(
                nmea_verify_checksum(s[i].text.data(), static_cast<uint32_t>(s[i].text.size())))
                << model << ": " << s[i].text;
            const uint64_t line_free_at =
                i == 0 ? 0 : s[i - 1].time_us + s[i - 1].text.size() * char_us;
            EXPECT_GE(s[i].time_us + 1000, line_free_at)
                << model << ": " << s[i].text << " starts before the previous one ended";
        }
    }
    for (const auto& row : rows) {
        const auto times = start_times(sent[row.model], 4'000'000);
        std::istringstream formatters(row.formatters);
        for (std::string formatter; formatters >> formatter;) {
            SCOPED_TRACE(std::string(row.model) + " " + formatter);
            const auto found = times.find(formatter);
            ASSERT_NE(found, times.end());
            const std::vector<uint64_t>& t = found->second;
            EXPECT_EQ(t.size(), row.count);
            const uint64_t interval_us = row.interval_ms * 1000;
            for (size_t i = 1; i < t.size() && row.offset_ms != IN_GAPS; ++i)
                EXPECT_NEAR(static_cast<double>(t[i] - t[i - 1]), interval_us, 1000.0) << i;
            for (size_t i = 0; i < t.size() && row.offset_ms >= 0; ++i)
                EXPECT_LT(t[i] % interval_us - static_cast<uint64_t>(row.offset_ms) * 1000, 1000u)
                    << "starts at " << t[i] << " us";
        }
    }
}

// Where each of a formatter's sentences starts after the device's whole seconds, in ms.
std::map<std::string, std::vector<uint64_t>> phases_ms(Bench& bench) {
    std::map<std::string, std::vector<uint64_t>> phases;
    for (const auto& [formatter, times] : start_times(bench.take_sentences()))
        for (uint64_t t : times)
            phases[formatter].push_back(t / 1000 % 1000);
    return phases;
}

TEST(NmeaOutput, SentenceSettingsTakeEffectAtOnce) {
    Bench bench(settings_of("NC-350")); // HDT 200/0, ROT 1000/50, HDG 1000/100
    bench.shell("kestrel\r\r");
    bench.shell("cfg n s 6 HE HDG 1000 250\r");
    bench.shell("cfg n s 1 HE HDT 500 0\r");
    bench.shell("cfg n s 3 HE ROT 0 0\r");
    bench.run_until(2'000'000);
    bench.take_sentences();
    bench.run_for(3'000'000);
    const auto phases = phases_ms(bench);
    EXPECT_EQ(phases.at("HDG"), (std::vector<uint64_t>{250, 250, 250}));
    EXPECT_EQ(phases.at("HDT").size(), 6u);
    EXPECT_EQ(phases.count("ROT"), 0u);
}

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

} // namespace
