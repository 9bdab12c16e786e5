// The pass-through terminal's login prompt. What it shows of the device's
// output (a backspace erases) is seen end to end by Ncterm.PlainConsoleByHand.
#include <gtest/gtest.h>

#include <string>

#include "link/ncterm.h"

namespace {

bool prompt_in(const std::string& stream) {
    LoginPromptMatcher matcher;
    for (char c : stream) {
        if (matcher.feed(static_cast<uint8_t>(c)))
            return true;
    }
    return false;
}

} // namespace

// A prompt at a line's start: Ncterm.PlainConsoleByHandAndBackToThePrompt.
TEST(Terminal, LoginPromptComparedByteByByte) {
    EXPECT_TRUE(prompt_in("UsxUser:"));
    EXPECT_FALSE(prompt_in("user:"));
    EXPECT_FALSE(prompt_in("Use"));
    // The byte that breaks a partial match is not compared again.
    EXPECT_FALSE(prompt_in("UUser:"));
}
