// The pass-through terminal's login prompt and how device output is shown.
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

std::string shown(const std::string& bytes) {
    return terminal_display(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<uint32_t>(bytes.size()));
}

} // namespace

TEST(Terminal, LoginPromptComparedByteByByte) {
    EXPECT_TRUE(prompt_in("\r\nUser: "));
    EXPECT_TRUE(prompt_in("UsxUser:"));
    EXPECT_FALSE(prompt_in("user:"));
    EXPECT_FALSE(prompt_in("Use"));
    // The byte that breaks a partial match is not compared again.
    EXPECT_FALSE(prompt_in("UUser:"));
}

TEST(Terminal, BackspaceErasesTheCharacterBeforeIt) {
    EXPECT_EQ(shown("ab\bc"), "ab\b \bc");
    EXPECT_EQ(shown("\b\b"), "\b \b\b \b");
    EXPECT_EQ(shown(std::string("a\0\x1b", 3)), std::string("a\0\x1b", 3));
}
