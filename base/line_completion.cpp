#include "base/line_completion.h"

#include <algorithm>
#include <cctype>

namespace {

bool same_char(char a, char b, bool ignore_case) {
    if (!ignore_case)
        return a == b;
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool starts_with(const std::string& text, const std::string& prefix, bool ignore_case) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (!same_char(text[i], prefix[i], ignore_case))
            return false;
    }
    return true;
}

size_t common_prefix_length(const std::vector<std::string>& words, bool ignore_case) {
    size_t length = words.front().size();
    for (const std::string& word : words) {
        size_t i = 0;
        while (i < length && i < word.size() && same_char(word[i], words.front()[i], ignore_case))
            ++i;
        length = i;
    }
    return length;
}

bool wants_more(const std::string& word) {
    return !word.empty() && (word.back() == '/' || word.back() == ':');
}

} // namespace

CompletionContext completion_context(const std::string& line_to_cursor) {
    CompletionContext context;
    std::string word;
    bool in_word = false;
    bool in_quote = false;
    for (size_t i = 0; i < line_to_cursor.size(); ++i) {
        const char ch = line_to_cursor[i];
        const bool separator = ch == '\t' || (ch == ' ' && !in_quote);
        if (separator) {
            if (in_word)
                context.words_before.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        if (!in_word)
            context.word_start = i;
        in_word = true;
        if (ch == '"')
            in_quote = !in_quote;
        else
            word += ch;
    }
    if (!in_word)
        context.word_start = line_to_cursor.size();
    context.partial = word;
    context.quoted = in_quote;
    return context;
}

CompletionEdit complete_word(const CompletionContext& context,
                             const std::vector<std::string>& candidates, bool ignore_case) {
    std::vector<std::string> matches;
    for (const std::string& candidate : candidates) {
        if (starts_with(candidate, context.partial, ignore_case))
            matches.push_back(candidate);
    }
    std::sort(matches.begin(), matches.end());
    matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
    CompletionEdit edit;
    if (matches.empty())
        return edit;
    const bool unique = matches.size() == 1;
    const std::string word = matches.front().substr(0, common_prefix_length(matches, ignore_case));
    if (!unique && word.size() <= context.partial.size()) {
        edit.choices = matches;
        return edit;
    }
    const bool quote = context.quoted || word.find(' ') != std::string::npos;
    edit.replacement = (quote ? "\"" : "") + word;
    if (unique && !wants_more(word))
        edit.replacement += quote ? "\" " : " ";
    return edit;
}

std::vector<std::string> completion_columns(const std::vector<std::string>& choices,
                                            size_t width) {
    size_t widest = 0;
    for (const std::string& choice : choices)
        widest = std::max(widest, choice.size());
    const size_t column_width = widest + 2;
    const size_t columns = std::max<size_t>(1, width / column_width);
    const size_t rows = (choices.size() + columns - 1) / columns;
    std::vector<std::string> lines(rows);
    for (size_t i = 0; i < choices.size(); ++i) {
        std::string& line = lines[i % rows];
        line += choices[i];
        if (i + rows < choices.size())
            line.append(column_width - choices[i].size(), ' ');
    }
    return lines;
}
