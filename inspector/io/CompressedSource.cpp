#include "io/CompressedSource.h"

#include <unistd.h>
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_windowLogMax's error code
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "io/FileReader.h"
#include "io/WorkerThread.h"

namespace morven {

namespace {

// Compressed bytes are read from the file in pieces of this size.
constexpr size_t IN_BYTES = size_t(1) << 18;

}  // namespace

// One step of a decompressor: takes compressed bytes, makes uncompressed
// ones, and knows whether the stream may end where it stands (between
// frames or members).
class Decoder {
 public:
  virtual ~Decoder() = default;
  virtual bool ready() const = 0;
  // Decodes from in into out; used and made tell how much. False with the
  // reason in error when the stream is damaged.
  virtual bool step(const unsigned char* in, size_t inLen, unsigned char* out, size_t outLen,
                    size_t& used, size_t& made, std::string& error) = 0;
  virtual bool atBoundary() const = 0;
  // The last error was damage in the data (not a limit of the tool's).
  bool damaged = true;
};

namespace {

class ZstdDecoder : public Decoder {
 public:
  ZstdDecoder() : _ctx(ZSTD_createDCtx()) {
    if (_ctx != nullptr) ZSTD_DCtx_setParameter(_ctx, ZSTD_d_windowLogMax, MAX_WINDOW_LOG);
  }
  ~ZstdDecoder() override { ZSTD_freeDCtx(_ctx); }
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;

  bool ready() const override { return _ctx != nullptr; }
  bool step(const unsigned char* in, size_t inLen, unsigned char* out, size_t outLen, size_t& used,
            size_t& made, std::string& error) override {
    ZSTD_inBuffer src{in, inLen, 0};
    ZSTD_outBuffer dst{out, outLen, 0};
    const size_t r = ZSTD_decompressStream(_ctx, &dst, &src);
    used = src.pos;
    made = dst.pos;
    if (ZSTD_isError(r)) {
      damaged = ZSTD_getErrorCode(r) != ZSTD_error_frameParameter_windowTooLarge;
      if (!damaged) {
        error = "zstd: a frame asks for a window of more than " +
                std::to_string((size_t(1) << MAX_WINDOW_LOG) >> 20) + " MiB";
      } else {
        error = std::string("zstd: ") + ZSTD_getErrorName(r);
      }
      return false;
    }
    if (!frameHeld(in, used, made, error)) return false;
    // 0: a frame has ended and the next may start. A call that moved
    // nothing (no input left) says nothing of where the stream stands.
    if (used > 0 || made > 0) _boundary = r == 0;
    if (r == 0) {
      _headerHave = 0;
      _contentSize = ZSTD_CONTENTSIZE_UNKNOWN;
      _frameMade = 0;
    }
    return true;
  }
  bool atBoundary() const override { return _boundary; }

 private:
  // Holds the frame to the content size its header declares, if it does:
  // the library compares the two only at the frame's end, after every byte
  // of a longer frame has been handed on. The header is gathered from the
  // bytes the frame has used so far. A frame that passes its size keeps
  // the bytes up to it.
  bool frameHeld(const unsigned char* in, size_t used, size_t& made, std::string& error) {
    if (_headerHave < _header.size() && _contentSize == ZSTD_CONTENTSIZE_UNKNOWN) {
      const size_t take = std::min(used, _header.size() - _headerHave);
      std::memcpy(_header.data() + _headerHave, in, take);
      _headerHave += take;
      ZSTD_frameHeader h;
      if (ZSTD_getFrameHeader(&h, _header.data(), _headerHave) == 0) {
        // A skippable frame makes no bytes; its size is not content.
        if (h.frameType == ZSTD_frame) _contentSize = h.frameContentSize;
        _headerHave = _header.size();
      }
    }
    _frameMade += made;
    if (_contentSize == ZSTD_CONTENTSIZE_UNKNOWN || _frameMade <= _contentSize) return true;
    // The bytes past the declared size are no part of the data.
    made -= size_t(_frameMade - _contentSize);
    error = "zstd: a frame holds more than the " + std::to_string(_contentSize) +
            " bytes its header declares";
    damaged = true;
    return false;
  }

  ZSTD_DCtx* _ctx;
  bool _boundary = true;
  std::array<unsigned char, ZSTD_FRAMEHEADERSIZE_MAX> _header{};
  size_t _headerHave = 0;
  unsigned long long _contentSize = ZSTD_CONTENTSIZE_UNKNOWN;
  uint64_t _frameMade = 0;
};

class GzipDecoder : public Decoder {
 public:
  GzipDecoder() {
    std::memset(&_z, 0, sizeof _z);
    // 16 + 15: gzip members only, with the largest window deflate has.
    _ready = inflateInit2(&_z, 16 + 15) == Z_OK;
  }
  ~GzipDecoder() override {
    if (_ready) inflateEnd(&_z);
  }
  GzipDecoder(const GzipDecoder&) = delete;
  GzipDecoder& operator=(const GzipDecoder&) = delete;

