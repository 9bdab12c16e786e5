// nc-stat-plot: the picture of a "stat -l" log for the service report.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/files.h"
#include "base/text.h"
#include "plot/drawing.h"
#include "plot/svg.h"
#include "plot/stat_log.h"

namespace {

constexpr uintmax_t LOG_SIZE_MAX = 512u * 1024 * 1024; // far beyond a day at 38400 baud

struct Arguments {
    std::string log, output;
    double from = -1, to = -1;
    uint32_t baud = 0;
};

void print_usage(FILE* stream, const char* program) {
    std::fprintf(stream,
                 "Usage: %s LOG [-o FILE.svg] [--from S] [--to S] [-b RATE]\n"
                 "Draws the timing of a 'stat -l' log as one SVG picture (A4 landscape).\n"
                 "  -o FILE.svg  where the picture goes (default: LOG with .svg)\n"
                 "  --from S     leave out what came before S seconds of the log's clock\n"
                 "  --to S       leave out what came after S seconds\n"
                 "  -b RATE      the line's baud rate for the load (default: 4800 or 38400,\n"
                 "               whichever carries the busiest second)\n"
                 "  -h           this text\n",
                 program);
}

bool read_seconds(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && *value >= 0 && *value <= STAT_LOG_MAX_MS / 1000.0;
}

// 0 to go on, else the exit status.
int parse_arguments(int argc, char** argv, Arguments* arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "-h" || option == "--help") {
            print_usage(stdout, argv[0]);
            return -1;
        }
        if ((option == "-o" || option == "--from" || option == "--to" || option == "-b") && !has_value) {
            std::fprintf(stderr, "Error: %s needs a value\n", option.c_str());
            return 1;
        }
        if (option == "-o") {
            arguments->output = argv[++i];
        } else if (option == "--from" || option == "--to") {
            double* target = option == "--from" ? &arguments->from : &arguments->to;
            if (!read_seconds(argv[++i], target)) {
                std::fprintf(stderr, "Error: Invalid %s: %s\n", option.c_str() + 2, argv[i]);
                return 1;
            }
        } else if (option == "-b") {
            if (!read_u32(argv[++i], &arguments->baud) || arguments->baud < 300) {
                std::fprintf(stderr, "Error: Invalid baud rate: %s\n", argv[i]);
                return 1;
            }
        } else if (option.size() > 1 && option[0] == '-') {
            std::fprintf(stderr, "Error: Unknown option: %s\n", option.c_str());
            return 1;
        } else if (arguments->log.empty()) {
            arguments->log = option;
        } else {
            std::fprintf(stderr, "Error: One log at a time: %s\n", option.c_str());
            return 1;
        }
    }
    if (arguments->log.empty()) {
        print_usage(stderr, argv[0]);
        return 1;
    }
    if (arguments->from >= 0 && arguments->to >= 0 && arguments->to <= arguments->from) {
        std::fprintf(stderr, "Error: --to must lie after --from\n");
        return 1;
    }
    if (arguments->output.empty())
        arguments->output = std::filesystem::path(arguments->log).replace_extension(".svg").string();
    if (arguments->output == arguments->log) {
        std::fprintf(stderr, "Error: the picture would replace the log; name it with -o\n");
        return 1;
    }
    return 0;
}

bool read_log(const std::string& path, std::string* text) {
    std::string error;
    if (read_file_whole(path, LOG_SIZE_MAX, "a log", text, &error))
        return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

void warn_about(const StatLog& log) {
    if (log.bad_lines > 0)
        std::fprintf(stderr, "Warning: %u lines are not log lines and are left out (the first: line %u)\n",
                     log.bad_lines, log.first_bad_line);
    if (log.backwards > 0)
        std::fprintf(stderr, "Warning: %u lines go back in time and are left out (the first: line %u)\n",
                     log.backwards, log.first_backwards_line);
}

bool write_picture(const std::string& path, const std::string& svg) {
    std::string error;
    if (write_file_whole(path, svg, &error))
        return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    const int parsed = parse_arguments(argc, argv, &arguments);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;
    std::string text;
    if (!read_log(arguments.log, &text))
        return 1;
    const StatLog log = parse_stat_log(text, arguments.from, arguments.to);
    warn_about(log);
    if (log.sentences.empty()) {
        std::fprintf(stderr, "Error: %s holds no log lines%s\n", arguments.log.c_str(),
                     arguments.from >= 0 || arguments.to >= 0 ? " in the time asked for" : "");
        return 1;
    }
    PlotOptions options;
    options.title = std::filesystem::path(arguments.log).filename().string();
    options.baud = arguments.baud;
    if (!write_picture(arguments.output, svg_document(draw_stat_log(log, options))))
        return 1;
    std::printf("%zu sentences of %zu identifiers drawn to %s\n", log.sentences.size(),
                log.identifiers.size(), arguments.output.c_str());
    return 0;
}
