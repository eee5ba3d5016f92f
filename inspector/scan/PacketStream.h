// The packet stream: the 64-bit packet words of a file's data chunks (or
// of a caller's memory), in order, as the chunk walker reaches them.
//
// Words are read a buffer at a time (16 MiB) into memory of the stream's
// own and handed out one at a time (nextPixel), in runs of the words that
// wait in the buffer behind the current one (takeWaitingWords), or copied
// to the caller's memory (takePackets). Each word is turned to the host's
// byte order as it is read, and reversed as asked (word halves, bytes) as
// it is handed out: in this one place. Every word handed out is counted
// (delivered()); the chunk it came from is the walker's current one.
#ifndef MORVEN_PACKETSTREAM_H
#define MORVEN_PACKETSTREAM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "format/ByteOrder.h"
#include "format/ChunkTypes.h"
#include "format/MorvenFormat.h"
#include "format/Packet.h"
#include "scan/ChunkWalker.h"

namespace morven {

class PacketStream {
 public:
  // Words of the read buffer.
  static constexpr uint64_t BUFFER_WORDS = SUBCHUNKSIZE / 8;

  // Reads the data chunks that walker reaches; with a read buffer only if
  // allocBuffer (without one, only a caller's memory can be streamed).
  PacketStream(ChunkWalker& walker, bool allocBuffer);
  ~PacketStream();
  PacketStream(const PacketStream&) = delete;
  PacketStream& operator=(const PacketStream&) = delete;

  // Back to the start of a run: no word delivered, no reversal.
  void reset();
  // A new file's stream, opened by the walker: nothing of the previous
  // file's current chunk goes on in it.
  void startFile();

  // Delivers the next packets from the caller's memory: the bytes of a data
  // chunk's payload, little-endian words as in a file, at any alignment; a
  // last part of fewer than 8 bytes is not a packet. The memory is only
  // read, piece by piece, and must stay valid until the packets have been
  // taken. Words waiting from the file are dropped; after the memory the
  // stream goes on in the file.
  void setDataChunk(const unsigned char* data, size_t bytes);
  bool fromMemory() const { return _externalChunk; }

  // The next word, now the current one; false at the end of the stream.
  bool nextPixel(uint64_t* out = nullptr);
  // Delivers all words waiting in the buffer behind the current one at
  // once, exactly as that many calls of nextPixel would; they stand right
  // behind the word that was current (at current() + 1), and the last of
  // them becomes the current one. Returns their number.
  uint64_t takeWaitingWords();
  // The stream in spans: the next word and those waiting behind it, all of
  // one data chunk, delivered at once (as that many calls of nextPixel);
  // the last becomes the current word. The words stay valid until the
  // stream is next asked for a word.
  struct Span {
    const uint64_t* words;
    size_t count;
    uint64_t chunkType;  // of the chunk they were read from
    uint64_t first;      // the stream number of words[0], counted from 1
  };
  bool nextSpan(Span& span);
  // Words in runs: each nextPixel followed by the words waiting behind it,
  // taken at once, so a caller's loop runs over plain memory; the effect
  // is that of one nextPixel per word.
  struct WordRun {
    const uint64_t* next = nullptr;
    const uint64_t* end = nullptr;
  };
  bool nextRunWord(WordRun& run, uint64_t& word);
  // Copies up to max words of the stream to dst, exactly as that many
  // calls of nextPixel would deliver them, whole buffer runs at a time;
  // returns how many, fewer than max only at the end of the stream.
  size_t takePackets(uint64_t* dst, size_t max);
  // takePackets returns, once it has words, rather than wait for a followed
  // file to grow: its words come as they arrive.
  void setTakeReadyWords(bool b) { _takeReadyWords = b; }

  // The current word (a zero word before the first), and the words that
  // wait behind it, not yet delivered nor reversed.
  uint64_t current() const { return *_pixel; }
  const uint64_t* currentWord() const { return _pixel; }
  uint64_t waitingWords() const { return _wordsAvail; }
  // Passes the waiting words by, as delivered: the caller has handled them
  // (in place, reversing them itself); the last becomes the current word,
  // reversed as nextPixel leaves it.
  void passWaitingWords();
  // Words delivered since the last reset.
  uint64_t delivered() const { return _pixelCounterTotal; }
  void addDelivered(uint64_t n) { _pixelCounterTotal += n; }
  // The stream of the open file has ended (end of file, a failed read or
  // seek, a rejected header of a non-data type); it stays ended until the
  // next file is opened, so no later call can walk into a rejected payload.
  bool ended() const { return _packetStreamEnded; }

