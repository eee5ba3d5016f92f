// Packet level of the inspector: the stream of 64-bit pixel packets taken
// from the payloads of data chunks (or from a caller's memory), the tallies
// per type byte, per pixel and per ToA value, and their reports.
#include <array>
#include <iomanip>
#include <ostream>
#include <vector>

#include "ByteOrder.h"
#include "DataInspector.h"
#include "Format.h"

namespace morven {

namespace {

// Names of the control type codes 224..255; the empty ones have no name.
constexpr std::array<const char*, 32> CONTROL_TYPE_NAMES = {
    "HEARTBEAT",   "SHUTTER_RISE", "SHUTTER_FALL",   "T0_SYNC",
    "SIGNAL_RISE", "SIGNAL_FALL",  nullptr,          nullptr,
    nullptr,       nullptr,        "CTRL_DATA_TEST", nullptr,
    nullptr,       nullptr,        nullptr,          nullptr,
    "FRAME_START", "FRAME_END",    "SEGMENT_START",  "SEGMENT_END",
    nullptr,       nullptr,        nullptr,          nullptr,
    nullptr,       nullptr,        nullptr,          nullptr,
    nullptr,       nullptr,        nullptr,          "MORVEN_EMPTY_PACKET"};

constexpr uint64_t BUFFER_WORDS = SUBCHUNKSIZE / 8;
constexpr uint64_t PREFETCH_DISTANCE = 16;

}  // namespace

void DataInspector::setDataChunk(unsigned char* data, size_t bytes) {
  _externalChunk = true;
  _wordsAvail = bytes / 8;
  // One word before the block: the next nextPixel steps onto its first
  // word. A block without a whole word delivers nothing and leaves the
  // pointer alone (the block may be null).
  if (_wordsAvail > 0) _pixel = reinterpret_cast<uint64_t*>(data) - 1;
}

bool DataInspector::nextPixel(uint64_t* out) {
  if (_wordsAvail > 0) [[likely]] {
    ++_pixel;
    --_wordsAvail;
    if (_externalChunk) wordsFromLE(_pixel, 1);
  } else if (!nextPiece()) {
    return false;
  }
  ++_pixelCounterTotal;
  if (_reverseWords) *_pixel = (*_pixel << 32) | (*_pixel >> 32);
  if (_reverseBytes) *_pixel = byteSwap64(*_pixel);
  if (out != nullptr) *out = *_pixel;
  return true;
}

// The rest of nextPixel, kept out of line so that the common case, a word
// waiting in the buffer, stays small enough to inline into the statistics
// loop: it ends the caller's words, or finishes the current data chunk or
// finds the next one and reads a piece of it. True when the first word of
// the new piece is current.
bool DataInspector::nextPiece() {
  if (_externalChunk) {
    _externalChunk = false;
    return false;
  }
  if (_packetStreamEnded || _buffer == nullptr) return false;
  while (_chunkWordsLeft == 0) {
    // The payload of the current chunk has been read here.
    _skipPayload = false;
    while (nextChunk() && !chunkIsData()) {
    }
    // A rejected header of a data type still has its payload read as
    // packets; any other end of the chunk walk ends the packet stream for
    // this file.
    if (!chunkIsData()) {
      _packetStreamEnded = true;
      return false;
    }
    _chunkWordsLeft = _chunkBytes / 8;
  }
  uint64_t words = _chunkWordsLeft <= BUFFER_WORDS ? _chunkWordsLeft : BUFFER_WORDS;
  size_t got = _file.read(_buffer, size_t(words * 8));
  _wordsAvail = got / 8;
  _pixel = reinterpret_cast<uint64_t*>(_buffer);
  _chunkWordsLeft -= _wordsAvail;
  if (_wordsAvail == 0) return false;
  wordsFromLE(_pixel, size_t(_wordsAvail));
  --_wordsAvail;
  return true;
}

bool DataInspector::processNextPixel() {
  if (!nextPixel(nullptr)) return false;
  const uint64_t w = *_pixel;
  // The hit counters are 2.5 MiB that hits reach in no order: ask for the
  // counters of a packet a little ahead (as read, before any reversal) so
  // that its increments don't wait for memory.
  if (_wordsAvail > PREFETCH_DISTANCE) {
    const uint64_t ahead = _pixel[PREFETCH_DISTANCE];
    __builtin_prefetch(&_pixelCounters[ahead >> VX7_PIXELNR_SHIFT], 1);
    __builtin_prefetch(&_toaCounters[(ahead >> 30) & 0xFFFF], 1);
  }
  if (_fromPelvan) {
    // Word 1 of each 128-word block is the Pelvan header, word 128 the
    // trailer; zero words fill blocks and are not packets either.
    uint64_t k = _pixelCounterTotal & 127;
    if (k <= 1 || w == 0) return true;
  }
  const uint64_t t = (w >> 55) & 0xFF;
  ++_typeCounters[t];
  if (t < VX7_EOC_MAX_COLS) {
    ++_pixelCounters[w >> VX7_PIXELNR_SHIFT];
    if (_chunkType == MVHDR_VX7TOATOT) ++_toaCounters[(w >> 30) & 0xFFFF];
  }
  return true;
}

void DataInspector::forceFrameData(int bits) {
  _forceFrame = bits == 8 || bits == 16;
  _frame8 = bits == 8;
  _frame16 = bits == 16;
  if (_forceFrame) _out << "Force interpretation as frame data (" << bits << " bits)" << std::endl;
}

void DataInspector::logEocCounters(bool all) {
  _out << "=> EoC counters:" << std::endl;
  bool any = false;
  for (uint64_t i = 0; i < 256; ++i) {
    const uint64_t count = _typeCounters[i];
    if (!all && count == 0) continue;
    any = true;
    _out << decString(i, 3) << "  " << decString(count);
    if (i >= VX7_EOC_MAX_COLS && CONTROL_TYPE_NAMES[i - VX7_EOC_MAX_COLS] != nullptr) {
      _out << "  (" << CONTROL_TYPE_NAMES[i - VX7_EOC_MAX_COLS] << ")";
    } else if (i >= VX7_EOC_MAX_COLS && count != 0) {
      _out << "  (?\?\?)";
    }
    _out << std::endl;
  }
  if (!any) _out << "<none>" << std::endl;
}

void DataInspector::toaHistogram(std::ostream& out, int bins) {
  if (_toaCounters == nullptr) return;
  const uint64_t nbins = uint64_t(bins < 1 ? 1 : bins);
  const uint64_t width = (nbins + 65535) / nbins;
  std::vector<uint64_t> counts(nbins, 0);
  for (uint64_t v = 0; v < 0x10000; ++v) counts[v / width] += _toaCounters[v];
  out << "  ToA     Bin Count" << std::endl;
  out << "-------   ---------" << std::endl;
  for (uint64_t j = 0; j < nbins; ++j) {
    out << decString(j * width, 6) << "     " << decString(counts[j], 6) << std::endl;
  }
  out << decString(nbins * width, 6) << std::endl;
  out << std::endl;
}

bool DataInspector::pixelIsData() const {
  return ((*_pixel >> 55) & 0xFF) <= VX7_EOC_MAX_COLNR;
}

bool DataInspector::pixelIsFromTop() const {
  return (*_pixel >> 63) != 0;
}

std::string DataInspector::pixelTypeString() const {
  return pixelTypeString((*_pixel >> 55) & 0xFF);
}

std::string DataInspector::pixelTypeString(uint64_t type) {
  if (type <= VX7_EOC_MAX_COLNR) return "DATA";
  if (type < 256 && CONTROL_TYPE_NAMES[type - VX7_EOC_MAX_COLS] != nullptr) {
    return CONTROL_TYPE_NAMES[type - VX7_EOC_MAX_COLS];
  }
  return "????";
}

}  // namespace morven
