// The transport against an in-process device: the test queues the device's
// sentences on the master side of a pty and reads back what the tool sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/console.h"
#include "link/frame.h"
#include "link/nmea.h"
#include "tests/nmea_text.h"
#include "link/serial.h"
#include "link/transport.h"
#include "pty.h"

namespace {

std::string shell_sentence(const std::string& text) {
    char buffer[NMEA_MAX_SENTENCE];
    const auto* src = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t remaining = static_cast<uint32_t>(text.size());
    const uint32_t length = nmea_shell_sentence(buffer, 77, &src, &remaining); // as a device sends
    EXPECT_EQ(remaining, 0u) << "test text longer than one sentence";
    return std::string(buffer, length);
}

std::vector<uint8_t> frame_bytes(uint8_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + FRAME_OVERHEAD);
    frame_compose(frame.data(), type, 1, payload.data(), static_cast<uint16_t>(payload.size()));
    return frame;
}

std::string hex_of(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += hex_digit(bytes[i] >> 4, 1);
        text += hex_digit(bytes[i], 1);
    }
    return text;
}

// Frame sentences of at most chunk frame bytes each.
std::string frame_sentences(const std::vector<uint8_t>& frame, size_t chunk = 34) {
    std::string out;
    for (size_t at = 0; at < frame.size(); at += chunk)
        out += with_checksum("$PNCX,0," + hex_of(frame.data() + at, std::min(chunk, frame.size() - at)));
    return out;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

class Transport : public PtyDevice {
  protected:
    std::string tool_sent() { return pty.drain_master(50); }
};

std::string unescaped_shell_text(const std::string& sentence) {
    const size_t data = std::strlen("$PNCX,SH,");
    const size_t star = sentence.find('*');
    uint8_t out[128];
    const char* src = sentence.data() + data;
    uint32_t error = 0;
    const uint32_t n = nmea_unescape(out, sizeof out, &src, static_cast<uint32_t>(star - data), &error);
    return std::string(reinterpret_cast<char*>(out), n);
}

} // namespace

TEST_F(Transport, LongCommandLineTravelsInTwoSentences) {
    const std::string line = std::string(99, 'c') + "\r";
    EXPECT_EQ(shell_transact(device, line.c_str(), nullptr, 0, 0), 0);
    const auto sentences = lines_of(tool_sent());
    ASSERT_EQ(sentences.size(), 2u);
    for (const std::string& sentence : sentences) {
        EXPECT_LE(sentence.find('*'), 68u);
        EXPECT_EQ(nmea_verify_checksum(sentence.data(), static_cast<uint32_t>(sentence.size())), 1);
    }
    EXPECT_EQ(unescaped_shell_text(sentences[0]), std::string(59, 'c'));
    EXPECT_EQ(unescaped_shell_text(sentences[1]), std::string(40, 'c') + "\r");
    EXPECT_NE(sentences[1].find("^0D*"), std::string::npos);
}

TEST_F(Transport, ReplyCompletesWhenThePromptIsSplitAcrossSentences) {
    device_sends(shell_sentence("cfg v\r\n0 3\r\nnc>") + shell_sentence(" "));
    EXPECT_EQ(shell_transact(device, "cfg v\r", shell_reply_buffer, SHELL_REPLY_SIZE, 2000), 2);
    EXPECT_STREQ(shell_reply_buffer, "cfg v\r\n0 3\r\nnc");
}

TEST_F(Transport, NavigationDuringShellIsIgnoredAndShellDuringNavigationToo) {
    const std::string nav = with_checksum("$GPGGA,1,2,3");
    device_sends(nav + shell_sentence("ver\r\nv1\r\n> ") + nav);
    ASSERT_EQ(shell_transact(device, "ver\r", shell_reply_buffer, SHELL_REPLY_SIZE, 2000), 2);
    EXPECT_STREQ(shell_reply_buffer, "ver\r\nv1\r\n");

    // The nav sentence that followed the prompt in the same read is not lost.
    const char* sentence = nullptr;
    ASSERT_EQ(nmea_read_sentence(device, &sentence, 500), static_cast<int>(nav.size()));

    // Shell text while nobody waits for it neither ends the wait nor lingers.
    device_sends(shell_sentence("late text> ") + nav);
    EXPECT_EQ(nmea_read_sentence(device, &sentence, 500), static_cast<int>(nav.size()));
    EXPECT_EQ(std::string(sentence, nav.size()), nav);
    EXPECT_EQ(shell_transact(device, "", shell_reply_buffer, SHELL_REPLY_SIZE, 300), -11);
}

TEST_F(Transport, SeveralSentencesInOneReadAreDeliveredInTurn) {
    const std::string first = with_checksum("$GPGGA,1");
    const std::string second = with_checksum("$GPRMC,2");
    device_sends(first + second);
    const char* sentence = nullptr;
    ASSERT_EQ(nmea_read_sentence(device, &sentence, 500), static_cast<int>(first.size()));
    EXPECT_EQ(std::string(sentence, first.size()), first);
    ASSERT_EQ(nmea_read_sentence(device, &sentence, 500), static_cast<int>(second.size()));
    EXPECT_EQ(std::string(sentence, second.size()), second);
    EXPECT_EQ(nmea_read_sentence(device, &sentence, 200), -11);
}

