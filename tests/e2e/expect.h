// Checks on the text the programs wrote, and files they need, for the end-to-end tests.
#pragma once
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "harness.h"

// Declares the Simulator name, given the options, and ends the test when it did not start.
#define START_SIMULATOR(name, ...)                                                                 \
    Simulator name(__VA_ARGS__);                                                                   \
    ASSERT_TRUE(name.running()) << "nc-sim did not start: " #__VA_ARGS__

// Declares the ToolProcess name and ends the test unless the tool comes to its prompt.
#define START_AT_PROMPT(name, ...)                                                                 \
    ToolProcess name(__VA_ARGS__);                                                                 \
    ASSERT_TRUE(name.wait_for_output("nc> ", 20000)) << name.out() << name.err()

// Whether text holds part, for EXPECT_TRUE and EXPECT_FALSE alike: the message shows both.
inline testing::AssertionResult holds(const std::string& text, const std::string& part) {
    testing::AssertionResult result(text.find(part) != std::string::npos);
    return result << "\"" << part << "\" in:\n" << text;
}

// Whether the regular expression matches a part of text, as holds() does.
inline testing::AssertionResult matches(const std::string& text, const std::string& pattern) {
    testing::AssertionResult result(std::regex_search(text, std::regex(pattern)));
    return result << "/" << pattern << "/ in:\n" << text;
}

// Writes an image file with nc-mkimage and returns its path: 1.07 for the NC-350,
// 385 bytes (a 28-byte identity block and 357 of code), unless options say else.
inline std::string make_image(const std::vector<std::string>& options = {}) {
    const std::string path = temp_path("fw.nci");
    const ToolRun run = run_tool(concat({"-o", path, "--model", "NC-350", "--code-size", "357",
                                         "--sw-version", "1.07"}, options), "", {}, 30, NC_MKIMAGE_PATH);
    EXPECT_EQ(run.status, 0) << run.err;
    return path;
}
