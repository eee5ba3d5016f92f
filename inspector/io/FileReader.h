// Buffered reading of one data file.
//
// The chunk walk reads an 8-byte header word and then steps over the payload,
// a million times on a file of small data chunks. A stdio stream makes a
// system call for every seek, even one that lands inside its buffer; this
// reader keeps a logical position and only touches the file when a read
// leaves its buffer, so a walk over small chunks costs about one pread per
// 128 KiB. Large reads (payloads into the packet buffer) go straight to the
// caller's memory, together with a small refill of the buffer (the next
// header) in the same system call, so that a stream of payloads is copied
// from the system once.
//
// Once reads follow each other without a gap (the packet stream, or a walk
// over chunks smaller than the buffer), the reader asks the system to read
// the next READ_AHEAD bytes of the file in the background, so that the disk
// works while the caller works on what it has. Asking costs the asking
// thread the time the system takes to set the reads up (milliseconds for
// bytes that are not in the page cache), so a thread of its own asks
// (ReadAhead.h), unless every core has work already (the parallel scan).
//
// Standard input from a pipe or a terminal cannot seek: as a byte source it
// is a stream, which reads the bytes that a step forward passes over and
// drops them, and whose size is known only once it has ended. A file named
// on the command line that cannot seek (a named pipe, /dev/stdin) is read
// as a file, as it always was: its size is what the system says, and a
// step forward fails. A pipe is asked for a larger buffer, so that a
// writer on another core hands over its bytes in fewer, larger pieces.
//
// The indicators behave like those of a stdio stream: end of file is set by
// a short read and stays set until the next seek; the error indicator is set
// by a failed read and stays set until the file is closed.
#ifndef MORVEN_FILEREADER_H
#define MORVEN_FILEREADER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io/ByteSource.h"

namespace morven {

class ReadAhead;

class FileReader final : public ByteSource {
 public:
  FileReader();
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens the file for reading; false with errno set on failure.
  bool open(const std::string& path);
  // Reads standard input from where it stands; it is not closed.
  bool openStandardInput();
  void close();
  bool isOpen() const { return _fd >= 0; }
  // The size of the open file, from its descriptor; false with errno set on
  // failure.
  bool size(uint64_t& bytes) const;
  // Whether the input can seek (a file on a disk, not a pipe).
  bool seekable() const { return _seekable; }

  // Reads up to n bytes; fewer at end of file or on a read error.
  size_t read(void* dst, size_t n) override;
  // Moves the position forward by n bytes; false with errno set on failure
  // (a file that cannot seek, or a position past the largest file offset).
  bool seekForward(uint64_t n);
  // Copies up to n of the first bytes of the input to dst without taking
  // them: the next read still starts at the beginning. Only before the
  // first read; n at most 64.
  size_t peek(void* dst, size_t n);

  // The byte source: a step forward seeks, or reads on a pipe.
  bool skip(uint64_t n) override;
  bool knownSize(uint64_t& bytes) const override;
  uint64_t position() const override { return _pos; }

  // Whether the hints are given by a thread of their own (as opened) or by
  // the reading thread.
  void setHintThread(bool use) override { _hintThread = use; }

  // Sets the end-of-file mark, as a short read at the current position
  // would (a followed file that ended where a step over a payload would go
  // past it).
  void markEnd() { _eof = true; }
  bool eof() const override { return _eof; }
  bool error() const override { return _error; }

 private:
  static constexpr size_t kBufferSize = 128 * 1024;
  // A refill after a large read.
  static constexpr size_t kSmallFill = 4096;
  static constexpr uint64_t READ_AHEAD = 16 * 1024 * 1024;

  // One read system call at the current position; retries on EINTR.
  long rawRead(unsigned char* dst, size_t n);
  // The same for n bytes into dst and the kSmallFill bytes after them into
  // the buffer: a large read brings the next chunk's header along, so that
  // a stream of payloads costs one system call per chunk.
  long rawReadThenFill(unsigned char* dst, size_t n);
  // Asks for the bytes after a read of n bytes at the current position in
  // the background, when that read follows the last one.
  void readAhead(size_t n);

  // Sets up the state for a descriptor just opened.
  void start(int fd, bool owned);

  int _fd = -1;
  bool _ownsFd = true;   // closed by close(); standard input is not
  bool _stream = false;  // standard input that cannot seek
  uint64_t _base = 0;    // file offset of position 0 (standard input)
  bool _seekable = false;
  bool _eof = false;
  bool _error = false;
  uint64_t _pos = 0;         // logical position in the file
  uint64_t _bufStart = 0;    // file offset of _buf[0]
  size_t _bufLen = 0;        // valid bytes in _buf
  uint64_t _readEnd = 0;     // file offset after the last read system call
  uint64_t _aheadEnd = 0;    // the system has been asked for the bytes up to here
  bool _afterLarge = false;  // the last read was a large one
  bool _hintThread = true;   // hints go to _ahead
  std::unique_ptr<unsigned char[]> _buf;
  std::unique_ptr<ReadAhead> _ahead;  // made at the first hint
  // The size of a regular file when last looked at (UINT64_MAX for others).
  uint64_t _endSeen = UINT64_MAX;
};

}  // namespace morven

#endif  // MORVEN_FILEREADER_H
