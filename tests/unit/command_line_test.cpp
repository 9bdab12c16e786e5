#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/help_texts.h"

namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char* words[MAX_COMMAND_WORDS];
    const int count = split_command_line(line.data(), words, MAX_COMMAND_WORDS);
    return std::vector<std::string>(words, words + count);
}

using Words = std::vector<std::string>;

} // namespace

// Too many words, a line end, blanks only, quoted blanks and empty quotes as
// seen at the prompt: BadPromptLines. Here the cases it has no row for.
TEST(CommandLine, SplitsAtBlanksAndQuotesProtectSpacesOnly) {
    const struct {
        std::string line;
        Words words;
    } rows[] = {
        {"  nmea0183\t\tsentences  RMC:1000 \n", {"nmea0183", "sentences", "RMC:1000"}},
        {"a \"b c\" \"d  e\"f g\n", {"a", "b c", "d  ef", "g"}},
        {"x \"tab\tinside\"\n", {"x", "tab", "inside"}},
        {"lone \" quote\n", {"lone", "\"", "quote"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(split(row.line), row.words) << testing::PrintToString(row.line);
}

TEST(CommandTable, NamesAreUniqueAndEachHasAHandlerAndAHelpTopic) {
    const auto& table = command_table();
    ASSERT_FALSE(table.empty());
    std::set<std::string> names;
    for (const CommandEntry& entry : table) {
        EXPECT_TRUE(names.insert(entry.name).second) << "duplicate " << entry.name;
        EXPECT_NE(entry.handler, nullptr) << entry.name;
        HelpSection sections[MAX_HELP_SECTIONS];
        const bool hidden = std::strcmp(entry.name, "ncterm") == 0;
        EXPECT_EQ(help_sections_for(entry.name, "NC-4100", sections) == 0, hidden) << entry.name;
    }
}
