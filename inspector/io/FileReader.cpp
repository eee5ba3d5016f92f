#include "io/FileReader.h"

#include "io/ReadAhead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace morven {

// Data files run to many gigabytes: every build, 32-bit ones too, must seek
// and read with 64-bit file offsets.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

FileReader::FileReader() = default;

FileReader::~FileReader() {
  close();
}

bool FileReader::open(const std::string& path) {
  close();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  start(fd, true);
  return true;
}

bool FileReader::openStandardInput() {
  close();
  if (::fcntl(STDIN_FILENO, F_GETFL) == -1) return false;
  start(STDIN_FILENO, false);
  _stream = !_seekable;
  return true;
}

void FileReader::start(int fd, bool owned) {
  _fd = fd;
  _ownsFd = owned;
  _stream = false;
  // Pipes and terminals cannot seek; a stdio stream refuses every seek on
  // them, and so does this reader. Standard input redirected from a file
  // is read from where it stands.
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  _seekable = at != -1;
  _base = _seekable ? uint64_t(at) : 0;
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  // A larger pipe buffer lets the writer hand over a megabyte at a time;
  // refused (a lower system limit), the pipe keeps its size.
  if (known && S_ISFIFO(st.st_mode)) (void)::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  _endSeen = known && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : UINT64_MAX;
  // Made once and kept from file to file; every byte of it is written by a
  // read before it is read.
  if (!_buf) _buf = std::make_unique_for_overwrite<unsigned char[]>(kBufferSize);
  _eof = _error = false;
  _pos = _bufStart = 0;
  _bufLen = 0;
  _readEnd = _aheadEnd = 0;
  _afterLarge = false;
  _hintThread = true;
}

bool FileReader::size(uint64_t& bytes) const {
  struct stat st;
  if (_fd < 0) {
    errno = EBADF;
    return false;
  }
  if (::fstat(_fd, &st) != 0) return false;
  const uint64_t whole = uint64_t(st.st_size);
  bytes = whole > _base ? whole - _base : 0;
  return true;
}

bool FileReader::knownSize(uint64_t& bytes) const {
  return !_stream && size(bytes);
}

bool FileReader::skip(uint64_t n) {
  if (!_stream) return seekForward(n);
  // A stream steps over its bytes by reading them, at most to its end.
  while (n > 0 && !_eof && !_error) {
    const size_t inBuffer =
        _pos >= _bufStart && _pos - _bufStart < _bufLen ? size_t(_bufLen - (_pos - _bufStart)) : 0;
    if (inBuffer > 0) {
      const size_t take = size_t(std::min<uint64_t>(n, inBuffer));
      _pos += take;
      n -= take;
      continue;
    }
    const long r = rawRead(_buf.get(), kBufferSize);
    if (r < 0) {
      _error = true;
      _bufLen = 0;
    } else if (r == 0) {
      _eof = true;
      _bufLen = 0;
    } else {
      _bufStart = _pos;
      _bufLen = size_t(r);
    }
  }
  return true;
}

size_t FileReader::peek(void* dst, size_t n) {
  if (_fd < 0 || _pos != 0 || _bufStart != 0) return 0;
  // A pipe may deliver the first bytes in several pieces: they are
  // gathered in the buffer, where the first read finds them.
  while (_bufLen < n) {
    ssize_t r = _seekable ? ::pread(_fd, _buf.get() + _bufLen, kBufferSize - _bufLen,
                                    off_t(_base + _bufLen))
                          : ::read(_fd, _buf.get() + _bufLen, kBufferSize - _bufLen);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    _bufLen += size_t(r);
    _readEnd = _bufLen;
  }
  const size_t got = std::min(n, _bufLen);
  std::memcpy(dst, _buf.get(), got);
  return got;
}

void FileReader::close() {
  // No hint may be given to a descriptor that is closed (and may be reused).
  if (_ahead) _ahead->forget();
  if (_fd >= 0 && _ownsFd) ::close(_fd);
  _fd = -1;
  _eof = _error = false;
  _pos = _bufStart = 0;
  _bufLen = 0;
}

long FileReader::rawRead(unsigned char* dst, size_t n) {
  readAhead(n);
  for (;;) {
    ssize_t r = _seekable ? ::pread(_fd, dst, n, off_t(_base + _pos)) : ::read(_fd, dst, n);
    if (r > 0) _readEnd = _pos + uint64_t(r);
    if (r >= 0 || errno != EINTR) return long(r);
  }
}

