// The transport against a device played on a pty.
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

// Frame sentences of at most chunk frame bytes each.
std::string frame_sentences(const std::vector<uint8_t>& frame, size_t chunk = 34) {
    std::string out;
    for (size_t at = 0; at < frame.size(); at += chunk) {
        std::string hex;
        for (size_t i = at; i < std::min(frame.size(), at + chunk); ++i)
            hex += {hex_digit(frame[i] >> 4, 1), hex_digit(frame[i], 1)};
        out += with_checksum("$PNCX,0," + hex);
    }
    return out;
}

using Transport = PtyDevice;

} // namespace

// What each wait takes from the line, a row's steps in order: the device sends,
// or a wait gives the text, or times out when there is none. A shell reply
// runs to the prompt, a navigation wait takes the next sentence, a frame
// answer is whole; no kind ends the wait for another or lingers. Answers that
// are no success never read as one, nor overrun the caller's buffer. The log
// of a session: Discovery.UnusualRate*.
TEST_F(Transport, RepliesSentencesAndFramesAreSortedApart) {
    char log_path[] = "/tmp/nc-traffic-XXXXXX";
    close(mkstemp(log_path));
    ASSERT_EQ(log_open(log_path), 0);
    const std::string nav = with_checksum("$GPGGA,1,2,3");
    const std::string rmc = with_checksum("$GPRMC,2");
    const std::string bad = "$GPGGA,1*00\r\n";
    const auto answer = frame_bytes(0x11, std::vector<uint8_t>(68, 0xA5));
    std::string bad_frame = frame_sentences(frame_bytes(0x11, {1, 2}));
    bad_frame[bad_frame.size() - 4] ^= 1;
    enum Kind { SENDS, SHELL, NMEA, FRAME };
    struct Step {
        Kind kind;
        std::string text; // of a FRAME: the answer's type, sequence, length and payload
        uint32_t timeout_ms = 2000;
        uint32_t size = SHELL_REPLY_SIZE; // of the caller's buffer
        int result = 1;                   // of a FRAME
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
        {"sentences with a wrong checksum are dropped (and logged)",
         {{SENDS, bad + "$PNCX,SH,lost> *00\r\n" + shell_sentences("ver\r\n> ") + nav},
          {SHELL, "ver\r\n"},
          {NMEA, nav}}},
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
        {"frame in pieces after bad sentences",
         {{SENDS, with_checksum("$PNCX,0,98A") + bad_frame + frame_sentences(answer, 20)},
          {FRAME, std::string(answer.begin() + 2, answer.begin() + 74), 400, 72}}},
        {"frame of another type: its type negated",
         {{SENDS, frame_sentences(frame_bytes(0x05, {0, 0}))}, {FRAME, "", 400, 72, -5}}},
        {"frame of type 0: not \"nothing awaited\"",
         {{SENDS, frame_sentences(frame_bytes(0x00, {}))}, {FRAME, "", 400, 72, -11}}},
        {"frame longer than the buffer",
         {{SENDS, frame_sentences(frame_bytes(0x11, std::vector<uint8_t>(40, 7)))},
          {FRAME, "", 400, 16, -11}}},
    };
    const uint8_t request[4] = {0x10, 0, 0, 0};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        link_purge(device.link);
        for (const Step& step : row.steps) {
            if (step.kind == SENDS) {
                device_sends(step.text);
            } else if (step.kind == SHELL) {
                std::vector<char> reply(step.size, '#');
                const int result =
                    shell_transact(device, "", reply.data(), step.size, step.timeout_ms);
                EXPECT_EQ(result, step.text.empty() ? -11 : 2);
                if (result == 2) {
                    EXPECT_EQ(std::string(reply.data(), step.text.size() + 1), step.text + '\0');
                }
            } else if (step.kind == NMEA) {
                const char* sentence = nullptr;
                const int result = nmea_read_sentence(device, &sentence, step.timeout_ms);
                EXPECT_EQ(result, step.text.empty() ? -11 : static_cast<int>(step.text.size()));
                if (result > 0) {
                    EXPECT_EQ(std::string(sentence, static_cast<size_t>(result)), step.text);
                }
            } else {
                uint8_t response[72];
                EXPECT_EQ(
                    frame_transact(device, request, 0x11, response, step.size, step.timeout_ms, 0),
                    step.result);
                if (step.result == 1) {
                    EXPECT_EQ(std::string(response, response + step.text.size()), step.text);
                }
            }
        }
    }
    frame_transact(device, request, 0x11, nullptr, 0, 0, /*raw=*/1);
    log_close();
    std::string log, error;
    ASSERT_TRUE(read_file_whole(log_path, 1 << 20, "a log", &log, &error)) << error;
    unlink(log_path);
    EXPECT_NE(log.find(" RX CRC: " + bad), std::string::npos) << log;
    EXPECT_NE(log.find(" TX: 98a810"), std::string::npos) << log;
}
