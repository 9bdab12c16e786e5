#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

#include "base/console.h"

namespace {

struct Printed {
    std::string out;
    std::string err;
};

Printed print_all_levels(int quiet, int verbose) {
    quiet_mode = quiet;
    verbose_mode = verbose;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    out_print(LEVEL_DETAIL, "detail %d\n", 0);
    out_print(LEVEL_INFO, "info %s\n", "1");
    out_print(LEVEL_ERROR, "error\n");
    Printed printed{testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    quiet_mode = verbose_mode = 0;
    return printed;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace

TEST(OutPrint, LevelsFollowQuietAndVerbose) {
    Printed normal = print_all_levels(0, 0);
    EXPECT_EQ(normal.out, "info 1\n");
    EXPECT_EQ(normal.err, "error\n");

    Printed quiet = print_all_levels(1, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "error\n");

    Printed verbose = print_all_levels(0, 1);
    EXPECT_EQ(verbose.out, "detail 0\ninfo 1\n");

    Printed both = print_all_levels(1, 1);
    EXPECT_EQ(both.out, verbose.out);
    EXPECT_EQ(both.err, "error\n");
}

TEST(TrafficLog, HexAndSentenceRecords) {
    char path[] = "/tmp/nc-log-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(log_open(path), 0);
    const uint8_t frame[] = {0x01, 0x02, 0x0A, 0xFF, 0x10};
    log_traffic("TX: ", "\n", 0, frame, sizeof frame);
    const std::string sentence = "$PNCX,SH,x*00\r\n";
    log_traffic("RX: ", nullptr, 1, reinterpret_cast<const uint8_t*>(sentence.data()),
                static_cast<uint32_t>(sentence.size()));
    log_close();
    const std::string log = read_file(path);
    unlink(path);
    EXPECT_TRUE(std::regex_match(log, std::regex("[0-9]+ TX: 01020aff10\n"
                                                 "[0-9]+ RX: \\$PNCX,SH,x\\*00\r\n")))
        << log;
}

TEST(TrafficLog, UnopenableFileFailsWithMessage) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(log_open("/nonexistent-dir/log.txt"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR opening log file:/nonexistent-dir/log.txt, No such file or directory\n");
    EXPECT_EQ(traffic_log, nullptr);
    EXPECT_EQ(log_open(nullptr), 0);
}
