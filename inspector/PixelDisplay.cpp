// The packet display: one line per shown packet, with the raw word, the
// decoded bit fields, or both.
//
// A display of a large file prints millions of lines, so each line is built
// in a local character buffer (the fixed-layout data lines stamped from a
// template, the other fields with small digit writers and the to_chars-based
// helpers of Format.h) and handed to the stream buffer in one piece. The
// stream's formatting state (base, fill) is never touched, so it stays
// decimal with blank fill.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ByteOrder.h"
#include "DataInspector.h"
#include "Format.h"
#include "Packet.h"

namespace morven {

namespace {

// Bits 48..0 of a genuine FRAME_START or SEGMENT_START are zero.
constexpr uint64_t MARKER_ZERO_MASK = (1ULL << 49) - 1;

// A frame segment holds 14336 8-bit or 7168 16-bit values: 1792 packets.
constexpr uint64_t SEGMENT_VALUES_8 = 14336;
constexpr uint64_t SEGMENT_VALUES_16 = 7168;
constexpr uint64_t NO_SEGMENT = 999;

// Room for the longest line: index, raw word, a frame marker with all its
// remarks and a chunk name of at most CHUNK_NAME_MAX characters.
constexpr size_t LINE_CHARS = 512;
constexpr size_t CHUNK_NAME_MAX = 64;

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// Two hexadecimal digits for every byte value: zero-filled, and blank-filled
// (a leading zero digit shown as a blank).
constexpr auto makeHexPairs(char leadingZero) {
  std::array<char, 512> pairs{};
  for (size_t i = 0; i < 256; ++i) {
    pairs[2 * i] = i < 16 ? leadingZero : HEX_DIGITS[i >> 4];
    pairs[2 * i + 1] = HEX_DIGITS[i & 15];
  }
  return pairs;
}
constexpr auto HEX_PAIRS = makeHexPairs('0');
constexpr auto HEX_PAIRS_BLANK = makeHexPairs(' ');

// Three blank-filled decimal digits for every value below 1000.
constexpr auto DEC_TRIPLES = [] {
  std::array<char, 3000> triples{};
  for (size_t i = 0; i < 1000; ++i) {
    triples[3 * i] = i < 100 ? ' ' : char('0' + i / 100);
    triples[3 * i + 1] = i < 10 ? ' ' : char('0' + i / 10 % 10);
    triples[3 * i + 2] = char('0' + i % 10);
  }
  return triples;
}();

// The 16 hexadecimal digits of a packet word, zero-filled, all at once: the
// raw word of every packet line goes through here.
inline void putHexWord(char* p, uint64_t v) {
#if defined(__SSE2__)
  // Bytes in reading order, each split into its two nibbles, then '0' + n,
  // and 'a' - '0' - 10 more for the nibbles of 10 or more.
  const __m128i bytes = _mm_cvtsi64_si128(int64_t(byteSwap64(v)));
  const __m128i low4 = _mm_set1_epi8(0x0F);
  const __m128i nibbles =
      _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(bytes, 4), low4), _mm_and_si128(bytes, low4));
  const __m128i letters =
      _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                   _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters));
