// The device on a simulated clock: identification, the bootloader protocol
// with its faults, settings pending until a restart, and the plain console.
#include <gtest/gtest.h>

#include "bench.h"
#include "link/crc16.h"
#include "link/device.h"
#include "sim/transmitter.h"
#include "upload/image_builder.h"

namespace {

uint32_t payload_u32(const std::vector<uint8_t>& p, size_t at) {
    return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<uint32_t>(p[at + 3]) << 24;
}
uint16_t payload_u16(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint16_t>(p[at] | p[at + 1] << 8);
}

std::vector<uint8_t> transfer_request(uint32_t baud, uint32_t address, uint32_t size,
                                      uint8_t kind) {
    std::vector<uint8_t> payload = le32(baud);
    for (uint32_t word : {address, size})
        for (uint8_t b : le32(word))
            payload.push_back(b);
    payload.push_back(kind);
    return payload;
}

ReceivedFrame identify(Bench& bench, bool raw) {
    return bench.transact(sim::FRAME_IDENT_REQUEST, {}, raw);
}

TEST(Identification, AnswersInSentencesToBothFormsWithTheRecordLayout) {
    sim::SimSettings settings = settings_of("NC-350");
    settings.identity.serial = 4711;
    Bench bench(settings);
    for (bool raw : {false, true}) {
        const ReceivedFrame answer = identify(bench, raw);
        ASSERT_EQ(answer.type, sim::FRAME_IDENT_ANSWER) << raw;
        ASSERT_EQ(answer.payload.size(), 68u);
        const std::vector<uint8_t>& p = answer.payload;
        EXPECT_EQ(payload_u32(p, IDENT_PART_NUMBER), make_part_number(37, 204106));
        EXPECT_EQ(payload_u32(p, IDENT_SERIAL), 4711u);
        EXPECT_EQ(payload_u16(p, IDENT_MIN_VERSION), make_version(1, 0, 0));
        EXPECT_EQ(p[IDENT_SOFTWARE_COUNT], 2);
        EXPECT_EQ(part_prefix(payload_u32(p, IDENT_SOFTWARE_1)), 73u);
        EXPECT_EQ(payload_u16(p, IDENT_SOFTWARE_1 + 4), make_version(1, 5, 0));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[IDENT_SOFTWARE_1 + 12]), 3), "rel");
        EXPECT_EQ(part_prefix(payload_u32(p, IDENT_SOFTWARE_1 + 24)), 70u);
    }
}

class BootloaderTest : public ::testing::Test {
  protected:
    BootloaderTest() : bench_(make_settings()) {}
    static sim::SimSettings make_settings() {
        sim::SimSettings s = settings_of("NC-4100");
        s.reboot_time_ms = 500;
        return s;
    }

