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

TEST(CommandLine, SplitsAtBlanksTabsAndLineEnds) {
    EXPECT_EQ(split("roll offset 1.5\r\n"), (Words{"roll", "offset", "1.5"}));
    EXPECT_EQ(split("  nmea0183\t\tsentences  RMC:1000 \n"),
              (Words{"nmea0183", "sentences", "RMC:1000"}));
    EXPECT_EQ(split("   \t\r\n"), Words{});
    EXPECT_EQ(split(""), Words{});
}

TEST(CommandLine, QuotesProtectSpacesOnly) {
    EXPECT_EQ(split("upload \"/tmp/my image.bin\"\n"), (Words{"upload", "/tmp/my image.bin"}));
    EXPECT_EQ(split("a \"b c\" \"d  e\"f g\n"), (Words{"a", "b c", "d  ef", "g"}));
    EXPECT_EQ(split("x \"tab\tinside\"\n"), (Words{"x", "tab", "inside"}));
    EXPECT_EQ(split("lone \" quote\n"), (Words{"lone", "\"", "quote"}));
    EXPECT_EQ(split("\"\"\n"), Words{});
}

TEST(CommandLine, KeepsAtMost32Words) {
    std::string line;
    for (int i = 1; i <= 40; ++i)
        line += "w" + std::to_string(i) + " ";
    const Words words = split(line);
    ASSERT_EQ(words.size(), 32u);
    EXPECT_EQ(words.back(), "w32");
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
    for (const char* name :
         {"help",      "about",    "quit",      "ver",       "post",     "event",
          "factory",   "reboot",   "roll",      "pitch",     "heading",  "vertical",
          "autolevel", "nmea0183", "deviation", "variation", "attitude", "gnss",
          "nmea2000",  "nav",      "mon",       "stat"})
        EXPECT_EQ(names.count(name), 1u) << name;
}

TEST(HelpTexts, ModelDependentTopicsAndCaseInsensitiveLookup) {
    HelpSection sections[MAX_HELP_SECTIONS];
    ASSERT_EQ(help_sections_for("nmea0183", "NC-350", sections), 2);
    EXPECT_STREQ(sections[0].title, "\nnmea0183 baudrate [4800 | 38400]\n");
    EXPECT_EQ(help_sections_for("nmea0183", "NC-4100", sections), 1);
    ASSERT_EQ(help_sections_for("deviation", "NC-4100", sections), 2);
    EXPECT_NE(std::strstr(sections[0].title, "standard | adaptive"), nullptr);
    ASSERT_EQ(help_sections_for("deviation", nullptr, sections), 2);
    EXPECT_NE(std::strstr(sections[0].title, "on | off | reset"), nullptr);
    EXPECT_EQ(help_sections_for("NAV", "NC-210", sections), 1);
    EXPECT_EQ(help_sections_for("heading", "NC-210", sections), 2);
    EXPECT_EQ(help_sections_for("ncterm", "NC-210", sections), 0);
    ASSERT_EQ(help_sections_for("about", "NC-210", sections), 1);
    EXPECT_EQ(sections[0].title, nullptr);
    ASSERT_EQ(help_sections_for("stat", "NC-210", sections), 1);
    EXPECT_NE(std::strstr(sections[0].body, "Utilization rate (%) of"), nullptr);
    EXPECT_FALSE(sections[0].add_line_break);
}
