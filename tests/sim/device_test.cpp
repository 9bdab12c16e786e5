// The device on a simulated clock. Each model's default table on the line,
// well formed and on time: Stat.TableAndLogOfACleanLine, Nav.LiveDisplay*.
#include <gtest/gtest.h>
#include <map>

#include "bench.h"
#include "link/device.h"

namespace {

std::vector<uint8_t> transfer_request(uint32_t baud, uint32_t address, uint32_t size,
                                      uint8_t kind) {
    std::vector<uint8_t> payload = le32(baud);
    for (uint32_t word : {address, size})
        for (uint8_t b : le32(word))
            payload.push_back(b);
    payload.push_back(kind);
    return payload;
}

// The bootloader's refusals, which the tool never provokes; what it accepts is
// the upload end to end (Upload.*). The rows run in order on one device, and
// each answer carries its cause.
TEST(Transfers, EveryRefusalHasItsCause) {
    using namespace sim;
    Bench bench(settings_of("NC-4100"));
    bench.send_frame(FRAME_RUN, le32(make_part_number(70, 203954)), false);
    bench.run_for(200'000);
    ASSERT_EQ(bench.device().mode(), DeviceMode::BOOTLOADER);
    const struct {
        const char* legend;
        uint8_t type;
        std::vector<uint8_t> payload;
        uint16_t cause;
    } rows[] = {
        {"short request", FRAME_LOAD_BEGIN, le32(38400), CAUSE_BAD_REQUEST},
        {"unknown rate", FRAME_LOAD_BEGIN, transfer_request(12345, 0, 100, 2), CAUSE_BAD_BAUD},
        {"size 0", FRAME_LOAD_BEGIN, transfer_request(38400, 0, 0, 2), CAUSE_BAD_SIZE},
        {"segment without a begin", FRAME_SEGMENT, {1, 2, 3}, CAUSE_NOT_STARTED},
        {"begin of 4 bytes", FRAME_LOAD_BEGIN, transfer_request(38400, 0, 4, 2), CAUSE_OK},
        {"5 bytes", FRAME_SEGMENT, {1, 2, 3, 4, 5}, CAUSE_OVERFLOW},
        {"end before the 4 bytes", FRAME_LOAD_END, {}, CAUSE_INCOMPLETE},
    };
    for (const auto& row : rows) {
        const ReceivedFrame answer = bench.transact(row.type, row.payload);
        ASSERT_EQ(answer.type, row.type + 1) << row.legend;
        ASSERT_GE(answer.payload.size(), 2u) << row.legend;
        EXPECT_EQ(answer.payload[0] | answer.payload[1] << 8, row.cause) << row.legend;
    }
}

// The line rate and the receivers take effect at the next start only; a
// sentence setting not stored with "w" is gone after it.
TEST(Restart, BaudRateAndReceiversWaitForTheReboot) {
    sim::SimSettings settings = settings_of("NC-4100");
    settings.reboot_time_ms = 300;
    Bench bench(settings);
    for (const char* line :
         {"kestrel\r\r", "cfg n b 4800\r", "cfg g s 97\r", "cfg n s 1 GP HDT 200 0\r"})
        bench.shell(line);
    EXPECT_EQ(bench.shell("cfg n b\r"), "cfg n b\r\n4800\r\nNC-4100");
    EXPECT_EQ(bench.device().line_baud(), 38400u);

    bench.send_shell("reboot\r");
    bench.run_for(100'000);
    bench.take_sentences();
    bench.run_for(250'000);
    EXPECT_TRUE(bench.take_sentences().empty()); // silent while it restarts
    bench.run_for(200'000);
    EXPECT_EQ(bench.device().line_baud(), 4800u);
    EXPECT_EQ(bench.device().config().sentences[0].interval_ms, 100u); // not stored with "w"
    EXPECT_EQ(bench.shell("kestrel\r\r").rfind("kestrel", 0), 0u);
    EXPECT_EQ(bench.shell("cfg g s\r"), "cfg g s\r\n61\r\nNC-4100");
}

// Line input of every kind in random order: noise, broken and overlong
// sentences, bad escapes, frames with wild lengths and valid frames of every
// type. The device must neither fail nor stop answering.
TEST(HostileInput, NeitherBreaksNorSilencesTheDevice) {
    for (const char* model : {"NC-4100", "NC-350", "NC-210"}) {
        Bench bench(settings_of(model));
        uint32_t state = 7;
        const auto next = [&](uint32_t below) {
            state = state * 1664525u + 1013904223u;
            return (state >> 8) % below;
        };
        const auto text = [&](uint32_t n, const std::string& alphabet = {}) {
            std::string bytes;
            for (uint32_t i = 0; i < n; ++i)
                bytes += alphabet.empty() ? static_cast<char>(next(256))
                                          : alphabet[next(static_cast<uint32_t>(alphabet.size()))];
            return bytes;
        };
        for (int i = 0; i < 3000; ++i) {
            const uint32_t length = next(0x10000);
            const std::string chunks[] = {
                text(1 + next(40)),
                "$PNCX,SH," + text(next(90)) + "*00\r\n",
                "$PNCX,SH,^" + text(1, "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW") + "*1\r\n",
                "$PNCX,0," + text(next(80), "0123456789ABCDEFxg") + "\r\n",
                std::string{static_cast<char>(FRAME_SYNC_1), static_cast<char>(FRAME_SYNC_2),
                            static_cast<char>(0x10 + next(13)), 1, static_cast<char>(length & 0xFF),
                            static_cast<char>(length >> 8)} +
                    text(next(64)),
            };
            const std::string payload = text(next(300));
            if (const uint32_t kind = next(6); kind < std::size(chunks))
                bench.send_bytes(chunks[kind]);
            else
                bench.send_frame(static_cast<uint8_t>(0x10 + next(13)),
                                 std::vector<uint8_t>(payload.begin(), payload.end()),
                                 next(2) == 0);
            if (i % 50 == 0)
                bench.run_for(2'000);
        }
        bench.run_for(5'000'000);
        EXPECT_EQ(bench.transact(sim::FRAME_IDENT_REQUEST, {}).type, sim::FRAME_IDENT_ANSWER)
            << model;
    }
}

TEST(NmeaOutput, SentenceSettingsTakeEffectAtOnce) {
    Bench bench(settings_of("NC-350")); // HDT 200/0, ROT 1000/50, HDG 1000/100
    for (const char* line : {"kestrel\r\r", "cfg n s 6 HE HDG 1000 250\r",
                             "cfg n s 1 HE HDT 500 0\r", "cfg n s 3 HE ROT 0 0\r"})
        bench.shell(line);
    bench.run_for(2'000'000);
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

} // namespace