#else
  for (int half = 0; half < 2; ++half) {
    // Spread the nibbles of 32 bits out, one per byte, the lowest nibble in
    // the lowest byte; then '0' + n, and 'a' - '0' - 10 more where n >= 10.
    uint64_t x = uint32_t(v >> (32 - 32 * half));
    x = (x | x << 16) & 0x0000FFFF0000FFFFULL;
    x = (x | x << 8) & 0x00FF00FF00FF00FFULL;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0FULL;
    const uint64_t letters = ((x + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
    x += 0x3030303030303030ULL + letters * ('a' - '0' - 10);
    // The first digit goes to the lowest address.
    if constexpr (std::endian::native == std::endian::little) x = byteSwap64(x);
    std::memcpy(p + 8 * half, &x, 8);
  }
#endif
}

// Blank-filled fields of a fixed width, for values known to fit it; they
// write exactly the width.
inline void putHexBlank2(char* p, uint64_t v) {
  std::memcpy(p, &HEX_PAIRS_BLANK[2 * v], 2);
}
inline void putHexBlank3(char* p, uint64_t v) {
  const uint64_t high = v >> 8;
  p[0] = high != 0 ? HEX_DIGITS[high] : ' ';
  std::memcpy(p + 1, high != 0 ? &HEX_PAIRS[2 * (v & 0xFF)] : &HEX_PAIRS_BLANK[2 * v], 2);
}
inline void putHexBlank4(char* p, uint64_t v) {
  const uint64_t high = v >> 8;
  if (high != 0) {
    std::memcpy(p, &HEX_PAIRS_BLANK[2 * high], 2);
    std::memcpy(p + 2, &HEX_PAIRS[2 * (v & 0xFF)], 2);
  } else {
    std::memcpy(p, "  ", 2);
    std::memcpy(p + 2, &HEX_PAIRS_BLANK[2 * v], 2);
  }
}
inline void putDecBlank3(char* p, uint64_t v) {
  std::memcpy(p, &DEC_TRIPLES[3 * v], 3);
}

// The start of both data packet lines: "top=", EoC, pixel number and the
// pixel's place on the chip. Every field fits its width, so the line is
// stamped from a template and only the digits are written.
constexpr std::string_view PLACE_TEMPLATE = "top=0 eoc=   pixnr=    (x=    y=   )";
// The rest of the ToA/ToT line, likewise.
constexpr std::string_view TOA_TOT_TEMPLATE =
    " toa=     uftoa-sta/sto=0,0 ftoa-f/r=  ,   tot=    pileup=0";

// Where the value after label starts in a template.
constexpr size_t fieldAt(std::string_view templ, std::string_view label, size_t from = 0) {
  return templ.find(label, from) + label.size();
}

constexpr uint64_t POWERS_OF_10[] = {1,      10,      100,      1000,      10000,
                                     100000, 1000000, 10000000, 100000000, 1000000000};

// One output line under construction. Widths fill with blanks unless a
// piece says zero-filled. The fields of a packet line fit their widths, so
// the digits are written straight into their place; Format.h's helpers
// take the numbers of unbounded size.
class Line {
 public:
  template <size_t N>
  Line& text(const char (&literal)[N]) {
    return text(literal, N - 1);
  }
  Line& text(const char* s, size_t n) {
    std::memcpy(_end, s, n);
    _end += n;
    return *this;
  }
  Line& text(const std::string& s, size_t maxChars) {
    return text(s.data(), std::min(s.size(), maxChars));
  }
  Line& dec(uint64_t v, int width = 0) {
    if (width <= 0 || width >= int(std::size(POWERS_OF_10)) || v >= POWERS_OF_10[width]) {
      _end = putDec(_end, v, width, ' ');
      return *this;
    }
    char* p = _end + width;
    do {
      *--p = char('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (p > _end) *--p = ' ';
    _end += width;
    return *this;
  }
  Line& hex(uint64_t v, int width = 0, char fill = ' ') {
    const int digits = v == 0 ? 1 : (std::bit_width(v) + 3) / 4;
    const int n = std::max(width, digits);
    char* p = _end + n;
    for (int i = 0; i < digits; ++i, v >>= 4) *--p = HEX_DIGITS[v & 15];
    while (p > _end) *--p = fill;
    _end += n;
    return *this;
  }
  Line& hexZero(uint64_t v, int width) { return hex(v, width, '0'); }
  // A whole packet word, 16 digits, zero-filled.
  Line& hexWord(uint64_t v) {
    putHexWord(_end, v);
    _end += 16;
    return *this;
  }
  // Two digits of a byte value.
  Line& hexByte(uint64_t v) { return text(&HEX_PAIRS[2 * (v & 0xFF)], 2); }
  // Appends what a writer of a fixed-layout field group puts at the end.
  Line& put(char* (*writer)(char*, uint64_t), uint64_t w) {
    _end = writer(_end, w);
    return *this;
  }
  bool empty() const { return _end == _buf; }

  // Ends the line and writes it in one piece; a flushed line reaches a
  // terminal at once. A refused write fails the stream, as it would for
  // the stream's own output, so that the run stops.
  void end(std::ostream& out, bool flush = true) {
    *_end++ = '\n';
    std::streambuf* sb = out.rdbuf();
    if (sb->sputn(_buf, _end - _buf) != _end - _buf || (flush && sb->pubsync() != 0))
      out.setstate(std::ios::badbit);
  }

 private:
  char _buf[LINE_CHARS];
  char* _end = _buf;
};

char* putPixelPlace(char* p, uint64_t w) {
  const uint64_t top = w >> 63;
  const uint64_t eoc = bitField(w, 62, 55);
  const uint64_t pixnr = bitField(w, 54, 46);
  uint64_t x = 2 * eoc + ((pixnr >> 2) & 1);
  uint64_t y = 4 * (pixnr >> 3) + (pixnr & 3);
  // The top half holds rows 256..511, its coordinates mirrored in both
  // directions.
  if (top != 0) {
    x = 447 - x;
    y = 511 - y;
  }
  static constexpr std::string_view T = PLACE_TEMPLATE;
  static constexpr size_t TOP = fieldAt(T, "top="), EOC = fieldAt(T, " eoc="),
                          PIXNR = fieldAt(T, " pixnr="), X = fieldAt(T, "(x="),
                          Y = fieldAt(T, " y=");
  std::memcpy(p, T.data(), T.size());
  p[TOP] = char('0' + top);
  putHexBlank2(p + EOC, eoc);
  putHexBlank3(p + PIXNR, pixnr);
  putDecBlank3(p + X, x);
  putDecBlank3(p + Y, y);
  return p + T.size();
}

char* putToaTotFields(char* p, uint64_t w) {
  static constexpr std::string_view T = TOA_TOT_TEMPLATE;
  static constexpr size_t TOA = fieldAt(T, " toa="), UFTOA_STA = fieldAt(T, " uftoa-sta/sto="),
                          UFTOA_STO = fieldAt(T, ",", UFTOA_STA), FTOA_F = fieldAt(T, " ftoa-f/r="),
                          FTOA_R = fieldAt(T, ",", FTOA_F), TOT = fieldAt(T, " tot="),
                          PILEUP = fieldAt(T, " pileup=");
  std::memcpy(p, T.data(), T.size());
  putHexBlank4(p + TOA, bitField(w, 45, 30));
  p[UFTOA_STA] = HEX_DIGITS[bitField(w, 25, 22)];
  p[UFTOA_STO] = HEX_DIGITS[bitField(w, 29, 26)];
  putHexBlank2(p + FTOA_F, bitField(w, 16, 12));
  putHexBlank2(p + FTOA_R, bitField(w, 21, 17));
  putHexBlank3(p + TOT, bitField(w, 11, 1));
  p[PILEUP] = char('0' + (w & 1));
  return p + T.size();
}

// The values of a frame-mode packet: the odd bytes from the top down, then
// the even ones.
void putFrame8Values(Line& line, uint64_t w) {
  static constexpr int READOUT_BYTES[8] = {7, 5, 3, 1, 6, 4, 2, 0};
  line.text(", pix0-7:");
  for (int b : READOUT_BYTES) line.text(" ").hexByte(w >> (8 * b));
}

// 16-bit values: each the pair of bytes two apart, the upper one the high
// byte (7:5, 3:1, 6:4, 2:0).
void putFrame16Values(Line& line, uint64_t w) {
  static constexpr int HIGH_BYTE[4] = {7, 3, 6, 2};
  line.text(", pix0-3:");
  for (int b : HIGH_BYTE) {
    const uint64_t value = ((w >> (8 * b)) & 0xFF) << 8 | ((w >> (8 * (b - 2))) & 0xFF);
    line.text(" ").hexZero(value, 4);
  }
}

void putTestGenFields(Line& line, uint64_t w) {
  line.text((w >> 63) != 0 ? "T" : "B", 1);
  line.text(" cntr30=").dec((w >> 30) & 0xFFFF, 5);
  // The 18-bit window from bit 46 leaves out packet bit 60.
  line.text(" cntr46=").dec((w >> 46) & 0x3BFFF, 6);
  line.text(" constant=").hex(w & 0x3FFFFFFF);
}

// The difference to the previous value of a timer, modulo 2^64 like the
// counters themselves.
void putDiff(Line& line, uint64_t v, uint64_t previous) {
  line.text(" (diff=").dec(v - previous).text(")");
}

// The half and the fields shared by all frame and segment markers.
void putMarkerTail(Line& line, uint64_t w, bool withSegmentAddr) {
  line.text((w >> 63) != 0 ? "top" : "bot", 3).text(" header=").hex(bitField(w, 62, 55), 2);
  if (withSegmentAddr) line.text(" segment_addr=").hex(bitField(w, 54, 52));
  line.text(" readout_mode=").hex(bitField(w, 51, 50));
}

}  // namespace

void DataInspector::displayPixel(uint64_t index, bool showCounter, bool showRaw, bool showFields,
                                 bool testGen, bool skipZeroPackets) {
  const uint64_t w = *_pixel;
  if (skipZeroPackets && w == 0) return;
  // The raw word alone (-R), the quickest look at a large file, takes the
  // shortest way.
  if (showRaw && !showFields && !showCounter) {
    char text[17];
    putHexWord(text, w);
    text[16] = '\n';
    std::streambuf* sb = _out.rdbuf();
    if (sb->sputn(text, sizeof text) != sizeof text || sb->pubsync() != 0)
      _out.setstate(std::ios::badbit);
    return;
  }

  Line line;
  if (showCounter) line.dec(index, 4).text(": ");
  if (showRaw) {
    line.hexWord(w);
    if (!showFields) {
      line.end(_out);
      return;
    }
    line.text(" ");
  }

  const uint64_t l = _currentLink;
  if (_fromPelvan) {
    const uint64_t position = index % PELVAN_BLOCK_WORDS;
    if (position == 1) {
      line.text("(Pelvan header: seqH=").dec(bitField(w, 47, 43), 2);
      line.text(" seqL=").dec(bitField(w, 15, 11), 2);
      line.text(" linkL=").dec(bitField(w, 10, 6)).text(")");
      line.end(_out);
      // A 5-bit link number: always inside the per-link tables.
      static_assert(DISPLAY_LINKS > bitField(~uint64_t(0), 10, 6));
      _currentLink = bitField(w, 10, 6);
      return;
    }
    if (position == 0) {
      line.text("(Pelvan trailer: payload=").dec(bitField(w, 9, 0)).text(")");
      line.end(_out);
      return;
    }
    // Zero words fill Pelvan blocks; inside an open segment they are pixel
    // values all the same.
    if (w == 0 && !_segmentStarted[l]) {
      if (!line.empty()) line.end(_out);
      return;
    }
  }

  // Every packet of an open segment is pixel values, even one that looks
  // like a marker: the segment ends by its count alone.
  if (_segmentStarted[l]) {
    if (_frame8) {
      _segmentPixels[l] += 8;
      line.text("FRAME8: segm=").dec(_segmentAddr[l]).text(" pixels=").dec(_segmentPixels[l], 4);
      putFrame8Values(line, w);
      line.end(_out);
      if (_segmentPixels[l] >= SEGMENT_VALUES_8) _segmentStarted[l] = false;
    } else if (_frame16) {
      _segmentPixels[l] += 4;
      line.text("FRAME16: segm=").dec(_segmentAddr[l]).text(" pixels=").dec(_segmentPixels[l], 4);
      putFrame16Values(line, w);
      line.end(_out);
      if (_segmentPixels[l] >= SEGMENT_VALUES_16) _segmentStarted[l] = false;
    } else {
      // Without a known width the values cannot be read: show the word and
      // give up the segment.
      line.text("### FRAME?? pixel: ").hexWord(w);
      line.end(_out);
      _segmentStarted[l] = false;
    }
    return;
  }

  // IDLE and empty packets come in long runs between the data: their lines
  // are not flushed one by one.
  if (w == IDLE_WORD) {
    line.text("IDLE");
    line.end(_out, false);
    return;
  }
  if (w == EMPTY_PACKET_WORD) {
    line.text("MORVEN-EMPTY-PACKET");
    line.end(_out, false);
    return;
  }

  if (testGen) {
    putTestGenFields(line, w);
    line.end(_out);
    return;
  }

  const uint64_t type = bitField(w, 62, 55);
  const uint64_t v = w & TIMER_VALUE_MASK;
  const bool top = (w >> 63) != 0;
  const char* half = top ? "T " : "B ";
  const bool genuine = (w & MARKER_ZERO_MASK) == 0;
  const bool frameChunk =
      _chunkType == MVHDR_VX7FRAME8 || _chunkType == MVHDR_VX7FRAME16 || _forceFrame;

  if (type <= VX7_EOC_MAX_COLNR) {
    if (_chunkType == MVHDR_VX7TOATOT && !_forceFrame) {
      line.put(putPixelPlace, w).put(putToaTotFields, w);
    } else if (_chunkType == MVHDR_VX7PC24 && !_forceFrame) {
      line.put(putPixelPlace, w).text(" pc=").hex(bitField(w, 23, 0), 6);
    } else if (!showRaw) {
      // No layout to decode by (frame data outside a segment, a chunk of
      // unknown kind): the raw word, unless the prefix holds it already.
      line.hexWord(w);
    }
    line.end(_out);
    return;
  }

  // A link piece names the Pelvan link that the marker came on.
  auto putLink = [&] {
    if (_fromPelvan) line.text("link=").dec(_currentLink).text(" ");
  };
  auto putUnexpected = [&] {
    line.text("(### Unexpected, chunk = ").text(chunkTypeString(), CHUNK_NAME_MAX).text(") ");
  };

  switch (type) {
    case TESTGEN_HEARTBEAT:
      // The test generator keeps one heartbeat for both halves.
      line.text("TESTGEN-HEARTBEAT ").dec(v);
      if (_lastTestGenHeartbeat != 0) {
        putDiff(line, v, _lastTestGenHeartbeat);
      } else {
        line.text(" (diff=0)");
      }
      _lastTestGenHeartbeat = v;
      break;
    case VX7_EOC_HEARTBEAT: {
      uint64_t& last = top ? _lastHeartbeatTop : _lastHeartbeatBottom;
      line.text("HEARTBEAT ").text(half, 2).dec(v);
      if (last != 0) {
        // A heartbeat that goes back means the chip's counter was reset.
        if (v < last) {
          line.text(" (diff=reset)");
        } else {
          putDiff(line, v, last);
        }
      }
      last = v;
      break;
    }
    case VX7_EOC_CTRL_DATA_TEST: {
      uint64_t& last = top ? _lastCtrlDataTop : _lastCtrlDataBottom;
      line.text("CTRL-DATA ").text(half, 2).dec(v);
      if (last != 0) putDiff(line, v, last);
      last = v;
      break;
    }
    case VX7_EOC_SHUTTER_RISE:
      line.text("SHUTTER_RISE ").text(half, 2).dec(v);
      (top ? _lastShutterRiseTop : _lastShutterRiseBottom) = v;
      break;
    case VX7_EOC_SHUTTER_FALL: {
      // The time the shutter was open; a fall without a rise since the last
      // fall has nothing to measure from.
      uint64_t& rise = top ? _lastShutterRiseTop : _lastShutterRiseBottom;
      line.text("SHUTTER_FALL ").text(half, 2).dec(v);
      if (rise != 0) {
        putDiff(line, v, rise);
      } else {
        line.text(
            " (diff=?"
            "?)");
      }
      rise = 0;
      break;
    }
    case VX7_EOC_T0_SYNC:
      line.text("T0_SYNC ").text(half, 2).dec(v);
      break;
    case VX7_EOC_FRAME_START:
      line.text("FRAME_START ");
      if (!genuine) {
        line.text("(### False?) ");
      } else if (_frameStarted) {
        line.text("(### Already started) ");
      } else if (frameChunk) {
        _frameStarted = true;
        ++_frameCount;
        _segmentCount = 0;
      }
      line.text("#").dec(_frameCount).text(" ");
      putLink();
      // The chunk type fixes the width of the frame's pixel values; a
      // forced width holds in any chunk.
      if (_chunkType == MVHDR_VX7FRAME8) {
        line.text("(8-bit) ");
        _frame8 = true;
        _frame16 = false;
      } else if (_chunkType == MVHDR_VX7FRAME16) {
        line.text("(16-bit) ");
        _frame16 = true;
        _frame8 = false;
      } else if (_forceFrame) {
        if (_frame8) line.text("(8-bit) ");
        if (_frame16) line.text("(16-bit) ");
      } else {
        putUnexpected();
      }
      putMarkerTail(line, w, false);
      break;
    case VX7_EOC_FRAME_END:
      line.text("FRAME_END ");
      if (!_frameStarted) line.text("(### Not started) ");
      putLink();
      if (_frame8) {
        line.text("(8-bit) ");
      } else if (_frame16) {
        line.text("(16-bit) ");
      }
      line.text("frame #").dec(_frameCount).text(" ").dec(_segmentCount).text(" segments, ");
      putMarkerTail(line, w, false);
      _segmentAddr[l] = NO_SEGMENT;
      _frameStarted = false;
      break;
    case VX7_EOC_SEGMENT_START:
      line.text("SEGMENT_START ");
      if (!genuine) {
        line.text("(### False?) ");
      } else if (frameChunk) {
        _segmentStarted[l] = true;
        ++_segmentCount;
      } else {
        putUnexpected();
      }
      line.text("count=").dec(_segmentCount).text(" ");
      putLink();
      putMarkerTail(line, w, true);
      _segmentAddr[l] = bitField(w, 54, 52);
      _segmentPixels[l] = 0;
      break;
    case VX7_EOC_SEGMENT_END:
      line.text("SEGMENT_END count=").dec(_segmentCount).text(" ");
      putLink();
      line.text("pixcount=").dec(_segmentPixels[l]).text(" ");
      putMarkerTail(line, w, true);
      _segmentAddr[l] = NO_SEGMENT;
      break;
    default:
      line.text("### Unhandled EoC=").dec(type).text(" (").text(pixelTypeString(), CHUNK_NAME_MAX);
      line.text(")");
      break;
  }
  line.end(_out);
}

}  // namespace morven
