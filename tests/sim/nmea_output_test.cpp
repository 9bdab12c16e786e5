// The navigation output on a simulated clock: table changes that take effect
// at once, and a capture replayed at a fixed rate. Each model's default table
// on the line, well formed and on time, is seen by Stat.TableAndLogOfACleanLine
// and Nav.LiveDisplayOfEachModel; a capture replayed in order and over by
// Stat.ReplayedCapturesAreLoggedSentenceForSentence.
#include <gtest/gtest.h>
#include <map>

#include "bench.h"

namespace {

TEST(NmeaOutput, SentenceSettingsTakeEffectAtOnce) {
    Bench bench(settings_of("NC-350")); // HDT 200/0, ROT 1000/50, HDG 1000/100
    bench.shell("kestrel\r\r");
    bench.shell("cfg n s 6 HE HDG 1000 250\r");
    bench.shell("cfg n s 1 HE HDT 500 0\r");
    bench.shell("cfg n s 3 HE ROT 0 0\r");
    bench.run_until(2'000'000);
    bench.take_sentences();
    bench.run_for(3'000'000);
    // Where each formatter's sentences start after the device's whole seconds, in ms.
    std::map<std::string, std::vector<uint64_t>> phases;
    for (const TimedSentence& s : bench.take_sentences())
        phases[s.text.substr(3, 3)].push_back(s.time_us / 1000 % 1000);
    EXPECT_EQ(phases["HDG"], (std::vector<uint64_t>{250, 250, 250}));
    EXPECT_EQ(phases["HDT"].size(), 6u);
    EXPECT_EQ(phases.count("ROT"), 0u);
}

// At a fixed rate a replayed capture goes out one sentence per period.
TEST(NmeaOutput, ReplayAtAFixedRate) {
    sim::SimSettings settings = settings_of("NC-4100");
    settings.replay = {"$GPHDT,1.0,T\r\n", " garbage $GPHDT,2.0,T\r\n", "$GPHDT,3.0,T\r\n"};
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
