#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/prompt_completion.h"
#include "base/line_completion.h"
#include "link/command_registry.h"

namespace {

using Words = std::vector<std::string>;

bool offers(const CompletionCandidates& candidates, const std::string& word) {
    return std::find(candidates.words.begin(), candidates.words.end(), word) !=
           candidates.words.end();
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
    for (std::string line; std::getline(overview, line);) {
        if (line == "SETUP" || line == "UTILITIES")
            in_setup = line == "SETUP";
        std::istringstream words(line);
        std::string command, keyword;
        if (!in_setup || !(words >> command >> keyword) || keyword[0] == '<')
            continue;
        if (keyword[0] != '[') {
            pairs.insert(command + " " + keyword);
            continue;
        }
        std::istringstream choices(keyword.substr(1, keyword.find(']') - 1)); // "[run|reset]"
        for (std::string choice; std::getline(choices, choice, '|');)
            pairs.insert(command + " " + choice);
    }
    return pairs;
}

const std::set<std::string> SETUP_COMMANDS = {"attitude", "autolevel", "deviation", "gnss",
                                              "heading",  "nmea0183",  "nmea2000",  "pitch",
                                              "roll",     "variation", "vertical"};

} // namespace

// A first word and one after a blank: LineEditing.TabCompletesWhatTheModelTakes.
TEST(Completion, FindsTheWordAtTheCursorAsThePromptCutsIt) {
    const struct {
        std::string line;
        Words words_before;
        std::string partial;
        size_t word_start;
        bool quoted;
    } cases[] = {
        {"", {}, "", 0, false},
        {"gnss\treceiver g", {"gnss", "receiver"}, "g", 14, false},
        {"upload \"/tmp/my fi", {"upload"}, "/tmp/my fi", 7, true}, // open quote keeps spaces
        {"help \"a b\" c", {"help", "a b"}, "c", 11, false},        // closed quote: one word
    };
    for (const auto& c : cases) {
        const CompletionContext got = completion_context(c.line);
        EXPECT_EQ(std::tie(got.words_before, got.partial, got.word_start, got.quoted),
                  std::tie(c.words_before, c.partial, c.word_start, c.quoted))
            << c.line;
    }
}

TEST(Completion, CompletesAsFarAsTheCandidatesAgree) {
    const struct {
        const char* legend;
        std::string line;
        Words candidates;
        bool ignore_case;
        std::string replacement;
        Words choices;
    } cases[] = {
        {"ambiguous", "nmea", {"nmea0183", "nmea2000"}, false, "", {"nmea0183", "nmea2000"}},
        {"common part added", "n", {"nmea0183", "nmea2000"}, false, "nmea", {}},
        {"empty word", "nmea0183 ", {"sentences", "baudrate"}, true, "", {"baudrate", "sentences"}},
        {"keyword in any case", "deviation CAL", {"calibration", "options"}, true, "calibration ",
         {}},
        {"command names exactly", "NAV", {"nav"}, false, "", {}},
        {"no match", "xyz", {"nav"}, false, "", {}},
        {"sentence wants its interval", "nmea0183 sentences HDT", {"HDT:", "HDG:"}, false, "HDT:", {}},
        {"open quote closed", "upload \"/tmp/a", {"/tmp/abc"}, false, "\"/tmp/abc\" ", {}},
        {"quote open while ambiguous", "upload /tmp/m", {"/tmp/my a", "/tmp/my b"}, false,
         "\"/tmp/my ", {}},
    };
    for (const auto& c : cases) {
        const CompletionEdit edit = complete_word(completion_context(c.line), c.candidates, c.ignore_case);
        EXPECT_EQ(edit.replacement, c.replacement) << c.legend;
        EXPECT_EQ(edit.choices, c.choices) << c.legend;
    }
}

