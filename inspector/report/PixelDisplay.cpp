// The packet display: one line per shown packet, with the raw word, the
// decoded bit fields, or both.
//
// A display of a large file prints millions of lines, so each line is built
// in a LineWriter (the fixed-layout data lines stamped from a template, the
// other fields with its digit writers) and handed to the stream buffer in
// one piece. The stream's formatting state (base, fill) is never touched,
// so it stays decimal with blank fill.
//
// displayPixel takes a packet through the parts of a line in turn: the
// prefix (index, raw word), the Pelvan framing, the values of an open frame
// segment, idle and empty words, test-generator words, data packets, and
// the control packets (timers and frame markers).
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "format/ByteOrder.h"
#include "format/ChunkTypes.h"
#include "format/Packet.h"
#include "report/PixelDisplay.h"
#include "text/LineWriter.h"

namespace morven {

namespace {

// A frame segment holds 14336 8-bit or 7168 16-bit values: 1792 packets.
constexpr uint64_t SEGMENT_VALUES_8 = 14336;
constexpr uint64_t SEGMENT_VALUES_16 = 7168;

// Room for the longest line: index, raw word, a frame marker with all its
// remarks and a chunk name of at most CHUNK_NAME_MAX characters.
using Line = LineWriter<512>;

// ---- Digits -------------------------------------------------------------------

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
inline void stampHexWord(char* p, uint64_t v) {
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
inline void stampHexBlank2(char* p, uint64_t v) {
  std::memcpy(p, &HEX_PAIRS_BLANK[2 * v], 2);
}
inline void stampHexBlank3(char* p, uint64_t v) {
  const uint64_t high = v >> 8;
  p[0] = high != 0 ? HEX_DIGITS[high] : ' ';
  std::memcpy(p + 1, high != 0 ? &HEX_PAIRS[2 * (v & 0xFF)] : &HEX_PAIRS_BLANK[2 * v], 2);
}
inline void stampHexBlank4(char* p, uint64_t v) {
  const uint64_t high = v >> 8;
  if (high != 0) {
    std::memcpy(p, &HEX_PAIRS_BLANK[2 * high], 2);
    std::memcpy(p + 2, &HEX_PAIRS[2 * (v & 0xFF)], 2);
  } else {
    std::memcpy(p, "  ", 2);
    std::memcpy(p + 2, &HEX_PAIRS_BLANK[2 * v], 2);
  }
}
inline void stampDecBlank3(char* p, uint64_t v) {
  std::memcpy(p, &DEC_TRIPLES[3 * v], 3);
}

// ---- Data packet lines --------------------------------------------------------
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

Line& putHexWord(Line& line, uint64_t w) {
  return line.fixed<16>([w](char* p) { stampHexWord(p, w); });
}

Line& putPixelPlace(Line& line, uint64_t w) {
  static constexpr std::string_view T = PLACE_TEMPLATE;
  return line.fixed<T.size()>([w](char* p) {
    static constexpr size_t TOP = fieldAt(T, "top="), EOC = fieldAt(T, " eoc="),
                            PIXNR = fieldAt(T, " pixnr="), X = fieldAt(T, "(x="),
                            Y = fieldAt(T, " y=");
    const PacketFields f = decodePacket(w);
    std::memcpy(p, T.data(), T.size());
    p[TOP] = char('0' + f.top);
    stampHexBlank2(p + EOC, f.type);
    stampHexBlank3(p + PIXNR, f.pixel);
    stampDecBlank3(p + X, f.x);
    stampDecBlank3(p + Y, f.y);
  });
}

Line& putToaTotFields(Line& line, uint64_t w) {
  static constexpr std::string_view T = TOA_TOT_TEMPLATE;
  return line.fixed<T.size()>([w](char* p) {
    static constexpr size_t TOA = fieldAt(T, " toa="), UFTOA_STA = fieldAt(T, " uftoa-sta/sto="),
                            UFTOA_STO = fieldAt(T, ",", UFTOA_STA),
                            FTOA_F = fieldAt(T, " ftoa-f/r="), FTOA_R = fieldAt(T, ",", FTOA_F),
                            TOT = fieldAt(T, " tot="), PILEUP = fieldAt(T, " pileup=");
    const PacketFields f = decodePacket(w);
    std::memcpy(p, T.data(), T.size());
    stampHexBlank4(p + TOA, f.toa);
    p[UFTOA_STA] = HEX_DIGITS[f.uftoaStart];
    p[UFTOA_STO] = HEX_DIGITS[f.uftoaStop];
    stampHexBlank2(p + FTOA_F, f.ftoaFall);
    stampHexBlank2(p + FTOA_R, f.ftoaRise);
    stampHexBlank3(p + TOT, f.tot);
    p[PILEUP] = char('0' + f.pileup);
  });
}

void putTestGenFields(Line& line, uint64_t w) {
  line.text(packetIsTop(w) ? "T" : "B");
  line.text(" cntr30=").dec(packetToa(w), 5);
  line.text(" cntr46=").dec(testGenCounter46(w), 6);
  line.text(" constant=").hex(testGenFixed(w));
}

// What the inspector tells the display about the stream it reads.
struct StreamInfo {
  uint64_t chunkType;
  bool forceFrame;
  bool fromPelvan;

  // The chunk type says the frame's pixel values come in segments.
  bool frameChunk() const {
    return chunkType == MVHDR_VX7FRAME8 || chunkType == MVHDR_VX7FRAME16 || forceFrame;
  }
};

// A data packet decodes by the chunk's layout: ToA/ToT, a count, or none.
void putDataPacket(Line& line, const StreamInfo& stream, uint64_t w, bool rawShown) {
  if (stream.chunkType == MVHDR_VX7TOATOT && !stream.forceFrame) {
    putToaTotFields(putPixelPlace(line, w), w);
  } else if (stream.chunkType == MVHDR_VX7PC24 && !stream.forceFrame) {
    putPixelPlace(line, w).text(" pc=").hex(decodePacket(w).pc, 6);
  } else if (!rawShown) {
    // No layout to decode by (frame data outside a segment, a chunk of
    // unknown kind): the raw word, unless the prefix holds it already.
    putHexWord(line, w);
  }
}

// ---- Frame segment values -----------------------------------------------------

// The values of a frame-mode packet, in readout order.
void putFrame8Values(Line& line, uint64_t w) {
  line.text(", pix0-7:");
  for (int i = 0; i < 8; ++i) line.text(" ").text({&HEX_PAIRS[2 * frame8Value(w, i)], 2});
}

void putFrame16Values(Line& line, uint64_t w) {
  line.text(", pix0-3:");
  for (int i = 0; i < 4; ++i) line.text(" ").hex(frame16Value(w, i), 4, '0');
}

// Every packet of an open segment is pixel values, even one that looks like
// a marker: the segment ends by its count alone.
void putSegmentValues(Line& line, const DisplayState& display, DisplayState::Segment& segment,
                      uint64_t w) {
  if (display.frame8) {
    segment.pixels += 8;
    line.text("FRAME8: segm=").dec(segment.addr).text(" pixels=").dec(segment.pixels, 4);
    putFrame8Values(line, w);
    if (segment.pixels >= SEGMENT_VALUES_8) segment.started = false;
  } else if (display.frame16) {
    segment.pixels += 4;
    line.text("FRAME16: segm=").dec(segment.addr).text(" pixels=").dec(segment.pixels, 4);
    putFrame16Values(line, w);
    if (segment.pixels >= SEGMENT_VALUES_16) segment.started = false;
  } else {
    // Without a known width the values cannot be read: show the word and
    // give up the segment.
    putHexWord(line.text("### FRAME?? pixel: "), w);
    segment.started = false;
  }
}

// ---- Timer packets ------------------------------------------------------------

// The difference to the previous value of a timer, modulo 2^64 like the
// counters themselves.
void putDiff(Line& line, uint64_t v, uint64_t previous) {
  line.text(" (diff=").dec(v - previous).text(")");
}

// The timer packets and the difference to their previous value; false for
// any other type.
bool putTimerPacket(Line& line, DisplayState& display, uint64_t w) {
  const uint64_t v = packetTimer(w);
  const std::string_view half = packetIsTop(w) ? "T " : "B ";
  DisplayState::HalfTimers& timers = display.timers(packetIsTop(w));
  switch (packetType(w)) {
    case TESTGEN_HEARTBEAT:
      line.text("TESTGEN-HEARTBEAT ").dec(v);
      if (display.lastTestGenHeartbeat != 0) {
        putDiff(line, v, display.lastTestGenHeartbeat);
      } else {
        line.text(" (diff=0)");
      }
      display.lastTestGenHeartbeat = v;
      return true;
    case VX7_EOC_HEARTBEAT:
      line.text("HEARTBEAT ").text(half).dec(v);
      if (timers.heartbeat != 0) {
        // A heartbeat that goes back means the chip's counter was reset.
        if (v < timers.heartbeat) {
          line.text(" (diff=reset)");
        } else {
          putDiff(line, v, timers.heartbeat);
        }
      }
      timers.heartbeat = v;
      return true;
    case VX7_EOC_CTRL_DATA_TEST:
      line.text("CTRL-DATA ").text(half).dec(v);
      if (timers.ctrlData != 0) putDiff(line, v, timers.ctrlData);
      timers.ctrlData = v;
      return true;
    case VX7_EOC_SHUTTER_RISE:
      line.text("SHUTTER_RISE ").text(half).dec(v);
      timers.shutterRise = v;
      return true;
    case VX7_EOC_SHUTTER_FALL:
      // The time the shutter was open; a fall without a rise since the last
      // fall has nothing to measure from.
      line.text("SHUTTER_FALL ").text(half).dec(v);
      if (timers.shutterRise != 0) {
        putDiff(line, v, timers.shutterRise);
      } else {
        line.text(
            " (diff=?"
            "?)");
      }
      timers.shutterRise = 0;
      return true;
    case VX7_EOC_T0_SYNC:
      line.text("T0_SYNC ").text(half).dec(v);
      return true;
    default:
      return false;
  }
}

// ---- Frame and segment markers ------------------------------------------------

// The Pelvan link that the marker came on.
void putLink(Line& line, const DisplayState& display, const StreamInfo& stream) {
  if (stream.fromPelvan) line.text("link=").dec(display.currentLink).text(" ");
}

void putUnexpected(Line& line, const StreamInfo& stream) {
  line.text("(### Unexpected, chunk = ")
      .text(chunkTypeName(stream.chunkType), CHUNK_NAME_MAX)
      .text(") ");
}

// The half and the fields shared by all frame and segment markers.
void putMarkerTail(Line& line, uint64_t w, bool withSegmentAddr) {
  line.text(packetIsTop(w) ? "top" : "bot").text(" header=").hex(packetType(w), 2);
  if (withSegmentAddr) line.text(" segment_addr=").hex(markerSegmentAddr(w));
  line.text(" readout_mode=").hex(markerReadoutMode(w));
}

void putFrameStart(Line& line, DisplayState& display, const StreamInfo& stream, uint64_t w) {
  line.text("FRAME_START ");
  if (!markerIsGenuine(w)) {
    line.text("(### False?) ");
  } else if (display.frameStarted) {
    line.text("(### Already started) ");
  } else if (stream.frameChunk()) {
    display.frameStarted = true;
    ++display.frameCount;
    display.segmentCount = 0;
  }
  line.text("#").dec(display.frameCount).text(" ");
  putLink(line, display, stream);
  // The chunk type fixes the width of the frame's pixel values; a forced
  // width holds in any chunk.
  if (stream.chunkType == MVHDR_VX7FRAME8) {
    line.text("(8-bit) ");
    display.frame8 = true;
    display.frame16 = false;
  } else if (stream.chunkType == MVHDR_VX7FRAME16) {
    line.text("(16-bit) ");
    display.frame16 = true;
    display.frame8 = false;
  } else if (stream.forceFrame) {
    if (display.frame8) line.text("(8-bit) ");
    if (display.frame16) line.text("(16-bit) ");
  } else {
    putUnexpected(line, stream);
  }
  putMarkerTail(line, w, false);
}

void putFrameEnd(Line& line, DisplayState& display, const StreamInfo& stream, uint64_t w) {
  line.text("FRAME_END ");
  if (!display.frameStarted) line.text("(### Not started) ");
  putLink(line, display, stream);
  if (display.frame8) {
    line.text("(8-bit) ");
  } else if (display.frame16) {
    line.text("(16-bit) ");
  }
  line.text("frame #").dec(display.frameCount).text(" ").dec(display.segmentCount);
  line.text(" segments, ");
  putMarkerTail(line, w, false);
  display.segments[display.currentLink].addr = DisplayState::NO_SEGMENT;
  display.frameStarted = false;
}

void putSegmentStart(Line& line, DisplayState& display, const StreamInfo& stream, uint64_t w) {
  DisplayState::Segment& segment = display.segments[display.currentLink];
  line.text("SEGMENT_START ");
  if (!markerIsGenuine(w)) {
    line.text("(### False?) ");
  } else if (stream.frameChunk()) {
    segment.started = true;
    ++display.segmentCount;
  } else {
    putUnexpected(line, stream);
  }
  line.text("count=").dec(display.segmentCount).text(" ");
  putLink(line, display, stream);
  putMarkerTail(line, w, true);
  segment.addr = markerSegmentAddr(w);
  segment.pixels = 0;
}

void putSegmentEnd(Line& line, DisplayState& display, const StreamInfo& stream, uint64_t w) {
  DisplayState::Segment& segment = display.segments[display.currentLink];
  line.text("SEGMENT_END count=").dec(display.segmentCount).text(" ");
  putLink(line, display, stream);
  line.text("pixcount=").dec(segment.pixels).text(" ");
  putMarkerTail(line, w, true);
  segment.addr = DisplayState::NO_SEGMENT;
}

// A control packet: a timer, a frame marker, or a type the display has no
// decoding for.
void putControlPacket(Line& line, DisplayState& display, const StreamInfo& stream, uint64_t w) {
  if (putTimerPacket(line, display, w)) return;
  const uint64_t type = packetType(w);
  switch (type) {
    case VX7_EOC_FRAME_START:
      putFrameStart(line, display, stream, w);
      break;
    case VX7_EOC_FRAME_END:
      putFrameEnd(line, display, stream, w);
      break;
    case VX7_EOC_SEGMENT_START:
      putSegmentStart(line, display, stream, w);
      break;
    case VX7_EOC_SEGMENT_END:
      putSegmentEnd(line, display, stream, w);
      break;
    default:
      line.text("### Unhandled EoC=").dec(type).text(" (");
      line.text(packetTypeName(type), CHUNK_NAME_MAX).text(")");
      break;
  }
}

// ---- Pelvan framing -----------------------------------------------------------

// What became of a packet: a line that is flushed, a line that need not be
// (idle and empty words come in long runs), or no line.
enum class Shown { Line, QuietLine, None };

// The header and trailer words of a Pelvan block get lines of their own,
// and the zero words that fill a block outside a segment show only their
// prefix, if any; nothing for any other word. A header sets the link whose
// segments the block's packets belong to.
std::optional<Shown> putPelvanFraming(Line& line, DisplayState& display, uint64_t index,
                                      uint64_t w) {
  const uint64_t position = index % PELVAN_BLOCK_WORDS;
  if (position == 1) {
    line.text("(Pelvan header: seqH=").dec(pelvanSeqHigh(w), 2);
    line.text(" seqL=").dec(pelvanSeqLow(w), 2);
    line.text(" linkL=").dec(pelvanLink(w)).text(")");
    // A 5-bit link number: always inside the per-link tables.
    static_assert(DISPLAY_LINKS > pelvanLink(~uint64_t(0)));
    display.currentLink = pelvanLink(w);
    return Shown::Line;
  }
  if (position == 0) {
    line.text("(Pelvan trailer: payload=").dec(pelvanPayload(w)).text(")");
    return Shown::Line;
  }
  // Zero words fill Pelvan blocks; inside an open segment they are pixel
  // values all the same.
  if (w == 0 && !display.segments[display.currentLink].started) {
    return line.empty() ? Shown::None : Shown::Line;
  }
  return std::nullopt;
}

// ---- One packet -----------------------------------------------------------------

// What the caller asks the display to show.
// The line of packet w, the index-th of the file, built in line: the
// prefix (index, raw word), then the first part that takes the word.
Shown formatPacket(Line& line, DisplayState& display, const StreamInfo& stream,
                   const DisplayOptions& o, uint64_t index, uint64_t w) {
  if (o.skipZeroPackets && w == 0) return Shown::None;
  if (o.showCounter) line.dec(index, 4).text(": ");
  if (o.showRaw) {
    putHexWord(line, w);
    if (!o.showFields) return Shown::Line;
    line.text(" ");
  }
  if (stream.fromPelvan) {
    if (const std::optional<Shown> framing = putPelvanFraming(line, display, index, w)) {
      return *framing;
    }
  }
  DisplayState::Segment& segment = display.segments[display.currentLink];
  if (segment.started) {
    putSegmentValues(line, display, segment, w);
  } else if (w == IDLE_WORD || w == EMPTY_PACKET_WORD) {
    line.text(w == IDLE_WORD ? "IDLE" : "MORVEN-EMPTY-PACKET");
    return Shown::QuietLine;
  } else if (o.testGen) {
    putTestGenFields(line, w);
  } else if (packetIsData(w)) {
    putDataPacket(line, stream, w, o.showRaw);
  } else {
    putControlPacket(line, display, stream, w);
  }
  return Shown::Line;
}

// ---- Lines in batches -------------------------------------------------------------
// The display loop hands its lines to the stream a batch at a time: one
// write and one flush for many lines, where a line at a time costs two
// calls of the stream buffer each. A batch goes out before the next read of
// the file, so no shown line waits for input (nor comes after a message of
// the chunk layer that the read prints), and whenever it is full.

class LineBatch {
 public:
  // A full batch is larger than an output block, so it goes to the output
  // without a copy into the output buffer.
  static constexpr size_t BYTES = OUTPUT_BLOCK_BYTES + 4 * 1024;

  bool full() const { return BYTES - _used < Line::CAPACITY; }
  // A line that must reach a terminal as it ends is in the batch.
  bool flushWanted() const { return _flush; }
  // Where the next line is built in place, while the batch is not full.
  char* tail() { return _buf + _used; }
  // Takes the line built at tail() into the batch, with its newline.
  void add(const Line& line, bool flush) {
    _used += line.view().size();
    _buf[_used++] = '\n';
    _flush = _flush || flush;
  }
  // The raw word alone, 16 digits and the newline, written in place.
  void addRawWord(uint64_t w) {
    stampHexWord(_buf + _used, w);
    _buf[_used + 16] = '\n';
    _used += 17;
    _flush = true;
  }
  // Writes the batch out; a write or a flush the stream buffer refuses
  // fails the stream, as the stream's own output operations do.
  void writeTo(std::ostream& out) {
    if (_used == 0) return;
    const std::streamsize n = std::streamsize(_used);
    const bool flush = _flush;
    _used = 0;
    _flush = false;
    if (!out.good()) return;
    std::streambuf* sb = out.rdbuf();
    if (sb == nullptr || sb->sputn(_buf, n) != n || (flush && sb->pubsync() != 0))
      out.setstate(std::ios::badbit);
  }

 private:
  char _buf[BYTES];
  size_t _used = 0;
  bool _flush = false;
};

}  // namespace

void displayPixel(std::ostream& out, const PacketStream& stream, DisplayState& display,
                  const DisplayOptions& o, uint64_t index) {
  Line line;
  const StreamInfo info{stream.walker().chunkType(), display.forceFrame, stream.fromPelvan()};
  const Shown shown = formatPacket(line, display, info, o, index, stream.current());
  if (shown != Shown::None) line.end(out, shown == Shown::Line);
}

void displayPackets(std::ostream& out, PacketStream& stream, DisplayState& display,
                    const DisplayOptions& o, uint64_t index, int stride) {
  // The raw word alone (-R), the quickest look at a large file, goes
  // straight into the batch.
  const bool rawOnly = o.showRaw && !o.showFields && !o.showCounter && !o.skipZeroPackets;
  // One batch per thread, kept from call to call (every call leaves it
  // empty): a short display (a small file, a fuzz input) would pay more for
  // allocating 260 KiB, which a checked build maps and unmaps every time,
  // than for its lines.
  static thread_local const std::unique_ptr<LineBatch> batch =
      std::make_unique_for_overwrite<LineBatch>();
  StreamInfo info{stream.walker().chunkType(), display.forceFrame, stream.fromPelvan()};
  int k = 0;
  for (;;) {
    batch->writeTo(out);
    if (!out) return;
    // The next packets, all of one chunk.
    PacketStream::Span span;
    if (!stream.nextSpan(span)) break;
    const uint64_t* word = span.words;
    const uint64_t* const end = word + span.count;
    info.chunkType = span.chunkType;
    for (; word != end; ++word) {
      ++index;
      if (++k != stride) continue;
      k = 0;
      if (batch->full()) {
        batch->writeTo(out);
        if (!out) return;
      }
      if (rawOnly) {
        batch->addRawWord(*word);
      } else {
        Line line(batch->tail());
        const Shown shown = formatPacket(line, display, info, o, index, *word);
        if (shown != Shown::None) batch->add(line, shown == Shown::Line);
      }
      // A terminal watching the display sees every line as it ends.
      if (o.lineByLine && batch->flushWanted()) {
        batch->writeTo(out);
        if (!out) return;
      }
    }
  }
  batch->writeTo(out);
}

void forceFrameData(DisplayState& display, std::ostream& out, int bits) {
  display.forceFrame = bits == 8 || bits == 16;
  display.frame8 = bits == 8;
  display.frame16 = bits == 16;
  if (display.forceFrame) {
    out << "Force interpretation as frame data (" << bits << " bits)" << std::endl;
  }
}

}  // namespace morven
