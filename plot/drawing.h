// The picture of a statistics log as data: shapes with their coordinates in
// pixels (96 per inch) on an A4 landscape page, apart from writing them out.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "plot/stat_log.h"

constexpr double PAGE_WIDTH = 1123;
constexpr double PAGE_HEIGHT = 794;

struct Point {
    double x = 0, y = 0;
};

struct Shape {
    enum Kind { RECT, LINE, TEXT, SEGMENTS, POLYGON } kind = LINE;
    // RECT: x1, y1 the corner, x2, y2 width and height; LINE: from and to;
    // TEXT: the anchor (x1, y1) and text.
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string text;
    // SEGMENTS: pairs of points, one line each; POLYGON: a closed outline.
    std::vector<Point> points;
    // What it shows, as the writer styles it: "tick", "break", "gap",
    // "label", "axis", "interval", "median", "load", "capacity", ...
    std::string role;
    double size = 11; // TEXT: font size
};

struct Drawing {
    double width = PAGE_WIDTH, height = PAGE_HEIGHT;
    std::vector<Shape> shapes;
};

struct PlotOptions {
    std::string title;  // the log's file name
    uint32_t baud = 0;  // 0: the lowest usual rate that carries the busiest second
};

// A gap in one identifier's stream: a break (an interval at least twice the
// one before, as stat counts them) or that identifier's largest interval.
struct Gap {
    size_t row = 0;
    int64_t end_ms = 0; // the arrival that ended it
    uint32_t length_ms = 0;
    bool is_break = false;
    bool largest = false; // the identifier's largest interval
};

// Per identifier, the numbers stat shows.
struct RowSummary {
    uint32_t count = 0;
    double rate_hz = 0;
    double mean_ms = 0;
    uint32_t min_ms = 0, max_ms = 0, median_ms = 0;
    uint32_t breaks = 0;
};

std::vector<RowSummary> summarise(const StatLog& log);
std::vector<Gap> find_gaps(const StatLog& log);
// The rate the picture measures the load against.
uint32_t line_rate(const StatLog& log, uint32_t baud);

// The whole page. A log without sentences gives a page that says so.
Drawing draw_stat_log(const StatLog& log, const PlotOptions& options);
