#include "plot/drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <map>

namespace {

constexpr double MARGIN = 24;
constexpr double PLOT_X0 = MARGIN + 70; // identifiers to the left
constexpr double PLOT_X1 = 789;         // the summary table to the right
constexpr double TABLE_X = PLOT_X1 + 16;
constexpr double TIMELINE_TOP = 92;
constexpr double LOAD_HEIGHT = 60;
constexpr double LOAD_TOP_RATIO = 1.25; // the strip shows up to 125 % of the capacity
constexpr double ROW_SPACE = 258;       // for both row blocks: what the page leaves
constexpr double ROW_HEIGHT_MAX = 18;
constexpr size_t ROWS_MAX = 80;         // more would be thinner than a line of text
constexpr int COLUMNS = static_cast<int>(PLOT_X1 - PLOT_X0);

struct Frame {
    int64_t t0 = 0, span = 1; // ms
    double row_height = ROW_HEIGHT_MAX;
    size_t rows = 0;
    double x(int64_t ms) const {
        return PLOT_X0 + static_cast<double>(ms - t0) * (PLOT_X1 - PLOT_X0) / static_cast<double>(span);
    }
    int column(int64_t ms) const {
        return std::clamp(static_cast<int>(x(ms) - PLOT_X0), 0, COLUMNS - 1);
    }
    double timeline_top(size_t row) const { return TIMELINE_TOP + static_cast<double>(row) * row_height; }
    double timeline_bottom() const { return timeline_top(rows); }
    double intervals_top(size_t row) const {
        return timeline_bottom() + 36 + static_cast<double>(row) * row_height;
    }
    double load_top() const { return intervals_top(rows) + 30; }
};

Shape shape_of(Shape::Kind kind, double x1, double y1, double x2, double y2, const char* role) {
    Shape shape;
    shape.kind = kind;
    shape.x1 = x1;
    shape.y1 = y1;
    shape.x2 = x2;
    shape.y2 = y2;
    shape.role = role;
    return shape;
}

Shape text_at(double x, double y, const std::string& text, const char* role, double size = 11) {
    Shape shape = shape_of(Shape::TEXT, x, y, 0, 0, role);
    shape.text = text;
    shape.size = size;
    return shape;
}

Shape line_from(double x1, double y1, double x2, double y2, const char* role) {
    return shape_of(Shape::LINE, x1, y1, x2, y2, role);
}

Shape rect_at(double x, double y, double width, double height, const char* role) {
    return shape_of(Shape::RECT, x, y, width, height, role);
}

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* format, ...) {
    char text[64];
    va_list values;
    va_start(values, format);
    std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    return text;
}

std::string duration_text(uint32_t ms) {
    return ms >= 1000 ? printed("%.1f s", ms / 1000.0) : std::to_string(ms) + " ms";
}

