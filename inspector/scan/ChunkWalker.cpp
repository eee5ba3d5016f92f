// The chunk walk: opening a file and checking its header, then one chunk
// header word at a time, with the payloads of JSON and register chunks read
// and kept.
#include "scan/ChunkWalker.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <nlohmann/json.hpp>

#include "format/ByteOrder.h"
#include "format/ChunkTypes.h"
#include "io/FollowSource.h"
#include "io/OpenInput.h"
#include "text/JsonNesting.h"

namespace morven {

namespace {

// JSON and register payloads are kept in memory. A chip's information text
// or register set is a few kilobytes; a header that declares gigabytes must
// not decide how much memory the tool takes, so at most this much of such a
// payload is kept.
constexpr uint64_t MAX_KEPT_PAYLOAD = 16 * 1024 * 1024;

// Printing a JSON value back recurses once per nesting level; deeper texts
// are reported as unreadable rather than allowed to exhaust the stack.
constexpr int MAX_JSON_DEPTH = 512;

}  // namespace

void ChunkWalker::reset() {
  // The file itself is closed by open before it resets.
  _fileName.clear();
  _hasError = false;
  _errNo = 0;
  _skipPayload = true;
  _fileSize = _fileIndex = _fileHeader = _headerTotal = 0;
  _chunkType = _chunkHeaderWord = _chunkBytes = _chunkBytesTotal = 0;
  _chunkSizes.clear();
  _chunkTypeCounters.clear();
}

bool ChunkWalker::open(const std::string& fileName, bool reset) {
  startFile(fileName, reset);
  OpenFailure failure;
  _source = openInput(fileName, failure, _follow, std::move(_spareReader));
  if (failure == OpenFailure::Open) {
    tellProblem({ProblemKind::OpenFailed, 0, 0, fileName});
    _hasError = true;
    return false;
  }
  if (failure == OpenFailure::Stat) {
    _errNo = errno;
    tellProblem({ProblemKind::StatFailed, 0, 0, fileName});
    _hasError = true;
    return false;
  }
  return readFileHeader();
}

bool ChunkWalker::open(std::unique_ptr<ByteSource> source, const std::string& name, bool reset) {
  startFile(name, reset);
  _source = std::move(source);
  return readFileHeader();
}

void ChunkWalker::startFile(const std::string& fileName, bool reset) {
  _plainFile = nullptr;
  // The reader of the file before serves the next one.
  if (std::unique_ptr<FileReader> reader = closedReader(std::move(_source)))
    _spareReader = std::move(reader);
  if (reset) this->reset();
  _fileName = fileName;
  // A new file starts a fresh walk, also without a reset: nothing of the
  // previous file's current chunk (its declared size, words of a data chunk
  // it ended inside) may be applied to this one.
  _chunkBytes = 0;
  _skipPayload = true;
  _fileSize = 0;
  _fileIndex = 0;
  _fileHeader = 0;
  _fileHeaders = 0;
  _readFailureTold = false;
}

bool ChunkWalker::readFileHeader() {
  // The size of the file that was opened, not of whatever the name points
  // to a moment later; a stream's is learnt at its end.
  _sizeKnown = _sizeKnownAtOpen = _source->knownSize(_fileSize);
  if (!_sizeKnown) _fileSize = UINT64_MAX;
  _plainFile = _sizeKnown ? dynamic_cast<FileReader*>(_source.get()) : nullptr;

  unsigned char header[8];
  if (readBytes(header, 8) != 8) {
    tellProblem({ProblemKind::HeaderUnreadable, 0});
    _hasError = true;
    return false;
  }
  _fileHeader = loadLE64(header);
  _fileIndex = 8;
  if (_fileHeader == MVHDR_MAGIC) return true;
  // A followed file is read as it is written, byte for byte: a compressed
  // one cannot be decompressed before it is complete.
  if (dynamic_cast<FollowSource*>(_source.get()) != nullptr &&
      compressionOf(header, sizeof header) != Compression::None) {
    const std::string kind =
        compressionOf(header, sizeof header) == Compression::Zstd ? "zstd" : "gzip";
    tellProblem({ProblemKind::ReadFailed, 0, 0, _fileName,
                 "a " + kind +
                     "-compressed file cannot be followed while it is written; read it once it "
                     "is complete"});
    _hasError = true;
    return false;
  }

  tellProblem({ProblemKind::NotMorven, 0, _fileHeader});
  _hasError = true;
  return false;
}

FileProblem ChunkWalker::cutChunkProblem() const {
  FileProblem problem(ProblemKind::TruncatedChunk, chunkOffset(), _fileHeaders);
  problem.runChunk = _headerTotal;
  return problem;
}

bool ChunkWalker::nextChunk() {
  if (_skipPayload && !skipBytes(_chunkBytes)) {
    _errNo = errno;
    return false;
  }
  _skipPayload = true;

  if (payloadCut()) {
    tellProblem(cutChunkProblem());
    _chunkBytes = _fileIndex > _fileSize ? 0 : _fileSize - _fileIndex;
    _hasError = true;
  }
  _fileIndex += _chunkBytes;

  unsigned char word[8];
  if (readBytes(word, 8) != 8) {
    _chunkType = MVHDR_CHUNKTYPE_MASK;
    _chunkBytes = 0;
    return false;
  }
  ++_headerTotal;
  ++_fileHeaders;
  _fileIndex += 8;
  if (_headerTotal % PROGRESS_CHUNKS == 0) progress(_fileIndex);

  if (!isValidHeader(loadLE64(word))) {
    tellProblem({ProblemKind::InvalidHeader, _fileIndex - 8, _chunkType});
    ++_invalidHeaders;
    _hasError = true;
    return false;
  }
  if (chunkIsData()) {
    _chunkSizes.push_back(_chunkBytes);
    _chunkBytesTotal += _chunkBytes;
    return true;
  }
  if (chunkIsJson()) {
    readJsonPayload();
    _skipPayload = false;
    return true;
  }
  if (chunkIsVx7Config()) {
    readConfigPayload();
    _skipPayload = false;
    return true;
  }
  return true;
}

// Reads the JSON payload of the current chunk, which ends at its first zero
// byte, and keeps it printed back with an indentation of 2. A payload that
// is cut short or does not parse leaves no text behind, so that a report
// never shows the text of an earlier chunk for it.
void ChunkWalker::readJsonPayload() {
  _jsonString.clear();
  std::string text;
  uint64_t left = _chunkBytes;
  bool terminated = false, complete = true;
  while (left > 0 && !terminated) {
    if (text.size() >= MAX_KEPT_PAYLOAD) break;
    // Grow by doubling: a text that ends early costs one small read.
    uint64_t step = std::max<uint64_t>(64 * 1024, text.size());
    size_t piece = size_t(std::min({left, step, MAX_KEPT_PAYLOAD - text.size()}));
    size_t old = text.size();
    text.resize(old + piece);
    size_t got = readBytes(text.data() + old, piece);
    text.resize(old + got);
    left -= got;
    size_t zero = text.find('\0', old);
    if (zero != std::string::npos) {
      text.resize(zero);
      terminated = true;
    }
    if (got < piece && !terminated) {
      complete = false;
      break;
    }
  }
  bool tooLong = !terminated && left > 0 && complete;
  if (left > 0 && complete) {
    // The rest after the terminating zero byte (or past what is kept) is
    // not part of the text: step over it, and tell from the file's size
    // whether the file holds it all.
    if (!skipBytes(left) || payloadCut()) {
      complete = false;
    }
  }
  if (!complete) {
    tellChunkProblem(ProblemKind::JsonUnreadable);
    _hasError = true;
    return;
  }
  if (tooLong || jsonNestingDepth(text) > MAX_JSON_DEPTH) {
    tellChunkProblem(ProblemKind::JsonInvalid);
    return;
  }
  try {
    nlohmann::json value = nlohmann::json::parse(text);
    _jsonString = value.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const std::exception&) {
    _jsonString.clear();
    tellChunkProblem(ProblemKind::JsonInvalid);
  }
}

// Reads the register records of a chip-configuration chunk. Only the bytes
// the file really holds are kept (at most MAX_KEPT_PAYLOAD), so the listing
// never shows records the file never had.
void ChunkWalker::readConfigPayload() {
  // Never more than the file still holds: a header that declares gigabytes
  // in a small file costs no memory for bytes that are not there.
  uint64_t inFile = _fileIndex <= _fileSize ? _fileSize - _fileIndex : 0;
  uint64_t want = std::min({_chunkBytes, MAX_KEPT_PAYLOAD, inFile});
  _configBytes.resize(size_t(want));
  size_t got = readBytes(_configBytes.data(), size_t(want));
  _configBytes.resize(got);
  bool complete = got == want;
  if (complete && _chunkBytes > want) {
    uint64_t rest = _chunkBytes - want;
    if (!skipBytes(rest) || payloadCut()) {
      complete = false;
    }
  }
  if (!complete) {
    tellChunkProblem(ProblemKind::ConfigUnreadable);
    _hasError = true;
  }
}

void ChunkWalker::tellProblem(FileProblem problem) {
  if (_problemSink) _problemSink(problem);
}

// A problem of the current chunk's payload, named by the chunk's type.
void ChunkWalker::tellChunkProblem(ProblemKind kind) {
  tellProblem({kind, _fileIndex - 8, _chunkType});
}

bool ChunkWalker::isValidHeader(uint64_t headerWord) {
  ChunkClass c = classifyHeader(headerWord);
  _chunkHeaderWord = headerWord;
  if (c.accepted) ++_chunkTypeCounters[c.counterKey];
  _chunkType = c.type;
  _chunkBytes = c.bytes;
  return c.accepted;
}

std::string ChunkWalker::fileHeaderString() const {
  std::string s;
  for (int i = 0; i < 7; ++i) {
    char c = char((_fileHeader >> (8 * i)) & 0xFF);
    if (c == 0) break;
    s += c;
  }
  return s;
}

size_t ChunkWalker::readBytes(void* dst, size_t n) {
  if (_plainFile != nullptr) {
    const size_t got = _plainFile->read(dst, n);
    if (got < n) afterInput();
    return got;
  }
  if (!_source) return 0;
  const size_t got = _source->read(dst, n);
  if (got < n) afterInput();
  return got;
}

bool ChunkWalker::skipBytes(uint64_t n) {
  // A file of known size seeks: it cannot fail or end here.
  if (_plainFile != nullptr) return _plainFile->seekForward(n);
  if (!_source) {
    errno = EBADF;
    return false;
  }
  const bool moved = _source->skip(n);
  afterInput();
  return moved;
}

void ChunkWalker::walkEnded() {
  if (!_source || _source->eof() || _source->error()) return;
  _source->verifyToEnd();
  afterInput();
}

void ChunkWalker::afterInput() {
  if (!_sizeKnown && _source->eof()) {
    _fileSize = _source->position();
    _sizeKnown = true;
  }
  if (_source->error() && !_readFailureTold) {
    const std::string why = _source->errorText();
    _readFailureTold = true;
    // A plain file's read error is told by the file check's end lines, as
    // ever; a damaged compressed stream says what and where.
    if (!why.empty()) {
      _hasError = true;
      tellProblem({ProblemKind::ReadFailed, _source->errorOffset(), 0, _fileName, why});
    }
  }
}

}  // namespace morven
