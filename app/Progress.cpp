#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace mvscan {

namespace {

// Redraws per second at most: often enough to look alive, rarely enough to
// cost nothing.
constexpr auto REDRAW = std::chrono::milliseconds(200);

// Carriage return, then clear to the end of the line.
constexpr char ERASE[] = "\r\033[K";

void writeAll(int fd, const std::string& s) {
  const char* p = s.data();
  size_t n = s.size();
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w <= 0) return;  // a terminal that went away: no progress, no fuss
    p += w;
    n -= size_t(w);
  }
}

std::string bytesText(double bytes) {
  static const char* const UNITS[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  int u = 0;
  while (bytes >= 1024 && u < 5) bytes /= 1024, ++u;
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, UNITS[u]);
  return buf;
}

std::string timeText(double seconds) {
  const long s = long(seconds + 0.5);
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  }
  return buf;
}

// Set by SIGWINCH: the terminal has a new size, to be asked for before the
// next drawing. A flag is all a signal handler may safely touch.
volatile std::sig_atomic_t resized = 0;

void onResize(int) {
  resized = 1;
}

// The width of a terminal that does not tell its own.
constexpr int FALLBACK_WIDTH = 80;

int terminalWidth(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return FALLBACK_WIDTH;
  return size.ws_col;
}

}  // namespace

ProgressLine::Clock::duration ProgressLine::delayFromEnvironment() {
  const char* text = std::getenv("MVSCAN_PROGRESS_DELAY_MS");
  if (text == nullptr) return std::chrono::seconds(1);
  char* end = nullptr;
  const long long ms = std::strtoll(text, &end, 10);
  return std::chrono::milliseconds(end == text || ms < 0 ? 1000 : ms);
}

ProgressLine::ProgressLine(int fd, Clock::duration delay) : _fd(fd), _delay(delay) {
  struct sigaction action {};
  action.sa_handler = onResize;
  sigemptyset(&action.sa_mask);
  // Reads and writes that the signal interrupts go on as if it had not come.
  action.sa_flags = SA_RESTART;
  _handlerSet = ::sigaction(SIGWINCH, &action, &_oldAction) == 0;
  _width = terminalWidth(_fd);
}

ProgressLine::~ProgressLine() {
  erase();
  if (_handlerSet) ::sigaction(SIGWINCH, &_oldAction, nullptr);
}

void ProgressLine::start(const std::vector<std::string>& fileNames) {
  _started = Clock::now();
  _files = fileNames.size();
  _total = 0;
  for (const std::string& name : fileNames) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    if (!ec) _total += size;
  }
}

void ProgressLine::fileStarted(size_t index, uint64_t size) {
  _before += _sizeUnknown ? _offset : _size;
  _file = index;
  _size = size;
  _offset = 0;
  // A stream's size is known only at its end: from then on the line shows
  // the bytes done and the rate, not a total or a time left.
  _sizeUnknown = size == UNKNOWN_SIZE;
  _totalUnknown = _totalUnknown || _sizeUnknown;
  at(0);
}

std::string ProgressLine::text(size_t file, size_t files, uint64_t done, uint64_t total,
                               double seconds, int width) {
  if (width <= 1) return "";
  // The fields, most important first: the bytes done, the time left, the
  // file, the rate.
  const std::string name = "mvscan: ";
  const std::string fileText = "file " + std::to_string(file + 1) + "/" + std::to_string(files);
  const bool known = total != UNKNOWN_SIZE;
  const std::string bytes =
      bytesText(double(done)) + (known ? " of " + bytesText(double(total)) : std::string());
  const std::string percent =
      known ? std::to_string(total > 0 ? int(100.0 * double(done) / double(total)) : 100) + "%"
            : bytesText(double(done));
  std::string rate, left;
  if (seconds > 0) {
    const double perSecond = double(done) / seconds;
    rate = bytesText(perSecond) + "/s";
    if (known && perSecond > 0 && total >= done)
      left = timeText(double(total - done) / perSecond) + " left";
  }
  const auto join = [](std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& f : fields) {
      if (f.empty()) continue;
      line += (line.empty() ? "" : ", ") + f;
    }
    return line;
  };
  // A line as wide as the terminal would wrap, and a wrapped line cannot be
  // taken off again: the widest line shown leaves the last column free.
  const size_t room = size_t(width - 1);
  for (const std::string& line :
       {join({fileText, bytes, rate, left}), join({fileText, bytes, left}), join({bytes, left}),
        join({percent, left})}) {
    if (name.size() + line.size() <= room) return name + line;
  }
  return (name + percent).substr(0, room);
}

void ProgressLine::at(uint64_t offset) {
  const Clock::time_point now = Clock::now();
  if (now - _started < _delay || now - _drawn < REDRAW) return;
  _drawn = now;
  _offset = offset;
  const uint64_t done = _before + std::min(offset, _size);
  const double seconds = std::chrono::duration<double>(now - _started).count();
  if (resized) {
    resized = 0;
    _width = terminalWidth(_fd);
  }
  const uint64_t total = _totalUnknown ? UNKNOWN_SIZE : std::max(_total, done);
  std::string line = text(_file, _files, done, total, seconds, _width);
  if (_counted) {
    // A followed file: what has come so far, where the line has room.
    const std::string extra =
        ", " + std::to_string(_packets) + " packets, " + std::to_string(_problems) + " errors";
    if (line.size() + extra.size() < size_t(std::max(_width - 1, 0))) line += extra;
  }
  writeAll(_fd, ERASE + line);
  _shown = true;
}

void ProgressLine::counts(uint64_t packets, uint64_t problems) {
  _counted = true;
  _packets = packets;
  _problems = problems;
}

void ProgressLine::erase() {
  if (!_shown) return;
  writeAll(_fd, ERASE);
  _shown = false;
  // Shown again at the next redraw, not at once: report lines in between
  // would each erase it anew.
  _drawn = Clock::now();
}

}  // namespace mvscan
