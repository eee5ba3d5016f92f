// Packet level of the inspector: the stream of 64-bit pixel packets taken
// from the payloads of data chunks (or from a caller's memory), the tallies
// per type byte, per pixel and per ToA value, and their reports.
#include <array>
#include <iomanip>
#include <ostream>
#include <vector>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "ByteOrder.h"
#include "DataInspector.h"
#include "Format.h"
#include "Packet.h"

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
// Caller's memory is taken in pieces of this many words.
constexpr size_t MEMORY_PIECE_WORDS = 8192;

// The packet as delivered: word reversal (a swap of the 32-bit halves)
// before byte reversal.
inline uint64_t reversed(uint64_t w, bool words, bool bytes) {
  if (words) w = (w << 32) | (w >> 32);
  if (bytes) w = byteSwap64(w);
  return w;
}

// The three tallies a packet feeds: per type byte, and for pixel data per
// pixel and, in ToA/ToT chunks, per ToA value.
struct Tallies {
  uint64_t* types;
  uint64_t* pixels;
  uint64_t* toas;
  bool toaChunk;

  void add(uint64_t w) const {
    const uint64_t t = packetType(w);
    ++types[t];
    if (t < VX7_EOC_MAX_COLS) {
      ++pixels[packetPixelIndex(w)];
      if (toaChunk) ++toas[packetToa(w)];
    }
  }
};

}  // namespace

void DataInspector::setDataChunk(const unsigned char* data, size_t bytes) {
  _externalChunk = true;
  _wordsAvail = 0;
  _externalNext = data;
  _externalBytes = bytes - bytes % 8;
}

// The next piece of the caller's memory, copied into a buffer of words of
// our own (the caller's bytes may sit at any alignment) and converted from
// the file's byte order; false once all whole words have been taken.
bool DataInspector::nextMemoryPiece() {
  if (_externalBytes == 0) {
    _externalChunk = false;
    _externalNext = nullptr;
    return false;
  }
  if (!_memoryPiece) _memoryPiece = std::make_unique_for_overwrite<uint64_t[]>(MEMORY_PIECE_WORDS);
  const size_t words = std::min(_externalBytes / 8, MEMORY_PIECE_WORDS);
  std::memcpy(_memoryPiece.get(), _externalNext, words * 8);
  _externalNext += words * 8;
  _externalBytes -= words * 8;
  wordsFromLE(_memoryPiece.get(), words);
  _pixel = _memoryPiece.get();
  _wordsAvail = words - 1;
  return true;
}

bool DataInspector::nextPiece() {
  if (_externalChunk) return nextMemoryPiece();
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
  size_t got = _file.read(_buffer.get(), size_t(words * 8));
  _wordsAvail = got / 8;
  _pixel = _buffer.get();
  _chunkWordsLeft -= _wordsAvail;
  if (_wordsAvail == 0) return false;
  wordsFromLE(_pixel, size_t(_wordsAvail));
  --_wordsAvail;
  return true;
}

bool DataInspector::processNextPixel() {
  if (!nextPixel(nullptr)) return false;
  const Tallies tallies{_typeCounters.data(), _pixelCounters.get(), _toaCounters.get(),
                        _chunkType == MVHDR_VX7TOATOT};
  if (_fromPelvan && notAPelvanPacket(_pixelCounterTotal, *_pixel)) return true;
  tallies.add(*_pixel);
  return true;
}

// Delivers all words waiting in the buffer behind the current packet at
// once, exactly as that many calls of nextPixel would (reversed in place,
// counted in _pixelCounterTotal); they stand right behind the packet that
// was current, and the last of them becomes the current packet. Returns
// their number.
uint64_t DataInspector::takeWaitingWords() {
  const uint64_t n = _wordsAvail;
  if (n == 0) return 0;
  uint64_t* const words = _pixel + 1;
  if (_reverseWords || _reverseBytes) {
    for (uint64_t i = 0; i < n; ++i) words[i] = reversed(words[i], _reverseWords, _reverseBytes);
  }
  _pixel += n;
  _wordsAvail = 0;
  _pixelCounterTotal += n;
  return n;
}

void DataInspector::processAllPixels() {
  // processNextPixel takes the first word of each piece (and finds the end
  // of the stream); the words behind it in the buffer are tallied here in
  // one run that keeps the stream's place in registers, with the very same
  // steps and results as one processNextPixel per word.
  while (processNextPixel()) {
    const uint64_t n = _wordsAvail;
    if (n == 0) continue;
    const Tallies tallies{_typeCounters.data(), _pixelCounters.get(), _toaCounters.get(),
                          _chunkType == MVHDR_VX7TOATOT};
    const bool reverseWords = _reverseWords, reverseBytes = _reverseBytes;
    const bool reverse = reverseWords || reverseBytes, pelvan = _fromPelvan;
    const uint64_t delivered = _pixelCounterTotal;  // word i is number delivered + i + 1
    uint64_t* const words = _pixel + 1;
    for (uint64_t i = 0; i < n; ++i) {
      uint64_t w = words[i];
      if (reverse) words[i] = w = reversed(w, reverseWords, reverseBytes);
      if (pelvan && notAPelvanPacket(delivered + i + 1, w)) continue;
      tallies.add(w);
    }
    _pixel += n;
    _wordsAvail = 0;
    _pixelCounterTotal += n;
  }
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
  // Each bin sums a run of neighbouring counters, without a division per
  // counter: all 65536 are summed for every histogram printed.
  std::vector<uint64_t> counts(nbins, 0);
  const uint64_t* toa = _toaCounters.get();
  for (uint64_t j = 0, v = 0; v < 0x10000; ++j, v += width) {
    counts[j] = std::accumulate(toa + v, toa + std::min<uint64_t>(v + width, 0x10000), uint64_t(0));
  }
  out << "  ToA     Bin Count" << std::endl;
  out << "-------   ---------" << std::endl;
  for (uint64_t j = 0; j < nbins; ++j) {
    out << decString(j * width, 6) << "     " << decString(counts[j], 6) << std::endl;
  }
  out << decString(nbins * width, 6) << std::endl;
  out << std::endl;
}

bool DataInspector::pixelIsData() const {
  return packetIsData(*_pixel);
}

bool DataInspector::pixelIsFromTop() const {
  return packetIsTop(*_pixel);
}

std::string DataInspector::pixelTypeString() const {
  return pixelTypeString(packetType(*_pixel));
}

std::string DataInspector::pixelTypeString(uint64_t type) {
  if (type <= VX7_EOC_MAX_COLNR) return "DATA";
  if (type < 256 && CONTROL_TYPE_NAMES[type - VX7_EOC_MAX_COLS] != nullptr) {
    return CONTROL_TYPE_NAMES[type - VX7_EOC_MAX_COLS];
  }
  return "????";
}

}  // namespace morven