uint32_t median_of(std::vector<uint32_t> values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// The intervals of each identifier, the first arrival of each having none.
std::vector<std::vector<const LoggedSentence*>> by_row(const StatLog& log) {
    std::vector<std::vector<const LoggedSentence*>> rows(log.identifiers.size());
    for (const LoggedSentence& sentence : log.sentences)
        rows[sentence.row].push_back(&sentence);
    return rows;
}

// A round step for the time axis that gives about five to ten marks.
int64_t axis_step(int64_t span) {
    for (int64_t scale = 1;; scale *= 10) {
        for (int64_t factor : {1, 2, 5}) {
            if (span / (factor * scale) <= 10)
                return factor * scale;
        }
    }
}

void draw_axis(Drawing& drawing, const Frame& frame, double y) {
    drawing.shapes.push_back(line_from(PLOT_X0, y, PLOT_X1, y, "axis"));
    const int64_t step = axis_step(frame.span);
    for (int64_t ms = (frame.t0 + step - 1) / step * step; ms <= frame.t0 + frame.span; ms += step) {
        const double x = frame.x(ms);
        drawing.shapes.push_back(line_from(x, y, x, y + 3, "axis"));
        const std::string label = step >= 1000 ? printed("%.0f s", ms / 1000.0) : printed("%.1f s", ms / 1000.0);
        drawing.shapes.push_back(text_at(x, y + 13, label, "axis-label", 9));
    }
}

// Arrivals closer than a pixel share a column; how many do is drawn as density.
void draw_ticks(Drawing& drawing, const Frame& frame, size_t row,
                const std::vector<const LoggedSentence*>& sentences) {
    std::vector<uint32_t> per_column(COLUMNS, 0);
    for (const LoggedSentence* sentence : sentences)
        ++per_column[static_cast<size_t>(frame.column(sentence->ms))];
    const uint32_t most = *std::max_element(per_column.begin(), per_column.end());
    const double top = frame.timeline_top(row) + 1, bottom = top + frame.row_height - 2;
    Shape levels[3];
    const char* roles[3] = {"tick", "tick-dense", "tick-densest"};
    for (int level = 0; level < 3; ++level) {
        levels[level].kind = Shape::SEGMENTS;
        levels[level].role = roles[level];
    }
    for (int column = 0; column < COLUMNS; ++column) {
        const uint32_t count = per_column[static_cast<size_t>(column)];
        if (count == 0)
            continue;
        const int level = most <= 1 ? 0 : std::min(2, static_cast<int>(3 * (count - 1) / most));
        const double x = PLOT_X0 + column + 0.5;
        levels[level].points.push_back({x, top});
        levels[level].points.push_back({x, bottom});
    }
    for (Shape& level : levels) {
        if (!level.points.empty())
            drawing.shapes.push_back(std::move(level));
    }
}

// Intervals against the median: the band's middle is the median, its edges
// no interval and twice the median; spread is jitter, a slope drift.
void draw_intervals(Drawing& drawing, const Frame& frame, size_t row,
                    const std::vector<const LoggedSentence*>& sentences, uint32_t median) {
    const double top = frame.intervals_top(row), middle = top + frame.row_height / 2;
    drawing.shapes.push_back(line_from(PLOT_X0, middle, PLOT_X1, middle, "median"));
    if (median == 0)
        return;
    std::vector<double> low(COLUMNS, 1e9), high(COLUMNS, -1e9);
    for (size_t i = 1; i < sentences.size(); ++i) {
        const double ratio = std::clamp((static_cast<double>(sentences[i]->interval) - median) / median, -1.0, 1.0);
        const double y = middle - ratio * (frame.row_height / 2 - 1);
        const size_t column = static_cast<size_t>(frame.column(sentences[i]->ms));
        low[column] = std::min(low[column], y);
        high[column] = std::max(high[column], y);
    }
    Shape marks;
    marks.kind = Shape::SEGMENTS;
    marks.role = "interval";
    for (int column = 0; column < COLUMNS; ++column) {
        if (low[static_cast<size_t>(column)] > high[static_cast<size_t>(column)])
            continue;
        const double x = PLOT_X0 + column + 0.5;
        marks.points.push_back({x, low[static_cast<size_t>(column)] - 1.5});
        marks.points.push_back({x, high[static_cast<size_t>(column)] + 1.5});
    }
    if (!marks.points.empty())
        drawing.shapes.push_back(std::move(marks));
}

void draw_gap(Drawing& drawing, const Frame& frame, const Gap& gap, bool labelled) {
    const double x1 = frame.x(gap.end_ms - gap.length_ms), x2 = frame.x(gap.end_ms);
    const double top = frame.timeline_top(gap.row);
    drawing.shapes.push_back(rect_at(x1, top + 1, std::max(1.0, x2 - x1), frame.row_height - 2,
                                     gap.is_break ? "break" : "gap"));
    if (labelled)
        drawing.shapes.push_back(text_at(std::min(x2 + 2, PLOT_X1 - 28), top + frame.row_height * 0.75,
                                         duration_text(gap.length_ms), "gap-label",
                                         std::min(10.0, frame.row_height)));
}

void draw_table(Drawing& drawing, const Frame& frame, const StatLog& log,
                const std::vector<RowSummary>& rows) {
    const double size = std::min(11.0, frame.row_height);
    const struct {
        const char* heading;
        double right;
    } columns[] = {{"Hz", 95}, {"mean", 132}, {"med", 164}, {"min", 194}, {"max", 230}, {"brk", 256}, {"cnt", 294}};
    drawing.shapes.push_back(text_at(TABLE_X, TIMELINE_TOP - 6, "Id", "heading", 10));
    for (const auto& column : columns)
        drawing.shapes.push_back(text_at(TABLE_X + column.right, TIMELINE_TOP - 6, column.heading, "heading-number", 10));
    for (size_t row = 0; row < frame.rows; ++row) {
        const RowSummary& r = rows[row];
        const double y = frame.timeline_top(row) + frame.row_height * 0.75;
        drawing.shapes.push_back(text_at(TABLE_X, y, log.identifiers[row], "cell", size));
        const std::string cells[] = {printed("%.2f", r.rate_hz), printed("%.0f", r.mean_ms),
                                     std::to_string(r.median_ms), std::to_string(r.min_ms),
                                     std::to_string(r.max_ms), std::to_string(r.breaks),
                                     std::to_string(r.count)};
        for (size_t i = 0; i < std::size(columns); ++i)
            drawing.shapes.push_back(text_at(TABLE_X + columns[i].right, y, cells[i],
                                             r.breaks > 0 && i == 5 ? "cell-number-break" : "cell-number", size));
    }
}

// Characters a second against the line's capacity, in bins of at least a
// second and two pixels.
void draw_load(Drawing& drawing, const Frame& frame, const StatLog& log, uint32_t rate) {
    const double top = frame.load_top(), bottom = top + LOAD_HEIGHT;
    const int64_t bin_ms = std::max<int64_t>(1000, (frame.span * 2 + COLUMNS - 1) / COLUMNS);
    const size_t bins = static_cast<size_t>(frame.span / bin_ms + 1);
    std::vector<double> characters(bins, 0);
    for (const LoggedSentence& sentence : log.sentences)
        characters[std::min(bins - 1, static_cast<size_t>((sentence.ms - frame.t0) / bin_ms))] += sentence.length;
    const double capacity = rate / 10.0;
    Shape outline;
    outline.kind = Shape::POLYGON;
    outline.role = "load";
    outline.points.push_back({PLOT_X0, bottom});
    for (size_t bin = 0; bin < bins; ++bin) {
        const double share = std::min(LOAD_TOP_RATIO, characters[bin] * 1000.0 / bin_ms / capacity);
        const double y = bottom - share / LOAD_TOP_RATIO * LOAD_HEIGHT;
        const double x1 = std::min(PLOT_X1, frame.x(frame.t0 + static_cast<int64_t>(bin) * bin_ms));
        const double x2 = std::min(PLOT_X1, frame.x(frame.t0 + static_cast<int64_t>(bin + 1) * bin_ms));
        outline.points.push_back({x1, y});
        outline.points.push_back({x2, y});
    }
    outline.points.push_back({PLOT_X1, bottom});
    drawing.shapes.push_back(std::move(outline));
    const double full = bottom - LOAD_HEIGHT / LOAD_TOP_RATIO;
    drawing.shapes.push_back(line_from(PLOT_X0, full, PLOT_X1, full, "capacity"));
    drawing.shapes.push_back(text_at(PLOT_X0 - 4, full + 3, "100 %", "axis-label-left", 9));
    drawing.shapes.push_back(text_at(PLOT_X0 - 4, bottom, "0", "axis-label-left", 9));
    drawing.shapes.push_back(text_at(PLOT_X0, top - 6,
                                     "Load: characters a second against the line's " +
                                         printed("%.0f", capacity) + " (" + std::to_string(rate) + " baud)",
                                     "section", 11));
    draw_axis(drawing, frame, bottom);
}

void draw_title(Drawing& drawing, const StatLog& log, const PlotOptions& options, const Frame& frame,
                uint32_t rate) {
    drawing.shapes.push_back(text_at(MARGIN, 36, "Sentence timing: " + options.title, "title", 16));
    std::string subtitle = printed("From %.3f s", frame.t0 / 1000.0) +
                           printed(" for %.1f s of the log, ", frame.span / 1000.0) +
                           std::to_string(log.sentences.size()) + " sentences, " +
                           std::to_string(log.identifiers.size()) + " identifiers, " +
                           std::to_string(rate) + (options.baud ? " baud" : " baud (assumed)");
    drawing.shapes.push_back(text_at(MARGIN, 56, subtitle, "subtitle", 11));
}

} // namespace

