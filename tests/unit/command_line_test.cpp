#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/help_texts.h"

namespace {

using Words = std::vector<std::string>;

Words split(const std::string& text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char* words[MAX_COMMAND_WORDS];
    return Words(words, words + split_command_line(line.data(), words, MAX_COMMAND_WORDS));
}

} // namespace

// Too many words, a line end, blanks only, a lone quote, quoted blanks and
// empty quotes as seen at the prompt: BadPromptLines. Here the cases it has no
// row for: runs of blanks, a quote closed inside a word, a tab between quotes.
TEST(CommandLine, SplitsAtBlanksQuotesProtectSpacesAndCommandNamesAreUnique) {
    EXPECT_EQ(split("  nmea0183\t\tsentences  RMC:1000 \n"),
              (Words{"nmea0183", "sentences", "RMC:1000"}));
    EXPECT_EQ(split("a \"b c\" \"d  e\"f g\n"), (Words{"a", "b c", "d  ef", "g"}));
    EXPECT_EQ(split("x \"tab\tinside\"\n"), (Words{"x", "tab", "inside"}));

    // The command table: each name once, each with a help topic but the hidden one.
    ASSERT_FALSE(command_table().empty());
    std::set<std::string> names;
    for (const CommandEntry& entry : command_table()) {
        EXPECT_TRUE(names.insert(entry.name).second) << "duplicate " << entry.name;
        HelpSection sections[MAX_HELP_SECTIONS];
        const bool hidden = std::strcmp(entry.name, "ncterm") == 0;
        EXPECT_EQ(help_sections_for(entry.name, "NC-4100", sections) == 0, hidden) << entry.name;
    }
}