  bool ready() const override { return _ready; }
  bool step(const unsigned char* in, size_t inLen, unsigned char* out, size_t outLen, size_t& used,
            size_t& made, std::string& error) override {
    // A member ended at the last step: the next bytes start another one.
    if (_boundary && inLen > 0) {
      inflateReset(&_z);
      _boundary = false;
    }
    _z.next_in = const_cast<unsigned char*>(in);
    _z.avail_in = uInt(std::min<size_t>(inLen, UINT32_MAX));
    _z.next_out = out;
    _z.avail_out = uInt(std::min<size_t>(outLen, UINT32_MAX));
    const int r = inflate(&_z, Z_NO_FLUSH);
    used = size_t(_z.next_in - in);
    made = size_t(_z.next_out - out);
    if (r == Z_STREAM_END) {
      _boundary = true;
      return true;
    }
    if (r == Z_OK || (r == Z_BUF_ERROR && used == 0 && made == 0)) {
      _started = _started || used > 0;
      return true;
    }
    error = std::string("gzip: ") + (_z.msg != nullptr ? _z.msg : "damaged data");
    return false;
  }
  bool atBoundary() const override { return _boundary || !_started; }

 private:
  z_stream _z;
  bool _ready = false;
  bool _boundary = false;
  bool _started = false;
};

}  // namespace

CompressedSource::CompressedSource(std::unique_ptr<ByteSource> raw, Compression kind, bool thread)
    : _raw(std::move(raw)), _shared(std::make_unique<Shared>()) {
  if (kind == Compression::Zstd) {
    _decoder = std::make_unique<ZstdDecoder>();
  } else {
    _decoder = std::make_unique<GzipDecoder>();
  }
  _in = std::make_unique_for_overwrite<unsigned char[]>(IN_BYTES);
  _blocks[0].bytes = std::make_unique_for_overwrite<unsigned char[]>(BLOCK_BYTES);
  if (!_decoder->ready()) {
    _error = true;
    _eof = true;
    _errorText = "the decompressor could not be set up";
  }
  // Without a thread, the reader decompresses when it needs bytes.
  _threadTried = !thread;
}

CompressedSource::~CompressedSource() {
  stopThread();
}

std::unique_ptr<FileReader> CompressedSource::releaseFile() {
  stopThread();
  _ended = _eof = true;
  if (auto* plain = dynamic_cast<FileReader*>(_raw.get())) {
    (void)_raw.release();
    return std::unique_ptr<FileReader>(plain);
  }
  return _raw ? _raw->releaseFile() : nullptr;
}

// The first block is made by the reader: a stream that ends in it (a small
// file) starts no thread. Past it, the thread makes the blocks after the
// reader's, which holds block 0; without a thread (or the memory for its
// blocks), the reader goes on decompressing when it needs bytes.
void CompressedSource::startThread() {
  _threadTried = true;
  try {
    for (Block& b : _blocks) {
      if (!b.bytes) b.bytes = std::make_unique_for_overwrite<unsigned char[]>(BLOCK_BYTES);
    }
    _shared->first = _current;
    _shared->ready = 1;
    _process = ::getpid();
    _thread = std::make_unique<std::thread>(&CompressedSource::run, this);
  } catch (const std::exception&) {
    _thread.reset();
  }
}

void CompressedSource::stopThread() {
  stopWorker(_thread, _shared, _process, &Shared::freed);
}

uint64_t CompressedSource::compressedBytes() const {
  return _compressed.load(std::memory_order_relaxed);
}

void CompressedSource::run() {
  Shared& s = *_shared;
  for (;;) {
    size_t w;
    {
      std::unique_lock<std::mutex> lock(s.mutex);
      s.freed.wait(lock, [&] { return s.stop || s.ready < BLOCKS; });
      if (s.stop) return;
      w = (s.first + s.ready) % BLOCKS;
    }
    const bool more = fill(_blocks[w]);
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      ++s.ready;
      s.done = !more;
    }
    s.filled.notify_one();
    if (!more) return;
  }
}

