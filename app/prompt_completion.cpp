#include "app/prompt_completion.h"

#include <cstring>
#include <initializer_list>

#include "base/text.h"
#include "link/command_registry.h"

namespace {

using Words = std::initializer_list<const char*>;

const Words NC_4100_350 = {"NC-4100", "NC-350"};
const Words EVERY_MODEL = {};

// The keywords that may follow a command and its keywords, for the models
// that take them (those listed for the model by help). With repeat set, they
// may follow one another, as the receivers of "gnss receiver" do.
struct KeywordRule {
    Words after;
    Words keywords;
    Words models;
    bool repeat = false;
};

const Words SENTENCE_FORMATTERS = {"DTM:", "GGA:", "GLL:", "GSA:", "GSV:", "HDG:", "HDM:", "HDT:",
                                   "MDA:", "RMC:", "ROT:", "THS:", "VTG:", "XDR:", "ZDA:", "att:"};

const KeywordRule keyword_rules[] = {
    {{"attitude"}, {"filter"}, NC_4100_350},
    {{"autolevel"}, {"run", "reset"}, NC_4100_350},
    {{"deviation"}, {"calibration", "options"}, NC_4100_350},
    {{"deviation", "calibration"}, {"standard", "adaptive", "off", "reset"}, {"NC-4100"}},
    {{"deviation", "calibration"}, {"on", "off", "reset"}, {"NC-350"}},
    {{"deviation", "options"}, {"5deg", "pause", "none"}, NC_4100_350, true},
    {{"gnss"}, {"receiver"}, {"NC-4100", "NC-210"}},
    {{"gnss", "receiver"}, {"gps", "sbas", "glonass", "beidou", "qzss"}, {"NC-4100", "NC-210"}, true},
    {{"heading"}, {"offset"}, NC_4100_350},
    {{"nmea0183"}, {"sentences"}, EVERY_MODEL},
    {{"nmea0183"}, {"baudrate"}, {"NC-350"}},
    {{"nmea0183", "baudrate"}, {"4800", "38400"}, {"NC-350"}},
    {{"nmea0183", "sentences"}, {"default"}, EVERY_MODEL},
    {{"nmea0183", "sentences"}, SENTENCE_FORMATTERS, EVERY_MODEL, true},
    {{"nmea2000"}, {"bus"}, {"NC-350", "NC-210"}},
    {{"nmea2000", "bus"}, {"term", "open"}, {"NC-350", "NC-210"}},
    {{"pitch"}, {"offset"}, NC_4100_350},
    {{"roll"}, {"offset"}, NC_4100_350},
    {{"variation"}, {"source"}, {"NC-350"}},
    {{"variation", "source"}, {"auto", "off", "user"}, {"NC-350"}},
    {{"vertical"}, {"offset"}, NC_4100_350},
    {{"factory"}, {"default"}, EVERY_MODEL},
    {{"settings"}, {"save", "compare", "load"}, EVERY_MODEL},
    {{"stat"}, {"-l"}, EVERY_MODEL},
};

// Commands whose next word is a file path: the command and the words before the path.
const Words path_rules[] = {{"diag"},
                            {"stat", "-l"},
                            {"settings", "save"},
                            {"settings", "compare"},
                            {"settings", "load"},
                            {"settings", "compare", "-f"},
                            {"settings", "load", "-f"}};

const char* const HIDDEN_COMMAND = "ncterm"; // help does not list it either

bool applies_to(const Words& models, const char* model) {
    if (models.size() == 0)
        return true;
    for (const char* name : models) {
        if (model_is(model, name))
            return true;
    }
    return false;
}

// Command names are compared exactly, keywords without regard to case.
bool begins_with(const std::vector<std::string>& words, const Words& start) {
    if (words.size() < start.size())
        return false;
    size_t i = 0;
    for (const char* word : start) {
        const bool same = i == 0 ? words[i] == word : equals_ignore_case(words[i].c_str(), word);
        if (!same)
            return false;
        ++i;
    }
    return true;
}

bool rule_matches(const KeywordRule& rule, const std::vector<std::string>& words, const char* model) {
    return applies_to(rule.models, model) && begins_with(words, rule.after) &&
           (rule.repeat || words.size() == rule.after.size());
}

// A command none of whose keywords applies to the model is no use on it.
bool command_offered(const char* name, const char* model) {
    if (std::strcmp(name, HIDDEN_COMMAND) == 0)
        return false;
    bool has_rules = false;
    for (const KeywordRule& rule : keyword_rules) {
        if (rule.after.size() != 1 || std::strcmp(*rule.after.begin(), name) != 0)
            continue;
        has_rules = true;
        if (applies_to(rule.models, model))
            return true;
    }
    return !has_rules;
}

std::vector<std::string> command_names(const char* model, bool offered_only) {
    std::vector<std::string> names;
    for (const CommandEntry& entry : command_table()) {
        if (offered_only ? command_offered(entry.name, model) : std::strcmp(entry.name, HIDDEN_COMMAND) != 0)
            names.push_back(entry.name);
    }
    return names;
}

// upload takes its options (-f, -b <rate>) before the path.
bool wants_file_path(const std::vector<std::string>& words) {
    if (words[0] == "upload")
        return words.back() != "-b";
    for (const Words& rule : path_rules) {
        if (begins_with(words, rule) && words.size() == rule.size())
            return true;
    }
    return false;
}

const char* completion_model = nullptr;

CompletionCandidates candidates_for_connected_model(const std::vector<std::string>& words_before) {
    return prompt_candidates(completion_model, words_before);
}

} // namespace

CompletionCandidates prompt_candidates(const char* model, const std::vector<std::string>& words_before) {
    CompletionCandidates candidates;
    if (words_before.empty()) {
        candidates.words = command_names(model, /*offered_only=*/true);
        return candidates;
    }
    if (words_before.size() == 1 && words_before[0] == "help") {
        candidates.words = command_names(model, /*offered_only=*/false);
        candidates.ignore_case = true;
        return candidates;
    }
    if (wants_file_path(words_before)) {
        candidates.file_path = true;
        return candidates;
    }
    candidates.ignore_case = true;
    for (const KeywordRule& rule : keyword_rules) {
        if (rule_matches(rule, words_before, model))
            candidates.words.insert(candidates.words.end(), rule.keywords.begin(), rule.keywords.end());
    }
    return candidates;
}

void start_prompt_completion(const DeviceRecord& device) {
    completion_model = device.model_name;
    set_completion_source(candidates_for_connected_model);
}
