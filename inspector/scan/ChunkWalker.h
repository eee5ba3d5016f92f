// The chunk walk of a MORVEN data file.
//
// A file is an 8-byte header ("MORVEN\0\0") and then chunks, each a 64-bit
// little-endian header word (type, stream id, payload size) and its
// payload. The walker opens a file (or takes a byte source), checks its
// header, and reads one chunk header word at a time: it classifies it,
// keeps the payloads of JSON and register chunks, and steps over every
// other payload unless a reader takes it (the packet stream reads data
// chunks' payloads through readBytes). What it finds it gives as values:
// the current chunk's fields, the counts and sizes of the chunks, and each
// problem, told to a sink as it is found. It writes no text.
//
// One walker serves a whole run: the chunk counts and sizes go on from
// file to file until reset().
#ifndef MORVEN_CHUNKWALKER_H
#define MORVEN_CHUNKWALKER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "format/MorvenFormat.h"
#include "io/ByteSource.h"
#include "io/FileReader.h"
#include "scan/FileProblem.h"

namespace morven {

struct FollowSettings;  // io/FollowSource.h

class ChunkWalker {
 public:
  ChunkWalker() = default;
  ChunkWalker(const ChunkWalker&) = delete;
  ChunkWalker& operator=(const ChunkWalker&) = delete;

  using ProblemSink = std::function<void(const FileProblem&)>;
  // Every problem goes here at the moment it is found.
  void setProblemSink(ProblemSink sink) { _problemSink = std::move(sink); }
  // Told the file offset reached, once per read piece of a data chunk and
  // every PROGRESS_CHUNKS chunks: for a progress line.
  using ProgressHook = std::function<void(uint64_t offset)>;
  void setProgressHook(ProgressHook hook) { _progressHook = std::move(hook); }
  static constexpr uint64_t PROGRESS_CHUNKS = 4096;
  // The files opened from now on are followed while they are written (see
  // io/FollowSource.h); nullptr: read as they are. The settings must
  // outlive the files.
  void setFollow(const FollowSettings* follow) { _follow = follow; }

  // Back to the start of a run: no file, no error, no chunk counted.
  void reset();
  // Opens the file of that name (after a reset if asked) and reads its
  // header; false, with the problem told, if it cannot be walked.
  bool open(const std::string& fileName, bool reset);
  // As open, reading from the given source under that name.
  bool open(std::unique_ptr<ByteSource> source, const std::string& name, bool reset);

  // Reads the next chunk's header word, stepping over the current payload
  // unless a reader took it (payloadTaken); false at the end of the file, on
  // a failed step, or on a header of no accepted type (then chunkType() and
  // chunkBytes() still tell what it declared).
  bool nextChunk();
  // The walk of this file has ended before the end of its input (a header
  // of no accepted type): a compressed input is read on to its end, so that
  // damage that only its checksums show is found and told as a read error.
  void walkEnded();
  // Takes a header word as the current chunk's; whether its type is accepted.
  bool isValidHeader(uint64_t headerWord);
  // The current payload has been read by its reader: the next nextChunk()
  // starts at the next header word.
  void payloadTaken() { _skipPayload = false; }

  bool chunkIsData() const { return (_chunkType & MVHDR_GROUPID_MASK) == 0; }
  bool chunkIsJson() const { return (_chunkType & MVHDR_ENCODING_MASK) == MVHDR_ENCODING_JSON; }
  bool chunkIsVx7Config() const { return (_chunkType & MVHDR_CHUNKTYPE_MASK) == MVHDR_VX7CFG; }
  bool chunkIsVx7PixConfig() const {
    return (_chunkType & MVHDR_CHUNKTYPE_MASK) == MVHDR_VX7PIXCFG;
  }
  // The header's text: up to 7 bytes, to the first zero.
  std::string fileHeaderString() const;
  // The current JSON chunk's text, printed back with an indentation of 2;
  // empty when it could not be read.
  const std::string& jsonString() const { return _jsonString; }
  // The register bytes of the last chip-configuration chunk.
  const std::vector<unsigned char>& configBytes() const { return _configBytes; }

