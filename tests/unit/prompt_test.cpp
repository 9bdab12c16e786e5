// The prompt: how a line splits into words, which words it completes and
// offers for the connected model, and the pass-through terminal's login prompt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/help_texts.h"
#include "app/prompt_completion.h"
#include "base/line_completion.h"
#include "link/command_registry.h"
#include "link/ncterm.h"

namespace {

using Words = std::vector<std::string>;

Words split(const std::string& text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char* words[MAX_COMMAND_WORDS];
    return Words(words, words + split_command_line(line.data(), words, MAX_COMMAND_WORDS));
}

bool prompt_in(const std::string& stream) {
    LoginPromptMatcher matcher;
    bool found = false;
    for (char c : stream)
        found = matcher.feed(static_cast<uint8_t>(c)) || found;
    return found;
}

std::string bracketed(const Words& words) {
    std::string text;
    for (const std::string& word : words)
        text += "[" + word + "]";
    return text;
}

// The words before the cursor, <the word it is in>, @where that starts, and
// whether a quote is open.
std::string context_of(const std::string& line) {
    const CompletionContext c = completion_context(line);
    return bracketed(c.words_before) + "<" + c.partial + ">@" + std::to_string(c.word_start) +
           (c.quoted ? " quoted" : "");
}

// What Tab does to the line: the text it puts in, then the choices it shows.
std::string completed(const std::string& line, const Words& candidates, bool ignore_case = false) {
    const CompletionEdit edit = complete_word(completion_context(line), candidates, ignore_case);
    return edit.replacement + bracketed(edit.choices);
}

// The "command keyword" pairs that help's overview lists under SETUP.
std::set<std::string> setup_pairs_in_help(const char* model) {
    DeviceRecord device;
    device.model_name = model;
    char help[] = "help";
    char* argv[] = {help};
    testing::internal::CaptureStdout();
    find_command("help")->handler(device, 1, argv);
    std::istringstream overview(testing::internal::GetCapturedStdout());
    std::set<std::string> pairs;
    bool in_setup = false;
    for (std::string line; std::getline(overview, line) && line != "UTILITIES";) {
        in_setup = in_setup || line == "SETUP";
        std::istringstream words(line);
        std::string command, keyword;
        if (!in_setup || !(words >> command >> keyword) || keyword[0] == '<')
            continue;
        // One keyword, or a choice of them: "[run|reset]".
        std::istringstream choices(keyword[0] == '[' ? keyword.substr(1, keyword.find(']') - 1)
                                                     : keyword);
        for (std::string choice; std::getline(choices, choice, '|');)
            pairs.insert(command + " " + choice);
    }
    return pairs;
}

// The commands with keywords that help lists elsewhere, or not at all.
const std::set<std::string> NOT_SETUP = {"factory", "help", "settings", "stat"};

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

// The pass-through terminal's login prompt. A prompt at a line's start, and
// what it shows of the device's output (a backspace erases), are seen end to
// end by Ncterm.PlainConsoleByHandAndBackToThePrompt.
TEST(Terminal, LoginPromptComparedByteByByte) {
    EXPECT_TRUE(prompt_in("UsxUser:"));
    // The byte that breaks a match is not compared again: "UUser:" shows none.
    for (const char* stream : {"user:", "Use", "UUser:"})
        EXPECT_FALSE(prompt_in(stream)) << stream;
}

// The word at the cursor, cut as the prompt cuts the line, is completed as
// far as the candidates agree. A first word and one after a blank, the words
// after nmea0183 on either model, and file names after upload -f and stat -l
// are completed end to end by
// LineEditing.TabCompletesWhatTheModelTakesAndUpRecallsEarlierLines.
TEST(Completion, CompletesTheWordAtTheCursorAsFarAsTheCandidatesAgree) {
    EXPECT_EQ(context_of(""), "<>@0");
    EXPECT_EQ(context_of("gnss\treceiver g"), "[gnss][receiver]<g>@14");
    EXPECT_EQ(context_of("upload \"/tmp/my fi"), "[upload]</tmp/my fi>@7 quoted"); // keeps spaces
    EXPECT_EQ(context_of("help \"a b\" c"), "[help][a b]<c>@11"); // closed quote: one word
    EXPECT_EQ(completed("nmea", {"nmea0183", "nmea2000"}), "[nmea0183][nmea2000]"); // ambiguous
    EXPECT_EQ(completed("n", {"nmea0183", "nmea2000"}), "nmea"); // common part added
    EXPECT_EQ(completed("nmea0183 ", {"sentences", "baudrate"}, true), "[baudrate][sentences]");
    EXPECT_EQ(completed("deviation CAL", {"calibration", "options"}, true), "calibration ");
    EXPECT_EQ(completed("NAV", {"nav"}), ""); // command names exactly
    EXPECT_EQ(completed("nmea0183 sentences HDT", {"HDT:", "HDG:"}), "HDT:"); // wants its interval
    EXPECT_EQ(completed("upload \"/tmp/a", {"/tmp/abc"}), "\"/tmp/abc\" "); // open quote closed
    EXPECT_EQ(completed("upload /tmp/m", {"/tmp/my a", "/tmp/my b"}), "\"/tmp/my "); // opened
    // The choices fill columns down, then across.
    EXPECT_EQ(completion_columns({"a", "bb", "c", "d", "e"}, 8), (Words{"a   d", "bb  e", "c"}));
    EXPECT_EQ(completion_columns({"a-very-long-name"}, 4), (Words{"a-very-long-name"}));
}

// Each row: what must be offered after the words, and what must not.
TEST(Completion, OffersWhatTheConnectedModelTakesAsHelpListsIt) {
    const struct {
        const char* model;
        Words before, offered, refused;
    } rows[] = {
        {"NC-4100", {"deviation", "CALIBRATION"}, {"standard", "adaptive", "off", "reset"}, {"on"}},
        {"NC-350", {"deviation", "calibration"}, {"on", "off", "reset"}, {"standard", "adaptive"}},
        {"NC-210", {"gnss", "receiver", "gps"}, {"sbas"}, {}},
        {"NC-350", {"Deviation"}, {}, {"calibration", "options"}}, // command names exactly
        {"NC-4100", {"nmea0183", "sentences", "HDT:100"}, {"RMC:"}, {"default"}},
        {"NC-210", {}, {"gnss", "help"}, {"attitude", "ncterm"}},
    };
    for (const auto& row : rows) {
        const Words words = prompt_candidates(row.model, row.before).words;
        const std::string legend = row.model + (" " + testing::PrintToString(row.before)) + ": ";
        for (const std::string& word : row.offered)
            EXPECT_EQ(std::count(words.begin(), words.end(), word), 1) << legend << word;
        for (const std::string& word : row.refused)
            EXPECT_EQ(std::count(words.begin(), words.end(), word), 0) << legend << word;
    }
    for (const Words& before : {Words{"upload"}, Words{"upload", "-b", "38400"}, Words{"diag"},
                                Words{"settings", "load", "-f"}})
        EXPECT_TRUE(prompt_candidates("NC-4100", before).file_path) << before.back();
    EXPECT_FALSE(prompt_candidates("NC-4100", {"upload", "-b"}).file_path);
    EXPECT_FALSE(prompt_candidates("NC-4100", {"diag", "/tmp"}).file_path);

    // The keywords offered after each setup command are those help lists for
    // the model, so that the two tables cannot drift apart.
    for (const char* model : {"NC-4100", "NC-350", "NC-210", "NC-999"}) {
        std::set<std::string> offered;
        for (const std::string& command : prompt_candidates(model, {}).words) {
            if (NOT_SETUP.count(command) != 0)
                continue;
            for (const std::string& keyword : prompt_candidates(model, {command}).words)
                offered.insert(command + " " + keyword);
        }
        EXPECT_FALSE(offered.empty()) << model;
        EXPECT_EQ(offered, setup_pairs_in_help(model)) << model;
    }

    // bash completes the commands of the table that help lists (on Linux,
    // where the script is installed).
#ifdef NC_BASH_COMPLETION
    std::ifstream script(NC_BASH_COMPLETION);
    std::string line;
    while (std::getline(script, line) && line.rfind("_nc_service_commands=", 0) != 0) {
    }
    std::istringstream listed(line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1));
    const Words commands = prompt_candidates("NC-210", {"help"}).words; // but ncterm, on any model
    EXPECT_EQ(std::set<std::string>(std::istream_iterator<std::string>(listed), {}),
              std::set<std::string>(commands.begin(), commands.end()));
#endif
}
