// File and chunk level of the inspector: construction and reset, opening a
// file and checking its header, walking the chunks one header word at a time.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <nlohmann/json.hpp>

#include "format/ByteOrder.h"
#include "format/ChunkTypes.h"
#include "io/OpenInput.h"
#include "scan/DataInspector.h"
#include "scan/PacketTally.h"
#include "text/Format.h"
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

// The read buffer is handed out as 64-bit packets, so it is allocated as
// words and seen as bytes only by the reads that fill it.
std::unique_ptr<uint64_t[]> newReadBuffer() {
  return std::make_unique_for_overwrite<uint64_t[]>(SUBCHUNKSIZE / 8);
}

}  // namespace

DataInspector::DataInspector(const std::string& fileName, std::ostream& out)
    : _out(out),
      _buffer(newReadBuffer()),
      _pixelCounters(std::make_unique_for_overwrite<uint64_t[]>(PIXEL_COUNTERS)),
      _toaCounters(std::make_unique_for_overwrite<uint64_t[]>(TOA_COUNTERS)) {
  setFile(fileName, true);
}

DataInspector::DataInspector(std::ostream& out, bool allocBuffer)
    : _out(out),
      _buffer(allocBuffer ? newReadBuffer() : nullptr),
      _pixelCounters(std::make_unique_for_overwrite<uint64_t[]>(PIXEL_COUNTERS)),
      _toaCounters(std::make_unique_for_overwrite<uint64_t[]>(TOA_COUNTERS)) {
  init();
}

DataInspector::~DataInspector() = default;

void DataInspector::init() {
  // The file itself is closed by setFile before it resets.
  _fileName.clear();
  _hasError = false;
  _errNo = 0;
  _skipPayload = true;
  _reverseWords = _reverseBytes = _fromPelvan = _forceFrame = false;
  _fileSize = _fileIndex = _fileHeader = _headerTotal = 0;
  _chunkType = _chunkHeaderWord = _chunkBytes = _chunkBytesTotal = 0;
  _wordsAvail = _chunkWordsLeft = _pixelCounterTotal = 0;
  _pixel = &_noPacket;
  _externalChunk = false;
  _externalNext = nullptr;
  _externalBytes = 0;
  _packetStreamEnded = false;
  _display = DisplayState{};
  _chunkSizes.clear();
  _chunkTypeCounters.clear();
  _typeCounters.assign(256, 0);
  // memset, not a loop of word stores: a checked build (sanitizers, fuzz
  // targets) checks every store of a loop, and the fuzz targets reset for
  // every input.
  std::memset(_pixelCounters.get(), 0, PIXEL_COUNTERS * sizeof(uint64_t));
  std::memset(_toaCounters.get(), 0, TOA_COUNTERS * sizeof(uint64_t));
  if (_hitTotals) *_hitTotals = HitTotals();
}

void DataInspector::setHitTallies(bool on) {
  if (!on) {
    _hitTotals.reset();
  } else if (!_hitTotals) {
    _hitTotals = std::make_unique<HitTotals>();
  }
}

bool DataInspector::setFile(const std::string& fileName, bool reset) {
  startFile(fileName, reset);
  OpenFailure failure;
  _source = openInput(fileName, failure, _follow);
  if (failure == OpenFailure::Open) {
    tellProblem(ProblemKind::OpenFailed, 0, "Failed to open file " + fileName);
    _hasError = true;
    return false;
  }
  if (failure == OpenFailure::Stat) {
    _errNo = errno;
    tellProblem(ProblemKind::StatFailed, 0, "Failed to 'stat' file " + fileName);
    _hasError = true;
    return false;
  }
  return readFileHeader();
}

bool DataInspector::setSource(std::unique_ptr<ByteSource> source, const std::string& name,
                              bool reset) {
  startFile(name, reset);
  _source = std::move(source);
  return readFileHeader();
}

void DataInspector::startFile(const std::string& fileName, bool reset) {
  _plainFile = nullptr;
  _source.reset();
  if (reset) init();
  _fileName = fileName;
  // A new file starts a fresh walk, also without a reset: nothing of the
  // previous file's current chunk (its declared size, words of a data chunk
  // it ended inside) may be applied to this one.
  _chunkBytes = 0;
  _skipPayload = true;
  _wordsAvail = 0;
  _chunkWordsLeft = 0;
  _packetStreamEnded = false;
  _fileSize = 0;
  _fileIndex = 0;
  _fileHeader = 0;
  if (_hitTotals) _hitTotals->fileChunks.push_back(0);
  _readFailureTold = false;
}

bool DataInspector::readFileHeader() {
  // The size of the file that was opened, not of whatever the name points
  // to a moment later; a stream's is learnt at its end.
  _sizeKnown = _sizeKnownAtOpen = _source->knownSize(_fileSize);
  if (!_sizeKnown) _fileSize = UINT64_MAX;
  _plainFile = _sizeKnown ? dynamic_cast<FileReader*>(_source.get()) : nullptr;

  unsigned char header[8];
  if (readBytes(header, 8) != 8) {
    tellProblem(ProblemKind::HeaderUnreadable, 0, "Failed to read file header");
    _hasError = true;
    return false;
  }
  _fileHeader = loadLE64(header);
  _fileIndex = 8;
  if (_fileHeader == MVHDR_MAGIC) return true;

  tellProblem(ProblemKind::NotMorven, 0,
              "Doesn't look like a MORVEN data file: expected header 0x" +
                  hexString(MVHDR_MAGIC, 16) + ", got 0x" + hexString(_fileHeader, 16));
  _hasError = true;
  return false;
}