TEST_F(Transport, FrameAnswerInPiecesAfterBadSentences) {
    const auto answer = frame_bytes(0x11, std::vector<uint8_t>(68, 0xA5));
    std::string bad_crc = frame_sentences(frame_bytes(0x11, {1, 2}));
    bad_crc[bad_crc.size() - 4] ^= 1; // sentence checksum broken
    device_sends(with_checksum("$PNCX,0,98A") + bad_crc + frame_sentences(answer, 20));
    const uint8_t request[4] = {0x10, 0, 0, 0};
    uint8_t response[72];
    ASSERT_EQ(frame_transact(device, request, 0x11, response, sizeof response, 2000, 0), 1);
    EXPECT_EQ(response[0], 0x11);
    EXPECT_EQ(response[2], 68);
    EXPECT_EQ(response[4], 0xA5);
    EXPECT_EQ(response[71], 0xA5);

    const auto sent = lines_of(tool_sent());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].substr(0, 8), "$PNCX,0,");
    EXPECT_EQ(sent[0].substr(8, 8), "98A81001"); // type 0x10, first sequence number
}




TEST_F(Transport, ReplyOverflowDropsWholeSentencesAndNulDoesNotHideThePrompt) {
    char reply[16];
    device_sends(shell_sentence("0123456789ABCDEF") + shell_sentence("ab") + with_checksum("$PNCX,SH,c^00d> "));
    ASSERT_EQ(shell_transact(device, "", reply, sizeof reply, 2000), 2);
    EXPECT_EQ(std::string(reply, 4), std::string("abc\0", 4));
    EXPECT_EQ(reply[4], 'd');

    device_sends(shell_sentence("0123456789") + shell_sentence("xyz> ")); // prompt does not fit
    EXPECT_EQ(shell_transact(device, "", reply, 12, 400), -11);
}

TEST_F(Transport, LargeFrameIsSentInSentencesOf34Bytes) {
    std::vector<uint8_t> request(4 + 192, 0x3C);
    request[0] = 0x16;
    request[2] = 192;
    request[3] = 0;
    EXPECT_EQ(frame_transact(device, request.data(), 0x17, nullptr, 0, 0, 0), 0);
    const auto sent = lines_of(tool_sent());
    ASSERT_EQ(sent.size(), 6u); // 200 bytes
    for (const std::string& sentence : sent)
        EXPECT_LE(sentence.size(), NMEA_MAX_SENTENCE);
    EXPECT_EQ(sent[0].find('*'), 8u + 68u);
}

TEST_F(Transport, ExitStatusFromTheSecondLine) {
    device_sends(shell_sentence("echo $?\r\n3\r\nnc> "));
    EXPECT_EQ(shell_exit_status(device), 3);
    device_sends(shell_sentence("echo $?nc> "));
    EXPECT_EQ(shell_exit_status(device), -14);
}

TEST_F(Transport, HangUpEndsTheWaitWithAPortError) {
    pty.close_master();
    testing::internal::CaptureStderr();
    EXPECT_EQ(shell_transact(device, "", shell_reply_buffer, SHELL_REPLY_SIZE, 2000), -5);
    testing::internal::GetCapturedStderr();
}

TEST_F(Transport, TrafficLogRecordsBothDirections) {
    char path[] = "/tmp/nc-traffic-XXXXXX";
    close(mkstemp(path));
    ASSERT_EQ(log_open(path), 0);
    const std::string bad = "$GPGGA,1*00\r\n";
    device_sends(bad + shell_sentence("x\r\n> "));
    shell_transact(device, "x\r", shell_reply_buffer, SHELL_REPLY_SIZE, 2000);
    const uint8_t request[4] = {0x10, 0, 0, 0};
    frame_transact(device, request, 0x11, nullptr, 0, 0, /*raw=*/1);
    log_close();
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    unlink(path);
    const std::string log = content.str();
    EXPECT_NE(log.find(" TX: $PNCX,SH,x^0D*"), std::string::npos) << log;
    EXPECT_NE(log.find(" RX: " + bad), std::string::npos) << log;
    EXPECT_NE(log.find(" RX CRC: " + bad), std::string::npos) << log;
    EXPECT_NE(log.find(" RX: $PNCX,SH,x^0D^0A> *"), std::string::npos) << log;
    EXPECT_NE(log.find(" TX: 98a810"), std::string::npos) << log;
    EXPECT_EQ(log.back(), '\n');
}

// A sentence cut off by a time-out must not swallow the first whole sentence
// of the next wait: the wait starts its sentence recogniser afresh.
TEST_F(Transport, SentenceCutOffByATimeOutDoesNotSwallowTheNextReply) {
    device_sends("$GPGGA,1,2");
    const char* sentence = nullptr;
    EXPECT_EQ(nmea_read_sentence(device, &sentence, 300), -11);
    device_sends(shell_sentence("ver\r\nNC-4100> "));
    char reply[64];
    EXPECT_EQ(shell_transact(device, "", reply, sizeof reply, 1000), 2);
    EXPECT_STREQ(reply, "ver\r\nNC-4100");
}

// Answers that are no success: another type gives its negated type, type 0
// must not read as "nothing awaited", odd hex is no frame even when it holds
// a whole one, and an answer longer than the caller's buffer is refused
// instead of overrunning it.
TEST_F(Transport, FrameAnswersThatAreNoSuccess) {
    const auto whole = frame_bytes(0x11, {});
    const struct {
        const char* legend;
        std::string sentences;
        uint32_t response_size;
        int result;
    } cases[] = {
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
        EXPECT_EQ(frame_transact(device, request, 0x11, response, c.response_size, 400, 0), c.result)
            << c.legend;
    }
}
