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

#include "format/ByteOrder.h"
#include "format/Packet.h"
#include "scan/DataInspector.h"
#include "scan/PacketTally.h"
#include "scan/ParallelTally.h"
#include "text/Format.h"

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
  if (!nextDataChunk()) return false;
  _pixel = _buffer.get();
  _wordsAvail = readChunkWords(_pixel, BUFFER_WORDS);
  if (_wordsAvail == 0) return false;
  --_wordsAvail;
  return true;
}

// Walks on to the next data chunk once the current one has been read; false
// at the end of the packet stream of this file.
bool DataInspector::nextDataChunk() {
  if (_packetStreamEnded || _buffer == nullptr) return false;
  while (_chunkWordsLeft == 0) {
    // The payload of the current chunk has been read here.
    _skipPayload = false;
    bool accepted;
    while ((accepted = nextChunk()) && !chunkIsData()) {
    }
    // A rejected header of a data type still has its payload read as
    // packets; any other end of the chunk walk ends the packet stream for
    // this file.
    if (!chunkIsData()) {
      _packetStreamEnded = true;
      return false;
    }
    _chunkWordsLeft = _chunkBytes / 8;
    // The file check finds a data chunk that the file ends inside when it
    // walks on past it; the packet stream ends inside that chunk instead,
    // so the same problem is told here, to the callers that collect
    // problems (the pixel modes' text says nothing of it).
    _chunkAccepted = accepted;
    if (accepted && payloadCut()) {
      tellProblem(ProblemKind::TruncatedChunk, chunkOffset(),
                  "Truncated last chunk #" + std::to_string(_headerTotal), false);
    }
    if (_hitTotals) {
      _hitTotals->chunkHits.push_back(0);
      if (!_hitTotals->fileChunks.empty()) ++_hitTotals->fileChunks.back();
    }
  }
  return true;
}

// Reads up to maxWords words of the current data chunk to dst, in native
// byte order; returns how many (0 at the end of the file or on a read
// error). A piece that ends in part of a word, at the end of the file, has
// still taken those bytes from the file.
uint64_t DataInspector::readChunkWords(uint64_t* dst, uint64_t maxWords) {
  const uint64_t words = std::min(_chunkWordsLeft, maxWords);
  const bool sizeWasKnown = _sizeKnown;
  const uint64_t got = readBytes(dst, size_t(words * 8)) / 8;
  _chunkWordsLeft -= got;
  // A stream tells of a chunk that it ends inside only once it has ended.
  if (!sizeWasKnown && _sizeKnown && _chunkAccepted && payloadCut()) {
    tellProblem(ProblemKind::TruncatedChunk, chunkOffset(),
                "Truncated last chunk #" + std::to_string(_headerTotal), false);
  }
  // The payload read so far, from where it starts.
  if (_progressHook) _progressHook(_fileIndex + (_chunkBytes - _chunkWordsLeft * 8));
  wordsFromLE(dst, size_t(got));
  return got;
}

bool DataInspector::processNextPixel() {
  if (!nextPixel(nullptr)) return false;
  if (_fromPelvan && notAPelvanPacket(_pixelCounterTotal, *_pixel)) return true;
  if (_hitTotals) {
    tallyHitRun(_pixel, 1);
  } else {
    tallyPacket<true>(tallyCounters(), *_pixel, _chunkType == MVHDR_VX7TOATOT);
  }
  return true;
}

TallyCounters DataInspector::tallyCounters() {
  return TallyCounters{_typeCounters.data(), _pixelCounters.get(), _toaCounters.get()};
}

ChunkKind DataInspector::chunkKind() const {
  switch (_chunkType) {
    case MVHDR_VX7TOATOT:
      return ChunkKind::ToaTot;
    case MVHDR_VX7PC24:
      return ChunkKind::Pc24;
    case MVHDR_VX7FRAME8:
    case MVHDR_VX7FRAME16:
      return ChunkKind::Frame;
    default:
      return ChunkKind::Other;
  }
}

// Tallies n packets, reversed and chosen already, with the hit tallies.
void DataInspector::tallyHitRun(const uint64_t* words, uint64_t n) {
  const ChunkKind kind = chunkKind();
  const WordCounts c = tallyHitWords<true>(tallyCounters(), _hitTotals->counters(kind), words, n, 0,
                                           kind, PacketForm{false, false, false});
  _hitTotals->addWords(c, kind);
}

// Delivers all words waiting in the buffer behind the current packet at
// once, exactly as that many calls of nextPixel would (reversed in place,
// counted in _pixelCounterTotal); they stand right behind the packet that
// was current, and the last of them becomes the current packet. Returns
// their number.
uint64_t DataInspector::takeWaitingWords() {
  const uint64_t n = _wordsAvail;
  if (n == 0) return 0;
  reverseInPlace(_pixel + 1, n, _reverseWords, _reverseBytes);
  _pixel += n;
  _wordsAvail = 0;
  _pixelCounterTotal += n;
  return n;
}