bool DataInspector::nextChunk() {
  if (_skipPayload && !skipBytes(_chunkBytes)) {
    _errNo = errno;
    return false;
  }
  _skipPayload = true;

  if (payloadCut()) {
    tellProblem(ProblemKind::TruncatedChunk, _fileIndex - 8,
                "Truncated last chunk #" + std::to_string(_headerTotal));
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
  _fileIndex += 8;
  if (_headerTotal % PROGRESS_CHUNKS == 0 && _progressHook) _progressHook(_fileIndex);

  if (!isValidHeader(loadLE64(word))) {
    tellProblem(ProblemKind::InvalidHeader, _fileIndex - 8,
                "Invalid header 0x" + hexString(_chunkType, 16) +
                    " @ index=" + std::to_string(_fileIndex - 8));
    ++_invalidHeaderLines;
    _hasError = true;
    return false;
  }
  if (chunkIsData()) {
    _chunkSizes.push_back(_chunkBytes);
    _chunkBytesTotal += _chunkBytes;
    return true;
  }
  if (chunkIsJson()) {
    printJsonPayload();
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
void DataInspector::printJsonPayload() {
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
    tellProblem(ProblemKind::JsonUnreadable, _fileIndex - 8,
                "Failed to read JSON chunk " + chunkTypeString());
    _hasError = true;
    return;
  }
  if (tooLong || jsonNestingDepth(text) > MAX_JSON_DEPTH) {
    tellProblem(ProblemKind::JsonInvalid, _fileIndex - 8,
                "Error reading JSON from chunk " + chunkTypeString());
    return;
  }
  try {
    nlohmann::json value = nlohmann::json::parse(text);
    _jsonString = value.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const std::exception&) {
    _jsonString.clear();
    tellProblem(ProblemKind::JsonInvalid, _fileIndex - 8,
                "Error reading JSON from chunk " + chunkTypeString());
  }
}

// Reads the register records of a chip-configuration chunk. Only the bytes
// the file really holds are kept (at most MAX_KEPT_PAYLOAD), so the listing
// never shows records the file never had.
void DataInspector::readConfigPayload() {
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
    tellProblem(ProblemKind::ConfigUnreadable, _fileIndex - 8,
                "Failed to read VX7-config chunk " + chunkTypeString());
    _hasError = true;
  }
}

void DataInspector::tellProblem(ProblemKind kind, uint64_t offset, std::string message,
                                bool shownInText) {
  const FileProblem problem{offset, std::move(message), kind, shownInText};
  if (_problemSink) {
    _problemSink(problem);
  } else if (shownInText) {
    _out << problemText(problem) << std::flush;
  }
}

std::string problemText(const FileProblem& problem) {
  if (problem.kind == ProblemKind::NotMorven) {
    // "...file: expected header 0x..., got 0x...", the header on a line of
    // its own.
    const size_t colon = problem.message.find(": ");
    if (colon != std::string::npos) {
      return "### " + problem.message.substr(0, colon + 1) + "\n    " +
             problem.message.substr(colon + 2) + "\n";
    }
  }
  return "### " + problem.message + "\n";
}

bool DataInspector::isValidHeader(uint64_t headerWord) {
  ChunkClass c = classifyHeader(headerWord);
  _chunkHeaderWord = headerWord;
  if (c.accepted) ++_chunkTypeCounters[c.counterKey];
  _chunkType = c.type;
  _chunkBytes = c.bytes;
  return c.accepted;
}

std::string DataInspector::chunkTypeString(uint64_t type) {
  return chunkTypeName(type);
}

std::string DataInspector::fileHeaderString() const {
  std::string s;
  for (int i = 0; i < 7; ++i) {
    char c = char((_fileHeader >> (8 * i)) & 0xFF);
    if (c == 0) break;
    s += c;
  }
  return s;
}

void DataInspector::logChunkCounters() {
  if (_chunkTypeCounters.empty()) return;
  _out << "=> Chunk counters:" << std::endl;
  // The names are padded here rather than with the stream's fill, which a
  // check may have left at '0'.
  _out << std::left;
  for (const auto& [key, count] : _chunkTypeCounters) {
    std::string name = chunkTypeString(key);
    if (name.size() < 25) name.append(25 - name.size(), ' ');
    _out << name << count << std::endl;
  }
  _out << std::right;
}

bool DataInspector::ferror() const {
  return _source && _source->error();
}

bool DataInspector::feof() const {
  return _source && _source->eof();
}

size_t DataInspector::readBytes(void* dst, size_t n) {
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

bool DataInspector::skipBytes(uint64_t n) {
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

void DataInspector::afterInput() {
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
      tellProblem(ProblemKind::ReadFailed, _source->position(),
                  "Read error in " + _fileName + ": " + why);
    }
  }
}

}  // namespace morven
