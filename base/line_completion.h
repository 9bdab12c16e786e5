// What the Tab key does to a command line: which word the cursor is in, and
// how that word is completed from candidates. Pure text work; the console
// gathers the candidates and edits the line.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// The line up to the cursor, cut as the prompt cuts a line: blanks and tabs
// separate words, and double quotes keep the spaces between them.
struct CompletionContext {
    std::vector<std::string> words_before; // the finished words, quotes removed
    std::string partial;                   // the word being typed, without its quote
    size_t word_start = 0;                 // where that word starts in the line
    bool quoted = false;                   // it starts with a double quote still open
};

CompletionContext completion_context(const std::string& line_to_cursor);

struct CompletionEdit {
    // Takes the place of the line from word_start to the cursor; empty when
    // nothing is to be added.
    std::string replacement;
    // Candidates to show the user when the word cannot be taken further.
    std::vector<std::string> choices;
};

// Completes the partial word from candidates. A single match is written out
// with a blank after it, except after a candidate that ends in '/' (a folder)
// or ':' (a sentence that wants its interval). Text with a space gets a
// double quote in front, and one at its end once it is complete.
CompletionEdit complete_word(const CompletionContext& context,
                             const std::vector<std::string>& candidates, bool ignore_case);

// The candidates laid out in columns no wider than width, one string per row.
std::vector<std::string> completion_columns(const std::vector<std::string>& choices,
                                            size_t width);
