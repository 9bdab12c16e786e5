// What a device may answer instead of a clean reply, and what the user then
// sees: each row is a command typed at the prompt, the bytes the device sends
// back (played on a pty), and the command's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "link/command_registry.h"
#include "link/identity.h"
#include "tests/nmea_text.h"
#include "pty.h"

namespace {

struct ReplyRow {
    std::string legend;
    std::string command;
    std::string device_sends;
    std::string seen; // part of what the command writes (standard output, then error)
    std::string not_seen = "";
};

class BadDeviceReplies : public PtyDevice {
  protected:
    void SetUp() override {
        PtyDevice::SetUp();
        device.model_name = "NC-4100";
        device.identification[2] = 68; // payload length: software entry 1 is present
        const uint16_t version = make_version(1, 5, 0);
        device.identification[4 + IDENT_SOFTWARE_1 + 4] = static_cast<uint8_t>(version);
        device.identification[4 + IDENT_SOFTWARE_1 + 5] = static_cast<uint8_t>(version >> 8);
    }

    // Runs the command as the prompt would, the device sending its bytes
    // meanwhile (more than a pty holds would block a write made beforehand).
    std::string run(const ReplyRow& row) {
        pty.drain_master(0);
        tcflush(pty.slave, TCIFLUSH);
        transport_init();
        std::thread device_side([&] { device_sends(row.device_sends); });
        std::vector<std::string> words;
        for (size_t at = 0; at < row.command.size();) {
            const size_t end = std::min(row.command.find(' ', at), row.command.size());
            words.push_back(row.command.substr(at, end - at));
            at = end + 1;
        }
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        find_command(argv[0])->handler(device, static_cast<int32_t>(argv.size()), argv.data());
        device_side.join();
        const std::string out = testing::internal::GetCapturedStdout();
        return out + testing::internal::GetCapturedStderr();
    }
};

// Text with NUL bytes in it, all of the literal.
template <size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string filter_reply(const std::string& text) { return shell_sentences("cfg a f\r\n" + text); }

// The receivers query is answered, then the exit status.
std::string receivers_reply(const std::string& text) {
    return shell_sentences("cfg g s\r\n" + text) + shell_sentences("echo $?\r\n0\r\nNC-4100> ");
}

} // namespace

TEST_F(BadDeviceReplies, EachGivesAnErrorOrTheRightValueNeverAWrongOne) {
    const std::string failed_filter = "Error: Failed to get filter time constant\n";
    const std::string failed_receivers = "Error: Failed to select gnss recivers\n";
    const std::vector<ReplyRow> rows = {
        {"clean reply", "attitude filter", filter_reply("25\r\nNC-4100> "), "time constant: 2.5"},
        {"garbage instead of sentences", "attitude filter",
         bytes("\x01\xff\x7f R\r\n$$$***\r\n\0\0"), failed_filter},
        {"reply without its prompt", "attitude filter", filter_reply("25\r\n"), failed_filter},
        {"prompt split across sentences", "attitude filter",
         shell_sentences("cfg a f\r\n25\r\nNC-4100>") + shell_sentences(" "), "time constant: 2.5"},
        {"navigation sentences between the reply's", "attitude filter",
         shell_sentences("cfg a f\r\n") + with_checksum("$HEHDT,123.4,T") +
             shell_sentences("25\r\nNC-4100> "),
         "time constant: 2.5"},
        {"sentence with a wrong checksum", "attitude filter",
         "$PNCX,SH,cfg a f^0D^0A25^0D^0ANC-4100> *00\r\n", failed_filter},
        {"NUL bytes before the value", "attitude filter", filter_reply(bytes("\0\0" "25\r\nNC-4100> ")),
         failed_filter, "time constant:"},
        {"NUL byte inside the value", "attitude filter", filter_reply(bytes("2\0" "5\r\nNC-4100> ")),
         failed_filter, "time constant:"},
        {"reply past 10240 bytes", "attitude filter",
         filter_reply(std::string(11000, 'x') + "\r\n25\r\nNC-4100> "), failed_filter, "time constant:"},
        {"letters for a number", "attitude filter", filter_reply("two\r\nNC-4100> "), failed_filter},
        {"clean receivers", "gnss receiver", receivers_reply("6b\r\nNC-4100> "),
         "Selected GNSS receivers: GPS SBAS BEIDOU GLONASS"},
        {"receivers not hexadecimal", "gnss receiver", receivers_reply("zz\r\nNC-4100> "),
         failed_receivers, "GPS"},
        {"receivers with format directives", "gnss receiver", receivers_reply("%s%n\r\nNC-4100> "),
         failed_receivers, "GPS"},
    };
    for (const ReplyRow& row : rows) {
        const std::string seen = run(row);
        EXPECT_NE(seen.find(row.seen), std::string::npos) << row.legend << ":\n" << seen;
        if (!row.not_seen.empty()) {
            EXPECT_EQ(seen.find(row.not_seen), std::string::npos) << row.legend << ":\n" << seen;
        }
    }
}
