// The transport against an in-process device: the test queues the device's
// sentences on the master side of a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/files.h"
#include "link/frame.h"
#include "link/nmea.h"
#include "link/serial.h"
#include "link/transport.h"
#include "pty.h"
#include "tests/nmea_text.h"

namespace {

std::vector<uint8_t> frame_bytes(uint8_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    frame_compose(frame.data(), type, 1, payload.data(), static_cast<uint16_t>(payload.size()));
    return frame;
}

std::string hex_of(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += {hex_digit(bytes[i] >> 4, 1), hex_digit(bytes[i], 1)};
    return text;
}

// Frame sentences of at most chunk frame bytes each.
std::string frame_sentences(const std::vector<uint8_t>& frame, size_t chunk = 34) {
    std::string out;
    for (size_t at = 0; at < frame.size(); at += chunk)
        out += with_checksum("$PNCX,0," +
                             hex_of(frame.data() + at, std::min(chunk, frame.size() - at)));
    return out;
}

using Transport = PtyDevice;

} // namespace

// What a wait takes from the line: the shell reply up to the prompt (split
// across sentences or not, without the sentences that did not fit, NUL and
// all), or the next navigation sentence; neither kind ends the wait for the
// other or lingers, and a sentence cut off by a time-out does not swallow
// the next one. A row's steps run in order: the device sends, or a wait
// gives the text, or times out when there is none.
TEST_F(Transport, RepliesAndSentencesAreSortedApart) {
    const std::string nav = with_checksum("$GPGGA,1,2,3");
    const std::string rmc = with_checksum("$GPRMC,2");
    enum Kind { SENDS, SHELL, NMEA };
    struct Step {
        Kind kind;
        std::string text;
        uint32_t timeout_ms = 2000;
        uint32_t reply_size = SHELL_REPLY_SIZE;
    };
    const struct {
        const char* legend;
        std::vector<Step> steps;
    } rows[] = {
        {"prompt split across sentences",
         {{SENDS, shell_sentences("cfg v\r\n0 3\r\nnc>") + shell_sentences(" ")},
          {SHELL, "cfg v\r\n0 3\r\nnc"}}},
        {"navigation around and within a reply, the last in the same read",
         {{SENDS, nav + shell_sentences("ver\r\n") + nav + shell_sentences("v1\r\n> ") + nav},
          {SHELL, "ver\r\nv1\r\n"},
          {NMEA, nav}}},
        {"shell text while nobody waits for it",
         {{SENDS, shell_sentences("late text> ") + nav}, {NMEA, nav}, {SHELL, "", 300}}},
        {"an address longer than five characters is no sentence",
         {{SENDS, with_checksum("$GPGGAX,1") + nav}, {NMEA, nav}}},
        {"several sentences in one read",
         {{SENDS, nav + rmc}, {NMEA, nav}, {NMEA, rmc}, {NMEA, "", 200}}},
        {"sentence cut off by a time-out",
         {{SENDS, "$GPGGA,1,2"},
          {NMEA, "", 300},
          {SENDS, shell_sentences("ver\r\nNC-4100> ")},
          {SHELL, "ver\r\nNC-4100", 1000, 64}}},
        {"overflow drops whole sentences, NUL does not hide the prompt",
         {{SENDS, shell_sentences("0123456789ABCDEF") + shell_sentences("ab") +
                      with_checksum("$PNCX,SH,c^00d> ")},
          {SHELL, std::string("abc\0d", 5), 2000, 16}}},
        {"the prompt does not fit",
         {{SENDS, shell_sentences("0123456789") + shell_sentences("xyz> ")}, {SHELL, "", 400, 12}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        link_purge(device.link);
        for (const Step& step : row.steps) {
            if (step.kind == SENDS) {
                device_sends(step.text);
            } else if (step.kind == SHELL) {
                std::vector<char> reply(step.reply_size, '#');
                const int result =
                    shell_transact(device, "", reply.data(), step.reply_size, step.timeout_ms);
                EXPECT_EQ(result, step.text.empty() ? -11 : 2);
                if (result == 2) {
                    EXPECT_EQ(std::string(reply.data(), step.text.size() + 1), step.text + '\0');
                }
            } else {
                const char* sentence = nullptr;
                const int result = nmea_read_sentence(device, &sentence, step.timeout_ms);
                EXPECT_EQ(result, step.text.empty() ? -11 : static_cast<int>(step.text.size()));
                if (result > 0) {
                    EXPECT_EQ(std::string(sentence, static_cast<size_t>(result)), step.text);
                }
            }
        }
    }
}

// A frame answer is taken whole from sentences of any size, after sentences
// that hold no frame or fail their checksum. Answers that are no success:
// another type gives its negated type, type 0 must not read as "nothing
// awaited", odd hex is no frame even when it holds a whole one, and an answer
// longer than the caller's buffer is refused instead of overrunning it.
TEST_F(Transport, FrameAnswers) {
    const auto answer = frame_bytes(0x11, std::vector<uint8_t>(68, 0xA5));
    const auto whole = frame_bytes(0x11, {});
    std::string bad_checksum = frame_sentences(frame_bytes(0x11, {1, 2}));
    bad_checksum[bad_checksum.size() - 4] ^= 1;
    const struct {
        const char* legend;
        std::string sentences;
        uint32_t response_size;
        int result;
    } cases[] = {
        {"in pieces after bad sentences",
         with_checksum("$PNCX,0,98A") + bad_checksum + frame_sentences(answer, 20), 72, 1},
        {"another type", frame_sentences(frame_bytes(0x05, {0, 0})), 72, -5},
        {"type 0", frame_sentences(frame_bytes(0x00, {})), 72, -11},
        {"odd hex", with_checksum("$PNCX,0," + hex_of(whole.data(), whole.size()) + "0"), 72, -11},
        {"longer than the buffer", frame_sentences(frame_bytes(0x11, std::vector<uint8_t>(40, 7))),
         16, -11},
    };
    const uint8_t request[4] = {0x10, 0, 0, 0};
    for (const auto& c : cases) {
        link_purge(device.link);
        device_sends(c.sentences);
        uint8_t response[72];
        EXPECT_EQ(frame_transact(device, request, 0x11, response, c.response_size, 400, 0),
                  c.result)
            << c.legend;
        if (c.result == 1) { // type, sequence, length and payload
            EXPECT_TRUE(std::equal(response, response + 72, answer.begin() + 2)) << c.legend;
        }
    }
}

// The log marks a sentence with a wrong checksum, and shows raw frames in hex.
// What it holds of a session: Discovery.UnusualRate*.
TEST_F(Transport, TrafficLogMarksBadSentencesAndShowsRawFrames) {
    char path[] = "/tmp/nc-traffic-XXXXXX";
    close(mkstemp(path));
    ASSERT_EQ(log_open(path), 0);
    const std::string bad = "$GPGGA,1*00\r\n";
    device_sends(bad + shell_sentences("x\r\n> "));
    shell_transact(device, "x\r", shell_reply_buffer, SHELL_REPLY_SIZE, 2000);
    const uint8_t request[4] = {0x10, 0, 0, 0};
    frame_transact(device, request, 0x11, nullptr, 0, 0, /*raw=*/1);
    log_close();
    std::string log, error;
    ASSERT_TRUE(read_file_whole(path, 1 << 20, "a log", &log, &error)) << error;
    unlink(path);
    EXPECT_NE(log.find(" RX: " + bad), std::string::npos) << log;
    EXPECT_NE(log.find(" RX CRC: " + bad), std::string::npos) << log;
    EXPECT_NE(log.find(" TX: 98a810"), std::string::npos) << log;
    EXPECT_EQ(log.back(), '\n');
}