long FileReader::rawReadThenFill(unsigned char* dst, size_t n) {
  readAhead(n + kSmallFill);
  iovec parts[2] = {{dst, n}, {_buf.get(), kSmallFill}};
  for (;;) {
    ssize_t r = _seekable ? ::preadv(_fd, parts, 2, off_t(_base + _pos)) : ::readv(_fd, parts, 2);
    if (r > 0) _readEnd = _pos + uint64_t(r);
    if (r >= 0 || errno != EINTR) return long(r);
  }
}

void FileReader::readAhead(size_t n) {
  constexpr uint64_t maxOffset = uint64_t(std::numeric_limits<off_t>::max());
  if (!_seekable || _pos == 0 || _pos != _readEnd) return;
  const uint64_t at = _base + _pos;
  if (at > maxOffset - READ_AHEAD || n > maxOffset - READ_AHEAD - at) return;
  const uint64_t end = _pos + n;
  // Asked in steps of half the distance, not at every read.
  if (_aheadEnd >= end + READ_AHEAD / 2) return;
  // Nothing lies beyond a read that reaches the end of the file: a small
  // file asks for nothing (and starts no thread), unless it has grown
  // since (a file that is followed while it is written).
  if (_base + end >= _endSeen) {
    struct stat st;
    if (::fstat(_fd, &st) != 0) return;
    _endSeen = uint64_t(st.st_size);
    if (_base + end >= _endSeen) return;
  }
  const uint64_t from = std::max(_aheadEnd, end);
  _aheadEnd = end + READ_AHEAD;
  // The thread only speeds the reading up: without memory for it, the
  // reader gives the hint itself.
  if (_hintThread && !_ahead) _ahead.reset(new (std::nothrow) ReadAhead());
  if (_hintThread && _ahead) {
    _ahead->ask(_fd, _base + from, _base + _aheadEnd);
    return;
  }
  // Only a hint: a failure changes nothing but the speed.
  (void)::posix_fadvise(_fd, off_t(_base + from), off_t(_aheadEnd - from), POSIX_FADV_WILLNEED);
}

size_t FileReader::read(void* dst, size_t n) {
  if (_fd < 0) return 0;
  // Most reads of a chunk walk are header words that the buffer holds.
  if (n > 0 && !_eof && n < kBufferSize && _pos >= _bufStart && _pos - _bufStart + n <= _bufLen) {
    std::memcpy(dst, _buf.get() + (_pos - _bufStart), n);
    _pos += n;
    _afterLarge = false;
    return n;
  }
  unsigned char* out = static_cast<unsigned char*>(dst);
  size_t done = 0;
  // A large read (a payload into the packet buffer) takes what the buffer
  // holds and reads the rest straight to the caller's memory, and the
  // buffer is then refilled only in small steps (the next chunk's header,
  // a small payload; the first of them comes with the large read): the
  // bytes of the next large payload are copied once, not once into the
  // buffer and again out of it.
  const bool large = n >= kBufferSize;
  const size_t fill = _afterLarge ? kSmallFill : kBufferSize;
  _afterLarge = large;
  // End of file is sticky, as in glibc's stdio: no read until the next seek.
  while (done < n && !_eof) {
    if (_pos >= _bufStart && _pos - _bufStart < _bufLen) {
      size_t off = size_t(_pos - _bufStart);
      size_t take = std::min(n - done, _bufLen - off);
      std::memcpy(out + done, _buf.get() + off, take);
      done += take;
      _pos += take;
      continue;
    }
    size_t rest = n - done;
    if (large) {
      long r = rawReadThenFill(out + done, rest);
      if (r < 0) {
        _error = true;
        break;
      }
      if (r == 0) {
        _eof = true;
        break;
      }
      const size_t got = std::min(size_t(r), rest);
      if (size_t(r) > rest) {
        // The buffer holds the bytes that follow.
        _bufStart = _pos + got;
        _bufLen = size_t(r) - rest;
      }
      done += got;
      _pos += uint64_t(got);
      continue;
    }
    long r = rawRead(_buf.get(), fill);
    if (r < 0) {
      _error = true;
      _bufLen = 0;
      break;
    }
    if (r == 0) {
      _eof = true;
      _bufLen = 0;
      break;
    }
    _bufStart = _pos;
    _bufLen = size_t(r);
  }
  return done;
}

bool FileReader::seekForward(uint64_t n) {
  if (_fd < 0) {
    errno = EBADF;
    return false;
  }
  if (!_seekable) {
    errno = ESPIPE;
    return false;
  }
  constexpr uint64_t maxOffset = uint64_t(std::numeric_limits<off_t>::max());
  if (_base + _pos > maxOffset || n > maxOffset - _base - _pos) {
    errno = EINVAL;
    return false;
  }
  _pos += n;
  _eof = false;
  return true;
}

}  // namespace morven