bool CompressedSource::refill() {
  if (_inStart < _inEnd) return true;
  if (_inEnded) return false;
  _inStart = _inEnd = 0;
  errno = 0;
  const size_t n = _raw->read(_in.get(), IN_BYTES);
  const int readErrno = errno;
  _compressed.fetch_add(n, std::memory_order_relaxed);
  _inEnd = n;
  if (n < IN_BYTES && _raw->error()) {
    _inEnded = true;
    _failed = true;
    // A source that says why (a Python file object), or the system's errno.
    const std::string why = _raw->errorText();
    _failText = "read error: " + (why.empty() ? std::string(std::strerror(readErrno)) : why);
    return n > 0;
  }
  if (n == 0) _inEnded = true;
  return n > 0;
}

bool CompressedSource::fail(const std::string& what, size_t inBlock, bool damaged) {
  if (!_failed) {
    _failed = true;
    _failText = what;
  }
  _failOffset = _made + inBlock;
  _failText += " at byte " + std::to_string(_failOffset) + " of the uncompressed data";
  // Checksums are checked at the end of a member or frame: the bytes made
  // before the damage was found have not passed theirs.
  if (damaged && _failOffset > 0) _failText += "; the figures before it may hold damaged data";
  return false;
}

bool CompressedSource::fill(Block& block) {
  block.size = 0;
  while (block.size < BLOCK_BYTES) {
    const bool haveInput = refill();
    if (_failed) return fail(_failText, block.size);
    size_t used = 0, made = 0;
    std::string error;
    const unsigned char* in = _in.get() + _inStart;
    if (!_decoder->step(in, _inEnd - _inStart, block.bytes.get() + block.size,
                        BLOCK_BYTES - block.size, used, made, error)) {
      _made += block.size + made;
      block.size += made;
      return fail(error, 0, _decoder->damaged);
    }
    // Input waits and there is room, yet nothing moved: the decompressor
    // is stuck on the bytes it has.
    if (haveInput && used == 0 && made == 0) {
      _made += block.size;
      return fail("damaged compressed data", 0, true);
    }
    _inStart += used;
    block.size += made;
    // The input has ended and the decompressor has nothing more to give.
    if (!haveInput && made == 0) {
      _made += block.size;
      if (!_decoder->atBoundary()) return fail("the compressed stream is cut short", 0);
      return false;
    }
  }
  _made += block.size;
  return true;
}

bool CompressedSource::nextBlock() {
  if (_ended) return false;
  if (!_threadTried && _haveBlock && !_lastFilled) startThread();
  if (!_thread) {
    // Decompressed here, one block at a time; a last block that is empty
    // ends the stream at the next call.
    if (_lastFilled) {
      _ended = true;
      return false;
    }
    _lastFilled = !fill(_blocks[0]);
    _current = 0;
    _taken = 0;
    _haveBlock = true;
    return true;
  }
  if (::getpid() != _process) {
    _failed = true;
    _failText = "a compressed stream cannot be read in a forked process";
    _ended = true;
    return false;
  }
  Shared& s = *_shared;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (_haveBlock) {
    s.first = (s.first + 1) % BLOCKS;
    --s.ready;
    _haveBlock = false;
    s.freed.notify_one();
  }
  s.filled.wait(lock, [&] { return s.ready > 0 || s.done; });
  if (s.ready == 0) {
    _ended = true;
    return false;
  }
  _current = s.first;
  _haveBlock = true;
  _taken = 0;
  return true;
}

size_t CompressedSource::read(void* dst, size_t n) {
  unsigned char* out = static_cast<unsigned char*>(dst);
  size_t done = 0;
  while (done < n && !_eof) {
    const Block& b = _blocks[_current];
    if (_haveBlock && _taken < b.size) {
      const size_t take = std::min(n - done, b.size - _taken);
      if (out != nullptr) std::memcpy(out + done, b.bytes.get() + _taken, take);
      _taken += take;
      done += take;
      continue;
    }
    if (!nextBlock()) {
      _eof = true;
      if (_failed) {
        _error = true;
        _errorText = _failText;
      }
    }
  }
  _pos += done;
  return done;
}

void CompressedSource::verifyToEnd() {
  if (_eof || _ended) return;
  // Every block up to the end handed back unread; the reader's view stays.
  while (nextBlock()) {
  }
  _haveBlock = false;
  if (_failed) {
    _error = true;
    _errorText = _failText;
  }
}

bool CompressedSource::skip(uint64_t n) {
  // Stepped over by decompressing, a piece at a time.
  while (n > 0 && !_eof) {
    const size_t piece = size_t(std::min<uint64_t>(n, SIZE_MAX));
    const size_t got = read(nullptr, piece);
    n -= got;
  }
  return true;
}

}  // namespace morven
