// Checks on the text the programs wrote, for the end-to-end tests.
#pragma once
#include <gtest/gtest.h>

#include <string>

// Whether text holds part, for EXPECT_TRUE and EXPECT_FALSE alike: the
// message shows the part and the text.
inline testing::AssertionResult holds(const std::string& text, const std::string& part) {
    testing::AssertionResult result(text.find(part) != std::string::npos);
    return result << "\"" << part << "\" in:\n" << text;
}