std::vector<RowSummary> summarise(const StatLog& log) {
    std::vector<RowSummary> rows(log.identifiers.size());
    const auto sentences = by_row(log);
    for (size_t row = 0; row < rows.size(); ++row) {
        RowSummary& r = rows[row];
        const auto& list = sentences[row];
        r.count = static_cast<uint32_t>(list.size());
        std::vector<uint32_t> intervals;
        for (size_t i = 1; i < list.size(); ++i)
            intervals.push_back(list[i]->interval);
        if (intervals.empty())
            continue;
        const auto [least, most] = std::minmax_element(intervals.begin(), intervals.end());
        r.min_ms = *least;
        r.max_ms = *most;
        double sum = 0;
        for (uint32_t interval : intervals)
            sum += interval;
        r.mean_ms = sum / static_cast<double>(intervals.size());
        r.median_ms = median_of(intervals);
        const int64_t span = list.back()->ms - list.front()->ms;
        r.rate_hz = span > 0 ? static_cast<double>(intervals.size()) * 1000.0 / static_cast<double>(span) : 0;
        for (size_t i = 1; i < intervals.size(); ++i)
            r.breaks += intervals[i] >= 2 * intervals[i - 1];
    }
    return rows;
}

std::vector<Gap> find_gaps(const StatLog& log) {
    std::vector<Gap> gaps;
    const auto sentences = by_row(log);
    for (size_t row = 0; row < sentences.size(); ++row) {
        const auto& list = sentences[row];
        size_t largest = 0;
        for (size_t i = 1; i < list.size(); ++i) {
            if (largest == 0 || list[i]->interval > list[largest]->interval)
                largest = i;
            if (i >= 2 && list[i]->interval >= 2 * list[i - 1]->interval)
                gaps.push_back({row, list[i]->ms, list[i]->interval, true, false});
        }
        if (largest == 0)
            continue;
        const auto as_break = std::find_if(gaps.begin(), gaps.end(), [&](const Gap& gap) {
            return gap.row == row && gap.end_ms == list[largest]->ms;
        });
        if (as_break != gaps.end())
            as_break->largest = true;
        else
            gaps.push_back({row, list[largest]->ms, list[largest]->interval, false, true});
    }
    return gaps;
}