    void enter_bootloader() {
        bench_.send_frame(sim::FRAME_RUN, le32(make_part_number(70, 203954)), false);
        bench_.run_for(200'000);
    }

    // Load begin, segments of 192 bytes, load end: the CRC the device answered.
    uint16_t load(const std::vector<uint8_t>& image, uint32_t baud) {
        const ReceivedFrame begin = bench_.transact(
            sim::FRAME_LOAD_BEGIN,
            transfer_request(baud, 0x08010000, static_cast<uint32_t>(image.size()), 2), true);
        EXPECT_EQ(begin.type, sim::FRAME_LOAD_BEGIN_ANSWER);
        EXPECT_EQ(payload_u16(begin.payload, 0), sim::CAUSE_OK);
        bench_.run_for(5000);
        EXPECT_EQ(bench_.device().line_baud(), baud);
        for (size_t at = 0; at < image.size(); at += 192) {
            const std::vector<uint8_t> part(
                image.begin() + static_cast<long>(at),
                image.begin() + static_cast<long>(std::min(image.size(), at + 192)));
            const ReceivedFrame answer = bench_.transact(sim::FRAME_SEGMENT, part, true);
            if (answer.type != sim::FRAME_SEGMENT_ANSWER)
                return 0;
            EXPECT_EQ(payload_u16(answer.payload, 0), sim::CAUSE_OK);
        }
        bench_.run_for(5000);
        EXPECT_EQ(bench_.device().line_baud(), 38400u); // back after the last segment
        const ReceivedFrame end = bench_.transact(sim::FRAME_LOAD_END, {}, true);
        EXPECT_EQ(end.type, sim::FRAME_LOAD_END_ANSWER);
        EXPECT_EQ(payload_u16(end.payload, 0), sim::CAUSE_OK);
        return payload_u16(end.payload, 2);
    }

    ImageContents new_software() {
        ImageContents contents;
        contents.identity.part_number = make_part_number(73, 203953);
        contents.identity.version_word = make_version(1, 7, 1) | 42u << 16;
        contents.identity.build_word = 0xB0D;
        contents.identity.build_tag = pack_tag("dev");
        contents.identity.build_hash = 0xCAFEF00D;
        contents.code.assign(385, 0x5A);
        return contents;
    }

    Bench bench_;
};

TEST_F(BootloaderTest, LoadsAnImageAndRunsItWithTheIdentityItCarries) {
    enter_bootloader();
    bench_.take_sentences();
    bench_.run_for(300'000);
    EXPECT_TRUE(bench_.take_sentences().empty()); // no navigation output any more
    ReceivedFrame ident = identify(bench_, true);
    EXPECT_EQ(part_prefix(payload_u32(ident.payload, IDENT_SOFTWARE_1)), 70u);

    const std::vector<uint8_t> image = build_application_image(new_software());
    EXPECT_EQ(load(image, 115200), crc16(image.data(), image.size()));
    bench_.send_frame(sim::FRAME_RUN, le32(0), true);
    bench_.run_for(100'000);
    EXPECT_EQ(bench_.device().mode(), sim::DeviceMode::REBOOTING);
    bench_.run_for(600'000);

    ident = identify(bench_, false);
    ASSERT_EQ(ident.type, sim::FRAME_IDENT_ANSWER);
    EXPECT_EQ(ident.payload[IDENT_SOFTWARE_COUNT], 2);
    EXPECT_EQ(payload_u32(ident.payload, IDENT_SOFTWARE_1 + 4), make_version(1, 7, 1) | 42u << 16);
    EXPECT_EQ(payload_u32(ident.payload, IDENT_SOFTWARE_1 + 8), 0xB0Du);
    EXPECT_EQ(payload_u32(ident.payload, IDENT_SOFTWARE_1 + 16), 0xCAFEF00Du);
}

TEST_F(BootloaderTest, ImageWithoutIdentityBlockKeepsTheOldIdentity) {
    enter_bootloader();
    ImageContents contents = new_software();
    contents.embed_identity = false;
    const std::vector<uint8_t> image = build_application_image(contents);
    EXPECT_EQ(load(image, 38400), crc16(image.data(), image.size()));
    bench_.send_frame(sim::FRAME_RUN, le32(0), true);
    bench_.run_for(700'000);
    const ReceivedFrame ident = identify(bench_, false);
    EXPECT_EQ(payload_u16(ident.payload, IDENT_SOFTWARE_1 + 4), make_version(1, 5, 0));
}

TEST_F(BootloaderTest, InjectedFaultsHitTheFirstLoadsOnly) {
    bench_.device().faults().bad_crc_loads = 1;
    bench_.device().faults().silent_segment = 2;
    bench_.device().faults().silent_segment_loads = 1;
    enter_bootloader();
    const std::vector<uint8_t> image = build_application_image(new_software());
    const uint16_t right = crc16(image.data(), image.size());

    EXPECT_EQ(load(image, 38400), 0); // segment 2 unanswered
    EXPECT_NE(load(image, 38400), right);
    EXPECT_EQ(load(image, 38400), right);
}

TEST_F(BootloaderTest, RefusesBadRequestsWithACause) {
    enter_bootloader();
    EXPECT_EQ(
        payload_u16(bench_.transact(sim::FRAME_LOAD_BEGIN, transfer_request(12345, 0, 100, 2), true)
                        .payload,
                    0),
        sim::CAUSE_BAD_BAUD);
    EXPECT_EQ(
        payload_u16(
            bench_.transact(sim::FRAME_LOAD_BEGIN, transfer_request(38400, 0, 0, 2), true).payload,
            0),
        sim::CAUSE_BAD_SIZE);
    EXPECT_EQ(payload_u16(bench_.transact(sim::FRAME_SEGMENT, {1, 2, 3}, true).payload, 0),
              sim::CAUSE_NOT_STARTED);
    bench_.transact(sim::FRAME_LOAD_BEGIN, transfer_request(38400, 0, 4, 2), true);
    EXPECT_EQ(payload_u16(bench_.transact(sim::FRAME_SEGMENT, {1, 2, 3, 4, 5}, true).payload, 0),
              sim::CAUSE_OVERFLOW);
    EXPECT_EQ(payload_u16(bench_.transact(sim::FRAME_LOAD_END, {}, true).payload, 0),
              sim::CAUSE_INCOMPLETE);
}

TEST_F(BootloaderTest, AbandonedFastTransferFallsBackToTheLineRate) {
    enter_bootloader();
    bench_.transact(sim::FRAME_LOAD_BEGIN, transfer_request(115200, 0, 1000, 2), true);
    bench_.run_for(10'000);
    EXPECT_EQ(bench_.device().line_baud(), 115200u);
    bench_.run_for(3'500'000);
    EXPECT_EQ(bench_.device().line_baud(), 38400u);
}

TEST(ApplicationData, BlocksAreTakenInSentencesByTheRunningApplication) {
    Bench bench(settings_of("NC-4100"));
    const ReceivedFrame begin =
        bench.transact(sim::FRAME_DATA_BEGIN, transfer_request(38400, 0x0102, 300, 3), false);
    EXPECT_EQ(begin.type, sim::FRAME_DATA_BEGIN_ANSWER);
    EXPECT_EQ(payload_u16(begin.payload, 0), sim::CAUSE_OK);
    for (size_t sent = 0; sent < 300; sent += 192) {
        const ReceivedFrame answer = bench.transact(
            sim::FRAME_SEGMENT, std::vector<uint8_t>(std::min<size_t>(192, 300 - sent), 7), false);
        EXPECT_EQ(answer.type, sim::FRAME_SEGMENT_ANSWER);
    }
    const ReceivedFrame end = bench.transact(sim::FRAME_DATA_END, {}, false);
    EXPECT_EQ(end.type, sim::FRAME_DATA_END_ANSWER);
    EXPECT_EQ(payload_u16(end.payload, 0), sim::CAUSE_OK);

    // An image file may carry an empty block: begin and end without segments.
    const ReceivedFrame empty =
        bench.transact(sim::FRAME_DATA_BEGIN, transfer_request(38400, 0x0103, 0, 3), false);
    EXPECT_EQ(payload_u16(empty.payload, 0), sim::CAUSE_OK);
    EXPECT_EQ(payload_u16(bench.transact(sim::FRAME_DATA_END, {}, false).payload, 0),
              sim::CAUSE_OK);
}

TEST(Restart, BaudRateReceiversAndFactoryDefaultsWaitForTheReboot) {
    sim::SimSettings settings = settings_of("NC-4100");
    settings.reboot_time_ms = 300;
    Bench bench(settings);
    bench.shell("kestrel\r\r");
    bench.shell("cfg n b 4800\r");
    bench.shell("cfg g s 97\r");
    bench.shell("cfg n s 1 GP HDT 200 0\r");
    EXPECT_EQ(bench.shell("cfg n b\r"), "cfg n b\r\n4800\r\nNC-4100");
    EXPECT_EQ(bench.device().line_baud(), 38400u);

    bench.send_shell("reboot\r");
    bench.run_for(100'000);
    EXPECT_EQ(bench.device().mode(), sim::DeviceMode::REBOOTING);
    bench.take_sentences();
    bench.run_for(250'000);
    EXPECT_TRUE(bench.take_sentences().empty()); // silent while it restarts
    bench.run_for(200'000);
    EXPECT_EQ(bench.device().line_baud(), 4800u);
    EXPECT_EQ(bench.device().config().sentences[0].interval_ms, 100u); // not stored with "w"
    EXPECT_EQ(bench.shell("kestrel\r\r").rfind("kestrel", 0), 0u);
    EXPECT_EQ(bench.shell("cfg g s\r"), "cfg g s\r\n61\r\nNC-4100");

    // Factory defaults, too, are loaded only by the next start.
    bench.shell("cfg a f 25\r");
    bench.shell("cfg f\r");
    EXPECT_EQ(bench.shell("cfg a f\r"), "cfg a f\r\n25\r\nNC-4100");
    bench.send_shell("reboot\r");
    bench.run_for(600'000);
    EXPECT_EQ(bench.device().line_baud(), 38400u);
    bench.shell("kestrel\r\r");
    EXPECT_EQ(bench.shell("cfg a f\r"), "cfg a f\r\n10\r\nNC-4100");
}

TEST(Restart, StayDownUntilWoken) {
    sim::SimSettings settings = settings_of("NC-210");
    settings.reboot_time_ms = 100;
    settings.faults.stay_down = true;
    Bench bench(settings);
    std::string message;
    bench.device().control({"reboot", {}, sim::ControlTarget::DEVICE}, bench.now(), &message);
    bench.run_for(1'000'000);
    EXPECT_EQ(bench.device().mode(), sim::DeviceMode::DOWN);
    EXPECT_EQ(identify(bench, true).type, 0);
    bench.device().control({"wake", {}, sim::ControlTarget::DEVICE}, bench.now(), &message);
    EXPECT_EQ(identify(bench, true).type, sim::FRAME_IDENT_ANSWER);
}

TEST(PlainConsole, TunnelledExitLetsACarriageReturnOpenTheConsole) {
    Bench bench(settings_of("NC-350"));
    bench.shell("kestrel\r\r");
    bench.send_shell("\rexit\r");
    bench.run_for(500'000);
    bench.send_bytes("\r");
    bench.run_for(500'000);
    EXPECT_NE(bench.take_raw_text().find("User:"), std::string::npos);
    bench.take_sentences();
    bench.run_for(1'000'000);
    EXPECT_TRUE(bench.take_sentences().empty()); // no NMEA while the console is open

    bench.send_bytes("kestrel\r");
    bench.run_for(500'000);
    EXPECT_NE(bench.take_raw_text().find("Pass:"), std::string::npos);
    bench.send_bytes("\rcfg v\r");
    bench.run_for(500'000);
    const std::string shown = bench.take_raw_text();
    EXPECT_NE(shown.find("cfg v\r\n0 1\r\nNC-350> "), std::string::npos) << shown;
    bench.send_bytes("ab\bc\r");
    bench.run_for(500'000);
    EXPECT_NE(bench.take_raw_text().find("ab\bc\r\nac: command not found"), std::string::npos);

    bench.send_bytes("exit\r");
    bench.run_for(1'500'000);
    EXPECT_FALSE(bench.take_sentences().empty()); // back to NMEA mode
    bench.send_bytes("\r");                       // and a CR alone does nothing now
    bench.run_for(500'000);
    EXPECT_EQ(bench.take_raw_text().find("User:"), std::string::npos);
}

TEST(Faults, DroppedDelayedCorruptedAndNoisyReplies) {
    Bench bench(settings_of("NC-4100"));
    bench.device().faults().drop_replies = 1;
    EXPECT_EQ(identify(bench, true).type, 0);
    EXPECT_EQ(identify(bench, true).type, sim::FRAME_IDENT_ANSWER);

    // A delayed answer misses a short wait and comes within a longer one.
    bench.device().faults().reply_delay_ms = 400;
    EXPECT_EQ(bench.transact(sim::FRAME_IDENT_REQUEST, {}, true, 300'000).type, 0);
    bench.run_for(200'000);
    EXPECT_EQ(bench.take_frames().size(), 1u);
    EXPECT_EQ(bench.transact(sim::FRAME_IDENT_REQUEST, {}, true, 600'000).type,
              sim::FRAME_IDENT_ANSWER);
    bench.device().faults().reply_delay_ms = 0;

    bench.device().faults().corrupt_rate = 1.0;
    bench.run_for(900'000); // what was queued before
    bench.take_sentences();
    bench.run_for(1'000'000);
    const std::vector<TimedSentence> corrupted = bench.take_sentences();
    ASSERT_FALSE(corrupted.empty());
    for (const TimedSentence& s : corrupted)
        EXPECT_FALSE(nmea_verify_checksum(s.text.data(), static_cast<uint32_t>(s.text.size())))
            << s.text;

    // Noise precedes the sentences, which themselves stay intact.
    bench.device().faults().corrupt_rate = 0;
    bench.device().faults().noise_rate = 1.0;
    bench.run_for(900'000);
    bench.take_sentences();
    bench.take_raw_text();
    bench.run_for(1'000'000);
    const std::vector<TimedSentence> noisy = bench.take_sentences();
    ASSERT_FALSE(noisy.empty());
    for (const TimedSentence& s : noisy)
        EXPECT_TRUE(nmea_verify_checksum(s.text.data(), static_cast<uint32_t>(s.text.size())));
    const std::string noise = bench.take_raw_text();
    EXPECT_GE(noise.size(), noisy.size());
    for (char ch : noise)
        EXPECT_GE(static_cast<uint8_t>(ch), 0x80);
}

} // namespace

namespace {

// Line input of every kind in random order: noise, broken and overlong
// sentences, bad escapes, frames with wild lengths and valid frames of every
// type. The device must neither fail nor stop answering.
class HostileLine {
  public:
    explicit HostileLine(uint32_t seed) : state_(seed) {}
    uint32_t next(uint32_t below) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % below;
    }
    std::string chunk() {
        switch (next(6)) {
        case 0:
            return noise(1 + next(40));
        case 1:
            return "$PNCX,SH," + noise(next(90)) + "*00\r\n";
        case 2:
            return "$PNCX,SH,^" + std::string(1, static_cast<char>('0' + next(40))) + "*1\r\n";
        case 3:
            return "$PNCX,0," + hex(next(80)) + "\r\n";
        case 4:
            return raw_header(static_cast<uint16_t>(next(0x10000))) + noise(next(64));
        default:
            return {};
        }
    }

  private:
    std::string noise(uint32_t n) {
        std::string text;
        for (uint32_t i = 0; i < n; ++i)
            text += static_cast<char>(next(256));
        return text;
    }
    std::string hex(uint32_t n) {
        std::string text;
        for (uint32_t i = 0; i < n; ++i)
            text += "0123456789ABCDEFxg"[next(18)];
        return text;
    }
    std::string raw_header(uint16_t length) {
        return {static_cast<char>(FRAME_SYNC_1),    static_cast<char>(FRAME_SYNC_2),
                static_cast<char>(0x10 + next(13)), 1,
                static_cast<char>(length & 0xFF),   static_cast<char>(length >> 8)};
    }
    uint32_t state_;
};

TEST(HostileInput, NeitherBreaksNorSilencesTheDevice) {
    for (const char* model : {"NC-4100", "NC-350", "NC-210"}) {
        Bench bench(settings_of(model));
        HostileLine line(7);
        for (int i = 0; i < 3000; ++i) {
            const std::string chunk = line.chunk();
            if (chunk.empty()) {
                std::vector<uint8_t> payload(line.next(300));
                for (uint8_t& byte : payload)
                    byte = static_cast<uint8_t>(line.next(256));
                bench.send_frame(static_cast<uint8_t>(0x10 + line.next(13)), payload,
                                 line.next(2) == 0);
            } else {
                bench.send_bytes(chunk);
            }
            if (i % 50 == 0)
                bench.run_for(2'000);
        }
        bench.run_for(5'000'000);
        EXPECT_EQ(identify(bench, true).type, sim::FRAME_IDENT_ANSWER) << model;
    }
}

} // namespace

// The last byte of a reply leaves only when it has crossed the line, so that
// a client cannot answer sooner than a real line allows; navigation sentences
// may go up to a millisecond early.
TEST(Transmitter, ReplyIsCompleteOnlyAtItsWireEnd) {
    for (const uint32_t entry_id : {0u, 7u}) {
        sim::Transmitter tx(38400);
        sim::TxItem item;
        item.bytes = std::string(40, 'x');
        item.entry_id = entry_id;
        tx.enqueue(item);
        uint64_t now = 0;
        uint64_t last_byte_at = 0;
        size_t wakes = 0;
        size_t taken = 0;
        while (taken < 40 && wakes < 100) {
            const sim::TxChunk chunk = tx.take_due(now, [](uint64_t, uint64_t) { return true; });
            taken += chunk.bytes.size();
            if (taken == 40)
                last_byte_at = now;
            now = tx.next_wake_us(now);
            ++wakes;
        }
        const uint64_t wire_end = tx.char_offset_us(40);
        if (entry_id == 0)
            EXPECT_GE(last_byte_at, wire_end);
        else
            EXPECT_GE(last_byte_at + 1000 + tx.char_offset_us(1), wire_end);
        EXPECT_LE(last_byte_at, wire_end + 10);
    }
}

TEST(PlainConsole, NoConsoleFaultKeepsTheDeviceSending) {
    Bench bench(settings_of("NC-350"));
    bench.device().faults().no_console = true;
    bench.shell("kestrel\r\r");
    bench.send_shell("\rexit\r");
    bench.run_for(500'000);
    bench.send_bytes("\r");
    bench.take_sentences();
    bench.run_for(1'000'000);
    EXPECT_FALSE(bench.device().console_active());
    EXPECT_FALSE(bench.take_sentences().empty());
    EXPECT_EQ(bench.take_raw_text().find("User:"), std::string::npos);
}
