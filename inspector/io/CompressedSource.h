// A data file read through a decompressor: zstd (any number of frames) or
// gzip (any number of members), recognised by their first bytes, not by
// the file's name.
//
// Past the first block, a thread of its own decompresses a few blocks
// ahead of the reader, so that the chunk walk and the tallies work while
// the next bytes are being made; a stream that ends in its first block
// (a small file) is decompressed by the reader alone, and so is every
// stream when no thread is to be had.
//
// A stream that is damaged or cut short is a read error: error() is set
// once the bytes before the damage have been read, and errorText() says
// what was wrong and at which offset of the uncompressed bytes.
//
// Damage is mostly found late: gzip checks its CRC at a member's end, zstd
// its checksum at a frame's end, and garbage may decompress to bytes before
// that. So a stream is checked to its end even when its reader stops early
// (verifyToEnd), and the message of damage found after bytes were made
// says that those bytes may be damaged too. A zstd frame that declares its
// content size is held to it as it is decoded, which finds some damage
// before the frame's end.
//
// Memory stays bounded on hostile input: a zstd frame that asks for a
// window larger than MAX_WINDOW_LOG is refused rather than decoded.
#ifndef MORVEN_COMPRESSEDSOURCE_H
#define MORVEN_COMPRESSEDSOURCE_H

#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "io/ByteSource.h"
#include "io/OpenInput.h"

namespace morven {

// The largest zstd window accepted: 2^27 bytes, 128 MiB. (The fuzz targets,
// whose allocations are capped lower, build with a smaller one.)
#ifdef MVSCAN_MAX_WINDOW_LOG
constexpr int MAX_WINDOW_LOG = MVSCAN_MAX_WINDOW_LOG;
#else
constexpr int MAX_WINDOW_LOG = 27;
#endif

class Decoder;

class CompressedSource : public ByteSource {
 public:
  // Reads the compressed bytes from raw, which it takes over. Without
  // thread, the reader decompresses when it needs bytes (for a raw source
  // that must be read on the reader's thread).
  CompressedSource(std::unique_ptr<ByteSource> raw, Compression kind, bool thread = true);
  ~CompressedSource() override;
  CompressedSource(const CompressedSource&) = delete;
  CompressedSource& operator=(const CompressedSource&) = delete;

  size_t read(void* dst, size_t n) override;
  bool skip(uint64_t n) override;
  bool knownSize(uint64_t&) const override { return false; }
  uint64_t position() const override { return _pos; }
  bool eof() const override { return _eof; }
  bool error() const override { return _error; }
  std::string errorText() const override { return _error ? _errorText : std::string(); }
  uint64_t compressedBytes() const override;
  bool compressedTotal(uint64_t& bytes) const override { return _raw && _raw->knownSize(bytes); }
  void verifyToEnd() override;
  uint64_t errorOffset() const override { return _failOffset != NO_OFFSET ? _failOffset : _pos; }
  std::unique_ptr<FileReader> releaseFile() override;

 private:
  static constexpr size_t BLOCK_BYTES = size_t(1) << 20;
  static constexpr size_t BLOCKS = 4;

  struct Block {
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;
  };
  // What the decompressing thread shares with the reader. The thread fills
  // the blocks after the reader's, in turn; the reader hands a block back
  // once it has taken all of its bytes.
  struct Shared {
    std::mutex mutex;
    std::condition_variable filled;  // a block is ready, or the end
    std::condition_variable freed;   // a block is free, or stop
    size_t first = 0;                // the reader's block
    size_t ready = 0;                // blocks filled, from first on
    bool done = false;               // the thread has made its last block
    bool stop = false;
  };

  // Makes the next block's bytes; false once the stream has ended or
  // failed (the block may still hold bytes then).
  bool fill(Block& block);
  // Ends the stream as failed at the current uncompressed offset; damaged:
  // the bytes made before may be damaged too.
  bool fail(const std::string& what, size_t inBlock, bool damaged = false);
  // Makes more compressed bytes available; false at the end of the input.
  bool refill();
  void run();
  // Moves the reader to the next block; false at the end of the stream.
  bool nextBlock();
  void startThread();
  void stopThread();

  static constexpr uint64_t NO_OFFSET = UINT64_MAX;

  std::unique_ptr<ByteSource> _raw;
  std::unique_ptr<Decoder> _decoder;
  std::unique_ptr<unsigned char[]> _in;  // compressed bytes read, not yet decoded
  size_t _inStart = 0, _inEnd = 0;
  bool _inEnded = false;
  uint64_t _made = 0;  // uncompressed bytes made by fill()
  // Set by fill() at the end of the stream; read by the reader only after
  // it has seen `done`.
  bool _failed = false;
  std::string _failText;
  uint64_t _failOffset = NO_OFFSET;

  std::array<Block, BLOCKS> _blocks;
  // In a process forked while the thread ran, the thread's state is left
  // as it is, never destroyed (its lock may have been held at the fork),
  // and the stream reads as failed.
  std::unique_ptr<Shared> _shared;
  std::unique_ptr<std::thread> _thread;
  pid_t _process = 0;
  std::atomic<uint64_t> _compressed{0};  // compressed bytes read by fill()
  // The reader's view: its block, how far it has taken it, its position.
  size_t _current = 0;
  size_t _taken = 0;
  bool _haveBlock = false;
  bool _lastFilled = false;  // without a thread: fill() has made its last block
  bool _threadTried = false;
  bool _ended = false;
  uint64_t _pos = 0;
  bool _eof = false;
  bool _error = false;
  std::string _errorText;
};

}  // namespace morven

#endif  // MORVEN_COMPRESSEDSOURCE_H
