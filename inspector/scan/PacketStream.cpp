// The packet stream: data chunks' payloads (or a caller's memory) read a
// piece at a time and handed out word by word, in runs, or into the
// caller's memory.
#include "scan/PacketStream.h"

#include <algorithm>
#include <cstring>

namespace morven {

namespace {

// Caller's memory is taken in pieces of this many words.
constexpr size_t MEMORY_PIECE_WORDS = 8192;

}  // namespace

PacketStream::PacketStream(ChunkWalker& walker, bool allocBuffer)
    : _walker(walker),
      _pixel(&_noPacket),
      _buffer(allocBuffer ? std::make_unique_for_overwrite<uint64_t[]>(BUFFER_WORDS) : nullptr) {}

PacketStream::~PacketStream() = default;

void PacketStream::reset() {
  _reverseWords = _reverseBytes = _fromPelvan = false;
  _wordsAvail = _chunkWordsLeft = _pixelCounterTotal = 0;
  _pixel = &_noPacket;
  _externalChunk = false;
  _externalNext = nullptr;
  _externalBytes = 0;
  _packetStreamEnded = false;
}

void PacketStream::startFile() {
  _wordsAvail = 0;
  _chunkWordsLeft = 0;
  _packetStreamEnded = false;
}

void PacketStream::setDataChunk(const unsigned char* data, size_t bytes) {
  _externalChunk = true;
  _wordsAvail = 0;
  _externalNext = data;
  _externalBytes = bytes - bytes % 8;
}

// The next piece of the caller's memory, copied into a buffer of words of
// our own (the caller's bytes may sit at any alignment) and converted from
// the file's byte order; false once all whole words have been taken.
bool PacketStream::nextMemoryPiece() {
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

bool PacketStream::nextPiece() {
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
bool PacketStream::nextDataChunk() {
  if (_packetStreamEnded || _buffer == nullptr) return false;
  while (_chunkWordsLeft == 0) {
    // The payload of the current chunk has been read here.
    _walker.payloadTaken();
    bool accepted;
    while ((accepted = _walker.nextChunk()) && !_walker.chunkIsData()) {
    }
    // A rejected header of a data type still has its payload read as
    // packets; any other end of the chunk walk ends the packet stream for
    // this file.
    if (!_walker.chunkIsData()) {
      _packetStreamEnded = true;
      _walker.walkEnded();
      return false;
    }
    _chunkWordsLeft = _walker.chunkBytes() / 8;
    _chunkAccepted = accepted;
    if (accepted && _walker.payloadCut()) tellCutChunk();
    if (_chunkHook) _chunkHook();
  }
  return true;
}

// Reads up to maxWords words of the current data chunk to dst, in native
// byte order; returns how many (0 at the end of the file or on a read
// error). A piece that ends in part of a word, at the end of the file, has
// still taken those bytes from the file.
uint64_t PacketStream::readChunkWords(uint64_t* dst, uint64_t maxWords) {
  const uint64_t words = std::min(_chunkWordsLeft, maxWords);
  const bool sizeWasKnown = _walker.sizeKnown();
  const uint64_t got = _walker.readBytes(dst, size_t(words * 8)) / 8;
  _chunkWordsLeft -= got;
  // A stream tells of a chunk that it ends inside only once it has ended.
  if (!sizeWasKnown && _walker.sizeKnown() && _chunkAccepted && _walker.payloadCut()) {
    tellCutChunk();
  }
  // The payload read so far, from where it starts.
  _walker.progress(_walker.fileIndex() + (_walker.chunkBytes() - _chunkWordsLeft * 8));
  wordsFromLE(dst, size_t(got));
  return got;
}

// Delivers all words waiting in the buffer behind the current packet at
// once, exactly as that many calls of nextPixel would (reversed in place,
// counted in _pixelCounterTotal); they stand right behind the packet that
// was current, and the last of them becomes the current packet. Returns
// their number.
uint64_t PacketStream::takeWaitingWords() {
  const uint64_t n = _wordsAvail;
  if (n == 0) return 0;
  reverseInPlace(_pixel + 1, n, _reverseWords, _reverseBytes);
  _pixel += n;
  _wordsAvail = 0;
  _pixelCounterTotal += n;
  return n;
}

size_t PacketStream::takePackets(uint64_t* dst, size_t max) {
  size_t n = 0;
  while (n < max) {
    if (_wordsAvail == 0) {
      // A followed file that holds no whole word more: what there is goes
      // to the caller now.
      const uint64_t ready = _takeReadyWords && !_externalChunk ? _walker.readyBytes() : UINT64_MAX;
      if (n > 0 && ready < 8) break;
      // The words of a file go straight to the caller's memory, not through
      // the read buffer (pieces of any size deliver the same words); the
      // last of them becomes the current packet, kept in the buffer.
      if (!_externalChunk && max - n > 1 && nextDataChunk()) {
        uint64_t* const words = dst + n;
        uint64_t want = std::min<uint64_t>(max - n, BUFFER_WORDS);
        // At least one word, which may be waited for.
        if (_takeReadyWords) want = std::min(want, std::max<uint64_t>(1, _walker.readyBytes() / 8));
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

// The file check finds a data chunk that the file ends inside when it walks
// on past it; the packet stream ends inside that chunk instead, so the same
// problem is told here, to the callers that collect problems (the pixel
// modes' text says nothing of it).
void PacketStream::tellCutChunk() {
  FileProblem problem = _walker.cutChunkProblem();
  problem.shownInText = false;
  _walker.tellProblem(std::move(problem));
}

bool PacketStream::nextSpan(Span& span) {
  if (!nextPixel()) return false;
  span.words = _pixel;
  span.count = size_t(1 + takeWaitingWords());
  span.chunkType = _walker.chunkType();
  span.first = _pixelCounterTotal - span.count + 1;
  return true;
}

void PacketStream::passWaitingWords() {
  const uint64_t n = _wordsAvail;
  if (n == 0) return;
  _pixel += n;
  _wordsAvail = 0;
  _pixelCounterTotal += n;
  // Only the current packet is seen again (as by nextPixel): it is kept
  // reversed as delivered.
  *_pixel = reversed(*_pixel, _reverseWords, _reverseBytes);
}

void PacketStream::setCurrentWord(uint64_t* last) {
  _wordsAvail = 0;
  _pixel = last;
  *_pixel = reversed(*_pixel, _reverseWords, _reverseBytes);
}

}  // namespace morven
