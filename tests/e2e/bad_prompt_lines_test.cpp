// Lines at the prompt that are not plain commands: each row is a line typed at
// the prompt and what the user then sees. The lines go through one session
// with a simulated device, in the order of the table; the test build's "words"
// command shows the words a handler receives.
#include "expect.h"

namespace {

struct LineRow {
    std::string legend;
    std::string line; // without its line end
    std::string seen; // what follows on standard output, before the next prompt
};

std::string numbered_words(const std::string& first, int count) {
    std::string line = first;
    for (int i = 2; i <= count; ++i)
        line += " w" + std::to_string(i);
    return line;
}

std::string words_seen(int count) {
    std::string seen = std::to_string(count) + " words: [words]";
    for (int i = 2; i <= count; ++i)
        seen += " [w" + std::to_string(i) + "]";
    return seen + "\n\n";
}

} // namespace

TEST(BadPromptLines, EachShowsItsMessageAndTheSessionGoesOn) {
    START_SIMULATOR(sim, {"--model", "NC-4100", "--baud", "38400"});
    const std::string too_long = "Error: Line too long, at most 255 characters\n\n";
    const std::string sentences = "nmea0183 sentences " + [] {
        std::string items;
        for (int i = 0; i < 30; ++i)
            items += "HEHDT:100 ";
        return items;
    }();
    const std::vector<LineRow> rows = {
        {"longest line", "words " + std::string(249, 'a'),
         "2 words: [words] [" + std::string(249, 'a') + "]\n\n"},
        {"one character too long", "words " + std::string(250, 'a'), too_long},
        {"far too long", std::string(3000, 'b'), too_long},
        // Cut at 255 characters, this would change the sentences in part and
        // then run the rest as a command.
        {"too long setting", sentences + "RMC:1000", too_long},
        {"32 words", numbered_words("words", 32), words_seen(32)},
        {"40 words", numbered_words("words", 40), "Error: Too many words, at most 32\n\n"},
        {"too many words for a setting", numbered_words("gnss receiver GPS", 40),
         "Error: Too many words, at most 32\n\n"},
        {"quotes", "words \"a b\" c\t\"d", "4 words: [words] [a b] [c] [\"d]\n\n"},
        {"unmatched quote", "help \"nav", "Error: Unknown command: \"nav\n\n"},
        {"only a quote", "\"", "Error: Unknown command: \"\n\n"},
        // Ctrl-A stands in for a quoted blank while the line is split: it comes out as one.
        {"control bytes", "words a\x01\x7f" "b \x1b[2J", "3 words: [words] [a \x7f" "b] [\x1b[2J]\n\n"},
        {"format directives", "%s%n%x%%", "Error: Unknown command: %s%n%x%%\n\n"},
        {"NUL ends the line", std::string("words x\0y z", 11), "2 words: [words] [x]\n\n"},
        {"carriage return", "words x\r", "2 words: [words] [x]\n\n"},
        {"blanks only", " \t ", ""},
        {"empty quotes", "\"\"", ""},
        {"unknown command", "bogus x", "Error: Unknown command: bogus\n\n"},
        {"command in capitals", "ABOUT", "Error: Unknown command: ABOUT\n\n"},
    };
    std::string input;
    for (const LineRow& row : rows)
        input += row.line + "\n";
    const ToolRun run = run_tool({"-a", "-p", sim.port(), "-b", "38400"}, input + "quit\n", {}, 60,
                                 NC_TESTHOOKS_PATH);
    EXPECT_EQ(run.status, 0);
    size_t at = run.out.find("nc> ");
    ASSERT_NE(at, std::string::npos) << run.out;
    for (const LineRow& row : rows) {
        at += 4;
        const size_t next = run.out.find("nc> ", at);
        ASSERT_NE(next, std::string::npos) << row.legend << ": no prompt after it\n" << run.out;
        EXPECT_EQ(run.out.substr(at, next - at), row.seen) << row.legend;
        at = next;
    }
    EXPECT_EQ(run.out.substr(at), "nc> \n"); // quit
    // No line cut short reached the device.
    EXPECT_FALSE(holds(sim.record(), "\"text\":\"cfg n s"));
    EXPECT_FALSE(holds(sim.record(), "\"text\":\"cfg g"));
}
