// Detail texts of the help command, by topic (a command name other than ncterm).
#pragma once

struct HelpSection {
    const char* title;   // nullptr: body only, printed without colour change
    const char* body;
    bool add_line_break; // false for the two bodies that end lines themselves
};

constexpr int MAX_HELP_SECTIONS = 2;

// Fills out with the sections for topic (compared without regard to case) on the
// given model (nullptr when unknown); returns their count, 0 for an unknown topic.
int help_sections_for(const char* topic, const char* model, HelpSection* out);