  void setReverseWords(bool b) { _reverseWords = b; }
  void setReverseBytes(bool b) { _reverseBytes = b; }
  bool reverseWords() const { return _reverseWords; }
  bool reverseBytes() const { return _reverseBytes; }
  // The words come in Pelvan blocks: their headers, trailers and fill words
  // are told by their place in the stream (delivered()).
  void setFromPelvan(bool b) { _fromPelvan = b; }
  bool fromPelvan() const { return _fromPelvan; }
  PacketForm form() const { return PacketForm{_reverseWords, _reverseBytes, _fromPelvan}; }

  ChunkWalker& walker() { return _walker; }
  const ChunkWalker& walker() const { return _walker; }
  ChunkKind chunkKind() const { return chunkKindOf(_walker.chunkType()); }
  // Told at the start of every data chunk the stream enters.
  void setChunkHook(std::function<void()> hook) { _chunkHook = std::move(hook); }

  // ---- For a reader that takes the file's words itself (the parallel scan) ----
  // Walks on to the next data chunk once the current one has been read;
  // false at the end of the stream of this file.
  bool nextDataChunk();
  // Reads up to maxWords words of the current data chunk to dst, in the
  // host's byte order, not reversed nor counted; 0 at the end of the file
  // or on a read error.
  uint64_t readChunkWords(uint64_t* dst, uint64_t maxWords);
  uint64_t chunkWordsLeft() const { return _chunkWordsLeft; }
  // The read buffer (BUFFER_WORDS words), lent while no word waits in it;
  // null without one.
  uint64_t* buffer() { return _buffer.get(); }
  // After words read by the caller: the last of them, in the buffer,
  // becomes the current word, reversed as nextPixel leaves it.
  void setCurrentWord(uint64_t* last);

 private:
  bool nextPiece();
  bool nextMemoryPiece();
  void tellCutChunk();

  ChunkWalker& _walker;
  bool _reverseWords = false, _reverseBytes = false, _fromPelvan = false;
  bool _takeReadyWords = false;
  // The current data chunk's header was accepted (a refused header of a
  // data type still has its payload read as packets).
  bool _chunkAccepted = false;
  bool _packetStreamEnded = false;
  uint64_t _wordsAvail = 0, _chunkWordsLeft = 0, _pixelCounterTotal = 0;
  // The current packet: a word of the read buffer (or of the piece buffer
  // of caller's memory), with _wordsAvail more words behind it; before the
  // first packet, a zero word of its own.
  uint64_t* _pixel;
  uint64_t _noPacket = 0;
  std::unique_ptr<uint64_t[]> _buffer;  // SUBCHUNKSIZE bytes; null without a read buffer
  // Caller's memory from setDataChunk, not yet taken: it is copied into
  // _memoryPiece a piece at a time, so it is read only through memcpy.
  bool _externalChunk = false;
  const unsigned char* _externalNext = nullptr;
  size_t _externalBytes = 0;
  std::unique_ptr<uint64_t[]> _memoryPiece;
  std::function<void()> _chunkHook;
};

// The common case, a word already waiting in the buffer, is inline: the
// checks and the display take hundreds of millions of words one call at a
// time. nextPiece() reads the next piece of a data chunk, or finds the next
// data chunk.
inline bool PacketStream::nextPixel(uint64_t* out) {
  if (_wordsAvail > 0) [[likely]] {
    ++_pixel;
    --_wordsAvail;
  } else if (!nextPiece()) {
    return false;
  }
  ++_pixelCounterTotal;
  *_pixel = reversed(*_pixel, _reverseWords, _reverseBytes);
  if (out != nullptr) *out = *_pixel;
  return true;
}

inline bool PacketStream::nextRunWord(WordRun& run, uint64_t& word) {
  if (run.next != run.end) {
    word = *run.next++;
    return true;
  }
  if (!nextPixel(&word)) return false;
  run.next = _pixel + 1;
  run.end = run.next + takeWaitingWords();
  return true;
}

}  // namespace morven

#endif  // MORVEN_PACKETSTREAM_H