TEST(Completion, ChoicesFillColumnsDownThenAcross) {
    EXPECT_EQ(completion_columns({"a", "bb", "c", "d", "e"}, 8), (Words{"a   d", "bb  e", "c"}));
    EXPECT_EQ(completion_columns({"a-very-long-name"}, 4), (Words{"a-very-long-name"}));
}

// Each row: what must be offered after the words, and what must not. The
// words after nmea0183 on either model, and file names after upload -f and
// stat -l, are completed end to end by LineEditing.TabCompletesWhatTheModelTakes.
TEST(Completion, OffersWhatTheConnectedModelTakes) {
    const struct {
        const char* model;
        Words before, offered, refused;
    } rows[] = {
        {"NC-4100", {"deviation", "CALIBRATION"}, {"standard", "adaptive", "off", "reset"}, {"on"}},
        {"NC-350", {"deviation", "calibration"}, {"on", "off", "reset"}, {"standard", "adaptive"}},
        {"NC-210", {"gnss", "receiver", "gps"}, {"sbas"}, {}},
        {"NC-350", {"Deviation"}, {}, {"calibration", "options"}}, // command names exactly
        {"NC-4100", {"nmea0183", "sentences"}, {"default", "HDT:"}, {}},
        {"NC-4100", {"nmea0183", "sentences", "HDT:100"}, {"RMC:"}, {"default"}},
        {"NC-210", {}, {"gnss", "help"}, {"attitude", "ncterm"}},
        {"NC-210", {"help"}, {"attitude"}, {"ncterm"}},
        {"NC-210", {"settings"}, {"save", "compare", "load"}, {}},
    };
    for (const auto& row : rows) {
        const CompletionCandidates candidates = prompt_candidates(row.model, row.before);
        const std::string legend = row.model + (" " + testing::PrintToString(row.before));
        for (const std::string& word : row.offered)
            EXPECT_TRUE(offers(candidates, word)) << legend << ": " << word;
        for (const std::string& word : row.refused)
            EXPECT_FALSE(offers(candidates, word)) << legend << ": " << word;
    }
    for (const Words& before : {Words{"upload"}, Words{"upload", "-b", "38400"}, Words{"diag"},
                                Words{"settings", "save"}, Words{"settings", "load", "-f"}})
        EXPECT_TRUE(prompt_candidates("NC-4100", before).file_path) << before.back();
    EXPECT_FALSE(prompt_candidates("NC-4100", {"upload", "-b"}).file_path);
    EXPECT_FALSE(prompt_candidates("NC-4100", {"diag", "/tmp"}).file_path);
}

// The keywords offered after each setup command are those help lists for the
// model, so that the two tables cannot drift apart.
TEST(Completion, SetupKeywordsAgreeWithHelp) {
    for (const char* model : {"NC-4100", "NC-350", "NC-210", "NC-999"}) {
        std::set<std::string> offered;
        for (const std::string& command : prompt_candidates(model, {}).words) {
            if (SETUP_COMMANDS.count(command) == 0)
                continue;
            for (const std::string& keyword : prompt_candidates(model, {command}).words)
                offered.insert(command + " " + keyword);
        }
        EXPECT_FALSE(offered.empty()) << model;
        EXPECT_EQ(offered, setup_pairs_in_help(model)) << model;
    }
}

// bash completes the commands of the table that help lists (on Linux, where
// the script is installed).
#ifdef NC_BASH_COMPLETION
TEST(Completion, BashCompletionKnowsEveryListedCommand) {
    std::ifstream script(NC_BASH_COMPLETION);
    std::string line;
    while (std::getline(script, line) && line.rfind("_nc_service_commands=", 0) != 0) {
    }
    std::istringstream listed(line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1));
    std::set<std::string> in_script, in_table;
    for (std::string name; listed >> name;)
        in_script.insert(name);
    for (const CommandEntry& entry : command_table())
        if (std::string(entry.name) != "ncterm")
            in_table.insert(entry.name);
    EXPECT_EQ(in_script, in_table);
}
#endif
