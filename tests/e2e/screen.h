// A small model of the technician's terminal: it takes what the tool wrote
// (text, line ends, cursor positions, clearing) and keeps the 80-column grid
// that would be on screen, so tests read values where a person reads them.
#pragma once
#include <string>
#include <vector>

class Screen {
  public:
    explicit Screen(int rows = 50, int columns = 80);
    // Interprets output: printable text (a UTF-8 character is one cell), CR,
    // LF, backspace, ESC[r;cH, ESC[H, ESC[2J, ESC[K, and the column ESC[nG
    // and insertion ESC[n@ of the line editor; colours, cursor visibility,
    // the bell and the window title change nothing on the grid.
    void feed(const std::string& bytes);
    // A row without its trailing blanks.
    std::string row(int index) const;

  private:
    void put(const std::string& cell);
    void escape(const std::string& sequence);
    std::vector<std::vector<std::string>> cells_;
    int row_ = 0;
    int column_ = 0;
};