uint32_t line_rate(const StatLog& log, uint32_t baud) {
    if (baud != 0)
        return baud;
    std::map<int64_t, uint64_t> per_second;
    for (const LoggedSentence& sentence : log.sentences)
        per_second[sentence.ms / 1000] += sentence.length;
    uint64_t busiest = 0;
    for (const auto& [second, characters] : per_second)
        busiest = std::max(busiest, characters);
    return busiest * 10 <= 4800 ? 4800 : 38400;
}

Drawing draw_stat_log(const StatLog& log, const PlotOptions& options) {
    Drawing drawing;
    Frame frame;
    if (!log.sentences.empty()) {
        frame.t0 = log.sentences.front().ms;
        frame.span = std::max<int64_t>(1, log.sentences.back().ms - frame.t0);
    }
    frame.rows = std::min(log.identifiers.size(), ROWS_MAX);
    frame.row_height = frame.rows ? std::min(ROW_HEIGHT_MAX, ROW_SPACE / static_cast<double>(frame.rows)) : ROW_HEIGHT_MAX;
    const uint32_t rate = line_rate(log, options.baud);
    draw_title(drawing, log, options, frame, rate);
    if (log.sentences.empty()) {
        drawing.shapes.push_back(text_at(MARGIN, TIMELINE_TOP, "The log holds no sentences.", "section"));
        return drawing;
    }
    drawing.shapes.push_back(text_at(PLOT_X0, TIMELINE_TOP - 6, "Arrivals, breaks and the largest gap of each", "section"));
    const auto sentences = by_row(log);
    const std::vector<RowSummary> summary = summarise(log);
    for (size_t row = 0; row < frame.rows; ++row) {
        const double label_size = std::min(11.0, frame.row_height);
        drawing.shapes.push_back(text_at(PLOT_X0 - 4, frame.timeline_top(row) + frame.row_height * 0.75,
                                         log.identifiers[row], "row-label", label_size));
        drawing.shapes.push_back(text_at(PLOT_X0 - 4, frame.intervals_top(row) + frame.row_height * 0.75,
                                         log.identifiers[row], "row-label", label_size));
        draw_ticks(drawing, frame, row, sentences[row]);
        draw_intervals(drawing, frame, row, sentences[row], summary[row].median_ms);
    }
    for (const Gap& gap : find_gaps(log)) {
        if (gap.row >= frame.rows)
            continue;
        const double width = frame.x(gap.end_ms) - frame.x(gap.end_ms - gap.length_ms);
        draw_gap(drawing, frame, gap, gap.largest || width >= 24);
    }
    draw_axis(drawing, frame, frame.timeline_bottom());
    drawing.shapes.push_back(text_at(PLOT_X0, frame.intervals_top(0) - 6,
                                     "Intervals against each median (middle: the median, edges: 0 and twice it)",
                                     "section"));
    draw_table(drawing, frame, log, summary);
    draw_load(drawing, frame, log, rate);
    if (log.identifiers.size() > ROWS_MAX)
        drawing.shapes.push_back(text_at(MARGIN, PAGE_HEIGHT - 8,
                                         std::to_string(log.identifiers.size() - ROWS_MAX) +
                                             " more identifiers are not drawn",
                                         "note", 10));
    return drawing;
}