// Tallies the words waiting in the buffer behind the current packet in one
// run, with the very same steps and results as one processNextPixel per
// word; the last of them becomes the current packet.
void DataInspector::tallyWaitingWords() {
  const uint64_t n = _wordsAvail;
  if (n == 0) return;
  const PacketForm form{_reverseWords, _reverseBytes, _fromPelvan};
  if (_hitTotals) {
    const ChunkKind kind = chunkKind();
    const WordCounts c = tallyHitWords<true>(tallyCounters(), _hitTotals->counters(kind),
                                             _pixel + 1, n, _pixelCounterTotal, kind, form);
    _hitTotals->addWords(c, kind);
  } else {
    tallyWords<true>(tallyCounters(), _pixel + 1, n, _pixelCounterTotal,
                     _chunkType == MVHDR_VX7TOATOT, form);
  }
  _pixel += n;
  _wordsAvail = 0;
  _pixelCounterTotal += n;
  // Only the current packet is seen again (as by nextPixel): it is kept
  // reversed as delivered.
  *_pixel = reversed(*_pixel, _reverseWords, _reverseBytes);
}

void DataInspector::processAllPixels() {
  const int threads = _threads == 0 ? availableCores() : _threads;
  // The parallel scan reads the file itself, into the read buffer; words of
  // the caller's memory, and those still waiting in the buffer, are tallied
  // here first.
  if (threads > 1 && !_externalChunk) {
    tallyWaitingWords();
    if (tallyInParallel(threads)) return;
  }
  // processNextPixel takes the first word of each piece (and finds the end
  // of the stream); the words behind it are tallied in one run.
  while (processNextPixel()) tallyWaitingWords();
}

// The statistics scan with `tallying` threads tallying, this one among
// them, which also walks the chunks and reads; false if no thread could be
// started (nothing has been read then).
bool DataInspector::tallyInParallel(int tallying) {
  if (_packetStreamEnded || _buffer == nullptr) return false;
  // Each tallying thread takes 1.25 MiB of tallies, and one reader keeps
  // only a few of them busy: more would cost memory and gain nothing.
  constexpr int MAX_TALLYING = 16;
  ParallelTally tally(_buffer.get(), BUFFER_WORDS, tallyCounters(),
                      PacketForm{_reverseWords, _reverseBytes, _fromPelvan}, _pixelCounterTotal,
                      _hitTotals.get());
  if (tally.start(std::min(tallying, MAX_TALLYING)) == 0) return false;
  // Every core tallies: a hint thread would take its time from them.
  _source->setHintThread(false);
  uint64_t* last = nullptr;
  while (nextDataChunk()) {
    // A small room is filled only by the end of a chunk.
    const ParallelTally::Room room = tally.room(size_t(std::min<uint64_t>(_chunkWordsLeft, 16384)));
    const uint64_t n = readChunkWords(room.words, room.capacity);
    if (n == 0) break;
    tally.add(size_t(n), chunkKind(), _hitTotals ? _hitTotals->chunkHits.size() - 1 : 0);
    _pixelCounterTotal += n;
    last = room.words + n - 1;
  }
  tally.finish();
  _wordsAvail = 0;
  if (last != nullptr) {
    // The last word read is the current packet, as after the single-threaded
    // scan.
    _pixel = last;
    *_pixel = reversed(*_pixel, _reverseWords, _reverseBytes);
  }
  return true;
}

void DataInspector::forceFrameData(int bits) {
  _forceFrame = bits == 8 || bits == 16;
  _display.frame8 = bits == 8;
  _display.frame16 = bits == 16;
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
  for (uint64_t j = 0, v = 0; v < VX7_TOA_VALUES; ++j, v += width) {
    counts[j] =
        std::accumulate(toa + v, toa + std::min<uint64_t>(v + width, VX7_TOA_VALUES), uint64_t(0));
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

size_t DataInspector::takePackets(uint64_t* dst, size_t max) {
  size_t n = 0;
  while (n < max) {
    if (_wordsAvail == 0) {
      // A followed file that holds no whole word more: what there is goes
      // to the caller now.
      const uint64_t ready =
          _takeReadyWords && _source && !_externalChunk ? _source->readyBytes() : UINT64_MAX;
      if (n > 0 && ready < 8) break;
      // The words of a file go straight to the caller's memory, not through
      // the read buffer (pieces of any size deliver the same words); the
      // last of them becomes the current packet, kept in the buffer.
      if (!_externalChunk && max - n > 1 && nextDataChunk()) {
        uint64_t* const words = dst + n;
        uint64_t want = std::min<uint64_t>(max - n, BUFFER_WORDS);
        // At least one word, which may be waited for.
        if (_takeReadyWords)
          want = std::min(want, std::max<uint64_t>(1, _source->readyBytes() / 8));
        const size_t got = size_t(readChunkWords(words, want));
        if (got == 0) break;
        reverseInPlace(words, got, _reverseWords, _reverseBytes);
        _pixelCounterTotal += got;
        _pixel = _buffer.get();
        *_pixel = words[got - 1];
        n += got;
        continue;
      }
      if (!nextPixel(dst + n)) break;
      ++n;
      continue;
    }
    const size_t k = size_t(std::min<uint64_t>(_wordsAvail, max - n));
    uint64_t* const words = _pixel + 1;
    // Reversed in place as well, like the current packet of nextPixel.
    reverseInPlace(words, k, _reverseWords, _reverseBytes);
    std::memcpy(dst + n, words, k * 8);
    _pixel += k;
    _wordsAvail -= k;
    _pixelCounterTotal += k;
    n += k;
  }
  return n;
}

}  // namespace morven
