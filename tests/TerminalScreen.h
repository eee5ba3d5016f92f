// What a terminal shows after the bytes written to it: printable
// characters, carriage return, line feed and "erase to the end of the line"
// (ESC [ K), on rows of a given width. A character written past the last
// column starts the next row (as xterm wraps it: once the next character
// comes); a narrower terminal cuts its rows (as xterm, nothing reflows).
#ifndef MVSCAN_TESTS_TERMINALSCREEN_H
#define MVSCAN_TESTS_TERMINALSCREEN_H

#include <algorithm>
#include <string>
#include <vector>

namespace testing_files {

class TerminalScreen {
 public:
  explicit TerminalScreen(size_t columns) : _columns(columns), _rows(1) {}

  void resize(size_t columns) {
    _columns = columns;
    for (std::string& row : _rows) row.resize(std::min(row.size(), columns));
    _column = std::min(_column, columns - 1);
    _wrapNext = false;
  }

  // False at the first byte it does not know.
  bool write(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c == '\r') {
        _column = 0, _wrapNext = false;
      } else if (c == '\n') {
        newRow();
      } else if (bytes.compare(i, 3, "\033[K") == 0) {
        std::string& row = _rows[_row];
        row.resize(std::min(row.size(), _column));
        _wrapNext = false;
        i += 2;
      } else if (c >= ' ' && c <= '~') {
        if (_wrapNext) newRow(), _column = 0;
        std::string& row = _rows[_row];
        if (row.size() <= _column) row.resize(_column + 1, ' ');
        row[_column] = c;
        if (_column + 1 == _columns) {
          _wrapNext = true;
        } else {
          ++_column;
        }
      } else {
        return false;
      }
    }
    return true;
  }

  // The rows without their trailing blanks and without empty rows at the
  // end, each ended by a line feed.
  std::string text() const {
    std::string all;
    size_t end = _rows.size();
    while (end > 0 && _rows[end - 1].find_last_not_of(' ') == std::string::npos) --end;
    for (size_t r = 0; r < end; ++r) {
      const size_t last = _rows[r].find_last_not_of(' ');
      all += (last == std::string::npos ? "" : _rows[r].substr(0, last + 1)) + "\n";
    }
    return all;
  }

 private:
  void newRow() {
    ++_row;
    _wrapNext = false;
    if (_rows.size() <= _row) _rows.resize(_row + 1);
  }

  size_t _columns;
  std::vector<std::string> _rows;
  size_t _row = 0;
  size_t _column = 0;
  bool _wrapNext = false;
};

}  // namespace testing_files

#endif  // MVSCAN_TESTS_TERMINALSCREEN_H