  bool ferror() const { return _source && _source->error(); }
  bool feof() const { return _source && _source->eof(); }
  // The file's size: known at the start for a plain file; for a stream
  // (standard input, a pipe, a compressed file) the bytes read once it has
  // ended, and until then the bytes read so far.
  uint64_t fileSize() const { return _sizeKnown ? _fileSize : (_source ? _source->position() : 0); }
  bool sizeKnown() const { return _sizeKnown; }
  bool sizeKnownAtOpen() const { return _sizeKnownAtOpen; }
  // The compressed bytes read, for a compressed file; 0 otherwise.
  uint64_t compressedSize() const { return _source ? _source->compressedBytes() : 0; }
  // A compressed file's compressed size, when known at the start.
  bool compressedTotal(uint64_t& bytes) const { return _source && _source->compressedTotal(bytes); }
  // How far the walk has accounted for the file: the start of the current
  // payload while a chunk is current.
  uint64_t fileIndex() const { return _fileIndex; }
  // File offset of the current chunk's header word (while a chunk is current).
  uint64_t chunkOffset() const { return _fileIndex >= 8 ? _fileIndex - 8 : 0; }
  uint64_t headerTotal() const { return _headerTotal; }
  // The problem of the current chunk, which the file ends inside: numbered
  // within its file.
  FileProblem cutChunkProblem() const;
  uint64_t chunkType() const { return _chunkType; }
  // The current chunk's header word as the file holds it (type, stream id
  // and size field), also when the header was refused.
  uint64_t chunkHeaderWord() const { return _chunkHeaderWord; }
  uint64_t chunkBytes() const { return _chunkBytes; }
  uint64_t chunkBytesTotal() const { return _chunkBytesTotal; }
  bool hasError() const { return _hasError; }
  int errNo() const { return _errNo; }
  const std::deque<uint64_t>& chunkSizes() const { return _chunkSizes; }
  const std::map<uint64_t, uint64_t>& chunkTypeCounters() const { return _chunkTypeCounters; }
  std::map<uint64_t, uint64_t>& chunkTypeCounters() { return _chunkTypeCounters; }
  // The invalid headers found since the walker was made (never reset).
  uint64_t invalidHeaders() const { return _invalidHeaders; }
  // The same count, read while it changes (by a check that watches it).
  const uint64_t& invalidHeaderCounter() const { return _invalidHeaders; }

  // ---- For the reader of a payload ----
  // Reads from the file and steps over its bytes; a stream's size becomes
  // known when it ends, and its failure is told once.
  size_t readBytes(void* dst, size_t n);
  bool skipBytes(uint64_t n);
  // The current chunk's payload reaches past the end of the file.
  bool payloadCut() const { return _fileIndex > _fileSize || _chunkBytes > _fileSize - _fileIndex; }
  // Bytes a followed file holds beyond what has been read (ByteSource).
  uint64_t readyBytes() const { return _source ? _source->readyBytes() : UINT64_MAX; }
  ByteSource* source() { return _source.get(); }
  void progress(uint64_t offset) {
    if (_progressHook) _progressHook(offset);
  }
  void tellProblem(FileProblem problem);

 private:
  void startFile(const std::string& fileName, bool reset);
  bool readFileHeader();
  void readJsonPayload();
  void readConfigPayload();
  void tellChunkProblem(ProblemKind kind);
  void afterInput();

  std::unique_ptr<ByteSource> _source;  // the open data file; null when none is open
  // The source when it is a plain file of known size, called directly: the
  // walk over a file of small chunks makes two calls per chunk.
  FileReader* _plainFile = nullptr;
  // The closed reader of the last file, with its read buffer and hint
  // thread, for the next file opened.
  std::unique_ptr<FileReader> _spareReader;
  // The size is known: from the start for a plain file, once it has ended
  // for a stream. Until then _fileSize is the largest offset there is.
  bool _sizeKnown = false;
  bool _sizeKnownAtOpen = false;
  bool _readFailureTold = false;
  const FollowSettings* _follow = nullptr;
  std::string _fileName;
  // _hasError and _errNo are sticky: failures set them, and only reset()
  // clears them, so the end-of-file report sees everything that went wrong
  // in the file (and, without a reset, in the files before it).
  bool _hasError = false;
  int _errNo = 0;
  // The payload of the current chunk is still in the file: the next
  // nextChunk() must seek over it. Whoever consumes a payload clears it.
  bool _skipPayload = true;
  ProblemSink _problemSink;
  ProgressHook _progressHook;
  uint64_t _invalidHeaders = 0;
  uint64_t _fileSize = 0;
  // How far the walk has accounted for the file: the start of the current
  // payload while a chunk is current, the next header word's offset once
  // the payload size has been added.
  uint64_t _fileIndex = 0;
  uint64_t _fileHeader = 0;
  uint64_t _headerTotal = 0;
  uint64_t _fileHeaders = 0;  // the headers read in the current file
  uint64_t _chunkType = 0;
  uint64_t _chunkHeaderWord = 0;
  uint64_t _chunkBytes = 0;
  uint64_t _chunkBytesTotal = 0;
  std::string _jsonString;
  std::vector<unsigned char> _configBytes;
  // One entry per data chunk, kept in blocks: a growing vector would hold
  // twice the list at each reallocation, and a file of millions of small
  // chunks would pay that in peak memory.
  std::deque<uint64_t> _chunkSizes;
  std::map<uint64_t, uint64_t> _chunkTypeCounters;
};

}  // namespace morven

#endif  // MORVEN_CHUNKWALKER_H
