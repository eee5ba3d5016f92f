// The progress line of a long run on standard error: files, bytes done of
// the total, rate and time left, redrawn a few times a second once the run
// has taken more than about a second, and erased at the end. Only on a
// terminal; the command line decides when to show it at all. The line fits
// the terminal's width, asked for again after every change of size
// (SIGWINCH): a line that wrapped could not be erased.
#ifndef MVSCAN_PROGRESS_H
#define MVSCAN_PROGRESS_H

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "run/Runs.h"

namespace mvscan {

class ProgressLine : public morven::RunProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // Draws on the terminal open as fd, after delay.
  ProgressLine(int fd, Clock::duration delay);
  ~ProgressLine() override;

  // The run's files, whose sizes make the total.
  void start(const std::vector<std::string>& fileNames);
  void fileStarted(size_t index, uint64_t size) override;
  void at(uint64_t offset) override;
  void counts(uint64_t packets, uint64_t problems) override;
  // Takes the line off the terminal, if it is shown (before report text
  // goes to the same terminal, and at the end).
  void erase();

  // How long a run goes before it shows progress: about a second, or
  // MVSCAN_PROGRESS_DELAY_MS milliseconds when that is set (tests show the
  // line at once).
  static Clock::duration delayFromEnvironment();

  // The line as drawn, for bytes done of total after seconds, on a terminal
  // of width columns: at most width - 1 columns, the least important
  // fields left out first (the rate, then the file), then the bytes as a
  // percentage, and cut off at the end on the narrowest terminals.
  static std::string text(size_t file, size_t files, uint64_t done, uint64_t total, double seconds,
                          int width);

 private:
  int _fd;
  Clock::duration _delay;
  int _width;
  bool _handlerSet = false;
  struct sigaction _oldAction {};
  Clock::time_point _started{};
  Clock::time_point _drawn{};
  bool _shown = false;
  size_t _files = 0;
  size_t _file = 0;
  uint64_t _total = 0;
  uint64_t _before = 0;        // bytes of the files before the current one
  uint64_t _size = 0;          // of the current file
  uint64_t _offset = 0;        // reached in the current file
  bool _sizeUnknown = false;   // the current file is a stream
  bool _totalUnknown = false;  // a file of the run was
  // A followed file's packets and problems so far; shown once told.
  bool _counted = false;
  uint64_t _packets = 0, _problems = 0;
};

}  // namespace mvscan

#endif  // MVSCAN_PROGRESS_H
