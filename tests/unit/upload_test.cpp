// The upload command's words and its decision about a file. Which bootloader
// it runs: device_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "upload/upload.h"

namespace {

struct Parsed {
    int result;
    UploadOptions options;
    std::string err;
};

Parsed parse(std::vector<std::string> words) {
    words.insert(words.begin(), "upload");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    Parsed parsed{};
    testing::internal::CaptureStderr();
    parsed.result =
        parse_upload_words(static_cast<int32_t>(argv.size()), argv.data(), parsed.options);
    parsed.err = testing::internal::GetCapturedStderr();
    parsed.options.path = nullptr; // points into words, which are gone
    return parsed;
}

} // namespace

// -b and -f as words of their own are in Upload.*; a plain path is the row
// after "--".
TEST(UploadWords, OptionsPathAndUsageErrors) {
    const struct {
        std::vector<std::string> words;
        int result;
        uint32_t baud;
        bool force;
        const char* err;
    } cases[] = {
        {{"-fb115200", "fw.nci"}, 0, 115200, true, ""},
        {{"--", "-fw.nci"}, 0, 0, false, ""},
        {{"fw.nci", "-f"}, 1, 0, false, "upload: Illegal argument: -f\n"}, // scanning stops at the path
        {{"-x", "fw.nci"}, 1, 0, false, "upload: invalid option: x\n"},
        {{"-f"}, 1, 0, true, "upload: missing filename\n"},
        {{"-b"}, 1, 0, false, "upload: option requires an argument: b\n"},
        // A rate that is no positive number would switch the bootloader to 0 baud.
        {{"-b", "0", "fw.nci"}, 1, 0, false, "upload: Illegal argument: 0\n"},
        {{"-b", "fast", "fw.nci"}, 1, 0, false, "upload: Illegal argument: fast\n"},
        {{"-b", "115200x", "fw.nci"}, 1, 0, false, "upload: Illegal argument: 115200x\n"},
        {{"-b", "-9600", "fw.nci"}, 1, 0, false, "upload: Illegal argument: -9600\n"},
        {{"-b", "4294967296", "fw.nci"}, 1, 0, false, "upload: Illegal argument: 4294967296\n"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.words);
        const std::string legend = testing::PrintToString(c.words);
        EXPECT_EQ(parsed.result, c.result) << legend;
        EXPECT_EQ(parsed.err, c.err) << legend;
        if (c.result == 0) {
            EXPECT_EQ(parsed.options.baud, c.baud) << legend;
            EXPECT_EQ(parsed.options.force, c.force) << legend;
        }
    }
}

// Real files have one header; the first one that names products counts.
TEST(UploadDecisions, ProductListOfTheFirstHeaderThatNamesProducts) {
    const auto header = [](std::vector<uint32_t> products) {
        ImageRecord record{IMAGE_RECORD_HEADER, 0, std::vector<uint8_t>(8)};
        record.data[6] = static_cast<uint8_t>(products.size());
        for (uint32_t product : products)
            for (int i = 0; i < 4; ++i)
                record.data.push_back(static_cast<uint8_t>(product >> (8 * i)));
        record.length = static_cast<uint32_t>(record.data.size() + 8);
        return record;
    };
    const std::vector<ImageRecord> records = {header({}), header({5, 7}), header({9})};
    EXPECT_TRUE(image_lists_product(records, 7));
    EXPECT_FALSE(image_lists_product(records, 9));
    EXPECT_FALSE(image_lists_product({header({})}, 0));
}
