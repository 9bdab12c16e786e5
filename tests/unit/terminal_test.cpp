// The pass-through terminal's login prompt. A prompt at a line's start, and
// what it shows of the device's output (a backspace erases), are seen end to
// end by Ncterm.PlainConsoleByHandAndBackToThePrompt.
#include <gtest/gtest.h>

#include <string>

#include "link/ncterm.h"

namespace {

bool prompt_in(const std::string& stream) {
    LoginPromptMatcher matcher;
    bool found = false;
    for (char c : stream)
        found = matcher.feed(static_cast<uint8_t>(c)) || found;
    return found;
}

} // namespace

TEST(Terminal, LoginPromptComparedByteByByte) {
    EXPECT_TRUE(prompt_in("UsxUser:"));
    EXPECT_FALSE(prompt_in("user:"));
    EXPECT_FALSE(prompt_in("Use"));
    EXPECT_FALSE(prompt_in("UUser:")); // the byte that breaks a match is not compared again
}
