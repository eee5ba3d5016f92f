// One line of text, built in a fixed buffer and handed to an output stream
// in one piece: the packet display, the checks and the chunk reports all
// write their lines through it.
//
// The buffer never overflows: every piece is cut to the room that is left,
// and the last character is always kept for the newline. The tool's lines
// are far shorter than the capacity (a chunk name, the one piece of
// unbounded size, is cut to CHUNK_NAME_MAX characters where it is printed),
// so the cut never shows in practice; it only makes the bound hold whatever
// a caller appends. Pieces of a fixed width check their room once and are
// then written straight into place, so the display's hot lines cost one
// comparison per piece.
//
// Numbers are formatted with std::to_chars; the stream's own formatting
// state (base, fill, case) is never read nor changed.
#ifndef MORVEN_LINEWRITER_H
#define MORVEN_LINEWRITER_H

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>

namespace morven {

// Output into a file or a pipe goes out in blocks of this size: the
// program's output buffer holds one, and a writer that hands over more at
// once (the display's batches) is written without a copy into it.
constexpr size_t OUTPUT_BLOCK_BYTES = 256 * 1024;

// The longest chunk-type name a line shows.
constexpr size_t CHUNK_NAME_MAX = 64;

template <size_t Capacity = 256>
class LineWriter {
  static_assert(Capacity >= 2, "room for one character and the newline");

 public:
  // The longest line, newline included.
  static constexpr size_t CAPACITY = Capacity;

  LineWriter() : _start(_own), _end(_own) {}
  // A line built in place in the caller's memory, which must have room for
  // Capacity characters (the batches of the display loop).
  explicit LineWriter(char* place) : _start(place), _end(place) {}
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // ---- Pieces -----------------------------------------------------------------
  template <size_t N>
  LineWriter& text(const char (&literal)[N]) {
    return append(literal, N - 1);
  }
  LineWriter& text(std::string_view s) { return append(s.data(), s.size()); }
  // At most maxChars characters of s.
  LineWriter& text(std::string_view s, size_t maxChars) {
    return append(s.data(), std::min(s.size(), maxChars));
  }
  LineWriter& repeat(char c, size_t n) {
    n = std::min(n, room());
    std::memset(_end, c, n);
    _end += n;
    return *this;
  }

  // v in decimal or in lower-case hexadecimal, right-aligned in at least
  // width characters of fill.
  LineWriter& dec(uint64_t v, int width = 0, char fill = ' ') { return number(v, 10, width, fill); }
  LineWriter& hex(uint64_t v, int width = 0, char fill = ' ') { return number(v, 16, width, fill); }

  // A group of fields of a known width, written in place by
  // stamp(char* where), which writes exactly Width characters.
  template <size_t Width, class Stamp>
  LineWriter& fixed(Stamp stamp) {
    static_assert(Width < Capacity, "a fixed piece must fit an empty line");
    if (Width <= room()) [[likely]] {
      stamp(_end);
      _end += Width;
      return *this;
    }
    char piece[Width];
    stamp(piece);
    return append(piece, Width);
  }

  // ---- The line so far ----------------------------------------------------------
  bool empty() const { return _end == _start; }
  std::string_view view() const { return {_start, size_t(_end - _start)}; }
  // Characters that can still be appended (the newline's place not counted).
  size_t room() const { return size_t(_start + Capacity - 1 - _end); }

  // Ends the line with a newline and writes it in one piece, then empties
  // the line for the next one. A flushed line reaches a terminal at once;
  // long runs of lines that need not show one by one pass flush = false. A
  // stream that has failed takes nothing more, and a write or flush that
  // the stream buffer refuses fails the stream, as the stream's own output
  // operations do, so that the caller sees it and stops.
  LineWriter& end(std::ostream& out, bool flush = true) {
    *_end++ = '\n';
    const std::streamsize n = _end - _start;
    _end = _start;
    if (!out.good()) return *this;
    std::streambuf* sb = out.rdbuf();
    if (sb == nullptr || sb->sputn(_start, n) != n || (flush && sb->pubsync() != 0))
      out.setstate(std::ios::badbit);
    return *this;
  }

 private:
  LineWriter& append(const char* s, size_t n) {
    n = std::min(n, room());
    std::memcpy(_end, s, n);
    _end += n;
    return *this;
  }

  LineWriter& number(uint64_t v, int base, int width, char fill) {
    char digits[24];
    const size_t n = size_t(std::to_chars(digits, digits + sizeof digits, v, base).ptr - digits);
    if (width > int(n)) repeat(fill, size_t(width) - n);
    return append(digits, n);
  }

  char _own[Capacity];
  char* const _start;  // _own, or the caller's memory
  char* _end;
};

}  // namespace morven

#endif  // MORVEN_LINEWRITER_H
