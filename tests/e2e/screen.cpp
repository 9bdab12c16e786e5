#include "screen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

Screen::Screen(int rows, int columns)
    : cells_(static_cast<size_t>(rows), std::vector<std::string>(static_cast<size_t>(columns), " ")) {}

void Screen::put(const std::string& cell) {
    if (row_ >= static_cast<int>(cells_.size()))
        return;
    if (column_ < static_cast<int>(cells_[0].size()))
        cells_[static_cast<size_t>(row_)][static_cast<size_t>(column_)] = cell;
    ++column_;
}

void Screen::escape(const std::string& sequence) {
    if (sequence.empty())
        return;
    const char final = sequence.back();
    if (final == 'H') {
        const char* numbers = sequence.c_str();
        const char* semicolon = std::strchr(numbers, ';');
        row_ = numbers[0] == 'H' ? 0 : std::atoi(numbers) - 1;
        column_ = semicolon ? std::atoi(semicolon + 1) - 1 : 0;
    } else if (final == 'G') {
        column_ = std::max(0, std::atoi(sequence.c_str()) - 1);
    } else if (final == '@') {
        // Characters inserted at the cursor shift the rest of the row.
        if (row_ >= static_cast<int>(cells_.size()))
            return;
        auto& line = cells_[static_cast<size_t>(row_)];
        const size_t at = std::min(line.size(), static_cast<size_t>(column_));
        const size_t count = std::min(line.size() - at, static_cast<size_t>(std::max(1, std::atoi(sequence.c_str()))));
        line.insert(line.begin() + static_cast<long>(at), count, " ");
        line.resize(line.size() - count);
    } else if (final == 'K') {
        for (size_t c = static_cast<size_t>(column_); row_ < static_cast<int>(cells_.size()) && c < cells_[0].size(); ++c)
            cells_[static_cast<size_t>(row_)][c].assign(1, ' ');
    } else if (final == 'J' && sequence == "2J") {
        for (auto& line : cells_)
            for (auto& cell : line)
                cell.assign(1, ' ');
    }
}

void Screen::feed(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(bytes[i]);
        if (ch == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == '[') {
            size_t end = i + 2;
            while (end < bytes.size() && !(bytes[end] >= 0x40 && bytes[end] <= 0x7e))
                ++end;
            if (end < bytes.size())
                escape(bytes.substr(i + 2, end - i - 1));
            i = end;
        } else if (ch == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == ']') {
            const size_t bell = bytes.find('\a', i);
            i = bell == std::string::npos ? bytes.size() : bell;
        } else if (ch == '\b') {
            column_ = column_ > 0 ? column_ - 1 : 0;
        } else if (ch == '\r') {
            column_ = 0;
        } else if (ch == '\n') {
            column_ = 0; // the tool's terminal maps LF to CR LF
            ++row_;
        } else if (ch >= 0xc0) {
            size_t length = ch >= 0xf0 ? 4 : ch >= 0xe0 ? 3 : 2;
            put(bytes.substr(i, length));
            i += length - 1;
        } else if (ch >= 0x20) {
            put(std::string(1, static_cast<char>(ch)));
        }
    }
}

std::string Screen::row(int index) const {
    std::string text;
    for (const std::string& cell : cells_.at(static_cast<size_t>(index)))
        text += cell;
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}
