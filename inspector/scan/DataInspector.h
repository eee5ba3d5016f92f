// DataInspector: reads MORVEN data files chunk by chunk and packet by packet,
// and prints what it finds.
//
// One object serves a whole run. It owns the open file, a 16 MiB read buffer
// and the tally arrays, allocated once (each owned by a smart pointer, so a
// failed allocation leaks none of the others) and reused for every file; it writes
// every message and report to the output stream it was built on, which it
// does not own.
//
// Sources, by concern:
//   scan/ChunkLevel.cpp       opening files, walking and classifying chunks
//   scan/PixelLevel.cpp       packet stream, tallies, EoC list, ToA histogram
//   scan/ParallelTally.cpp    the tallies of the statistics scan on several threads
//   report/ChunkReports.cpp   register listing, chunk-size histogram
//   report/PixelDisplay.cpp   one line per packet
//   report/Checks.cpp         test-generator and counter checks
#ifndef MORVEN_DATAINSPECTOR_H
#define MORVEN_DATAINSPECTOR_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "format/ByteOrder.h"
#include "format/MorvenFormat.h"
#include "io/ByteSource.h"
#include "io/FileReader.h"
#include "scan/CheckFindings.h"
#include "scan/DisplayState.h"

namespace morven {

struct FollowSettings;  // io/FollowSource.h
template <typename Count>
struct Tallies;  // PacketTally.h
using TallyCounters = Tallies<uint64_t>;
struct HitTotals;  // PacketTally.h
enum class ChunkKind : uint8_t;

// What went wrong with a file, for callers that act on the kind rather than
// on the text: the first two are the system's refusals (errno tells why),
// the others the file's content.
enum class ProblemKind {
  OpenFailed,        // the file could not be opened
  StatFailed,        // its size could not be had
  ReadFailed,        // a compressed stream is damaged or cut short
  HeaderUnreadable,  // fewer than 8 bytes, or the first read failed
  NotMorven,         // the first 8 bytes are not the MORVEN header
  TruncatedChunk,    // the file ends inside a chunk's payload
  InvalidHeader,     // a chunk header of no accepted type
  JsonUnreadable,    // a JSON chunk cut short by the end of the file
  JsonInvalid,       // a JSON chunk whose text is not JSON
  ConfigUnreadable,  // a chip-configuration chunk cut short
};

// A structural problem that the chunk level reports: its kind, the file
// offset it concerns (the chunk's header word, or 0 for the file as a
// whole) and the message as the report prints it, without its "### " mark.
// A data chunk that the packet stream finds cut short is no part of the
// pixel modes' text report (shownInText false); every other problem is.
struct FileProblem {
  uint64_t offset;
  std::string message;
  ProblemKind kind = ProblemKind::InvalidHeader;
  bool shownInText = true;
};

// The lines of the text report for a problem, each ended by a newline: the
// message after "### ", the header of a file that is no MORVEN file on two
// lines.
std::string problemText(const FileProblem& problem);

class DataInspector {
 public:
  // Builds the object with its read buffer and opens fileName at once; the
  // caller learns of a failure through hasError().
  DataInspector(const std::string& fileName, std::ostream& out);
  // Builds the object without a file; the read buffer only if allocBuffer.
  DataInspector(std::ostream& out, bool allocBuffer);
  ~DataInspector();
  DataInspector(const DataInspector&) = delete;
  DataInspector& operator=(const DataInspector&) = delete;

  // ---- File and chunk level -----------------------------------------------
  // Every problem the chunk level finds goes to this sink, at the moment
  // it is found: a text report writes its lines (problemText), the JSON
  // report and the Python module keep it. Without a sink the problem's
  // lines go to the output stream.
  using ProblemSink = std::function<void(const FileProblem&)>;
  void setProblemSink(ProblemSink sink) { _problemSink = std::move(sink); }
  // Told the file offset reached, once per read piece of a data chunk and
  // every PROGRESS_CHUNKS chunks: for a progress line.
  using ProgressHook = std::function<void(uint64_t offset)>;
  void setProgressHook(ProgressHook hook) { _progressHook = std::move(hook); }
  static constexpr uint64_t PROGRESS_CHUNKS = 4096;

  void init();
  bool setFile(const std::string& fileName, bool reset);
  // Reads the file from the given source instead of a file of that name
  // (a Python file object, say); as setFile otherwise.
  bool setSource(std::unique_ptr<ByteSource> source, const std::string& name, bool reset);
  // The files opened from now on are followed while they are written (see
  // io/FollowSource.h); nullptr: read as they are. The settings must
  // outlive the files.
  void setFollow(const FollowSettings* follow) { _follow = follow; }
  bool nextChunk();
  bool isValidHeader(uint64_t headerWord);

  bool chunkIsData() const { return (_chunkType & MVHDR_GROUPID_MASK) == 0; }
  bool chunkIsJson() const { return (_chunkType & MVHDR_ENCODING_MASK) == MVHDR_ENCODING_JSON; }
  bool chunkIsVx7Config() const { return (_chunkType & MVHDR_CHUNKTYPE_MASK) == MVHDR_VX7CFG; }
  bool chunkIsVx7PixConfig() const {
    return (_chunkType & MVHDR_CHUNKTYPE_MASK) == MVHDR_VX7PIXCFG;
  }
  std::string chunkTypeString() const { return chunkTypeString(_chunkType); }
  static std::string chunkTypeString(uint64_t type);
  std::string fileHeaderString() const;
  std::string jsonString() const { return _jsonString; }
  void logChunkCounters();

  bool ferror() const;
  bool feof() const;
  // The file's size: known at the start for a plain file; for a stream
  // (standard input, a pipe, a compressed file) the bytes read once it has
  // ended, and until then the bytes read so far.
  uint64_t fileSize() const { return _sizeKnown ? _fileSize : (_source ? _source->position() : 0); }
  bool sizeKnownAtOpen() const { return _sizeKnownAtOpen; }
  // The compressed bytes read, for a compressed file; 0 otherwise.
  uint64_t compressedSize() const { return _source ? _source->compressedBytes() : 0; }
  uint64_t fileIndex() const { return _fileIndex; }
  // File offset of the current chunk's header word (while a chunk is current).
  uint64_t chunkOffset() const { return _fileIndex >= 8 ? _fileIndex - 8 : 0; }
  uint64_t headerTotal() const { return _headerTotal; }
  uint64_t chunkType() const { return _chunkType; }
  // The current chunk's header word as the file holds it (type, stream id
  // and size field), also when the header was refused.
  uint64_t chunkHeaderWord() const { return _chunkHeaderWord; }
  uint64_t chunkBytes() const { return _chunkBytes; }
  uint64_t chunkBytesTotal() const { return _chunkBytesTotal; }
  bool hasError() const { return _hasError; }
  int errNo() const { return _errNo; }
  const std::deque<uint64_t>& chunkSizes() const { return _chunkSizes; }
  const std::vector<unsigned char>& configBytes() const { return _configBytes; }
  const std::map<uint64_t, uint64_t>& chunkTypeCounters() const { return _chunkTypeCounters; }

  // ---- Chunk reports --------------------------------------------------------
  void chunkSizesHistogram(std::ostream& out, int bins);
  void displayVx7Config(std::ostream& out);

  // ---- Packet level ---------------------------------------------------------
  // Delivers the next packets from the caller's memory: the bytes of a data
  // chunk's payload, little-endian words as in a file, at any alignment; a
  // last part of fewer than 8 bytes is not a packet. The memory is only
  // read, piece by piece, and must stay valid until the packets have been
  // taken. Words waiting from the file are dropped; after the memory the
  // stream goes on in the file.
  void setDataChunk(const unsigned char* data, size_t bytes);
  bool nextPixel(uint64_t* out = nullptr);
  // Copies up to max words of the packet stream to dst, exactly as that
  // many calls of nextPixel would deliver them (reversed, counted in
  // pixelCounterTotal), whole buffer runs at a time; returns how many, fewer
  // than max only at the end of the stream.
  size_t takePackets(uint64_t* dst, size_t max);
  // The packet stream of the open file has ended (see _packetStreamEnded).
  bool packetStreamEnded() const { return _packetStreamEnded; }
  // takePackets returns, once it has words, rather than wait for a followed
  // file to grow: its words come as they arrive.
  void setTakeReadyWords(bool b) { _takeReadyWords = b; }
  bool processNextPixel();
  // processNextPixel until it returns false, in one call: the statistics
  // loop without a call per packet.
  void processAllPixels();
  void forceFrameData(int bits);
  uint64_t heartbeatCounter() const { return _typeCounters[VX7_EOC_HEARTBEAT]; }
  uint64_t shutterRiseCounter() const { return _typeCounters[VX7_EOC_SHUTTER_RISE]; }
  uint64_t shutterFallCounter() const { return _typeCounters[VX7_EOC_SHUTTER_FALL]; }
  void logEocCounters(bool all);
  void toaHistogram(std::ostream& out, int bins);
  uint64_t pixelCounterTotal() const { return _pixelCounterTotal; }
  void setReverseWords(bool b) { _reverseWords = b; }
  void setReverseBytes(bool b) { _reverseBytes = b; }
  void setFromPelvan(bool b) { _fromPelvan = b; }

  bool pixelIsData() const;
  bool pixelIsFromTop() const;
  std::string pixelTypeString() const;
  static std::string pixelTypeString(uint64_t type);

  // The tallies: one counter per type byte, per pixel index (18 bits: half,
  // EoC block, pixel number) and per ToA value.
  static constexpr size_t TYPE_COUNTER_COUNT = VX7_TYPE_CODES;
  static constexpr size_t PIXEL_COUNTER_COUNT = VX7_PIXEL_INDEXES;
  static constexpr size_t TOA_COUNTER_COUNT = VX7_TOA_VALUES;
  const std::vector<uint64_t>& typeCounters() const { return _typeCounters; }
  const uint64_t* pixelCounters() const { return _pixelCounters.get(); }
  const uint64_t* toaCounters() const { return _toaCounters.get(); }
  // The statistics scan keeps the hit tallies of the quick-look report too
  // (ToT and count spectra, IDLE and empty words, frame values, hits per
  // data chunk), from the next reset on; null while it does not.
  void setHitTallies(bool on);
  const HitTotals* hitTotals() const { return _hitTotals.get(); }
  HitTotals* hitTotals() { return _hitTotals.get(); }

  // ---- Display, checks, image -------------------------------------------------
  // The line of the current packet, the index-th of the file (-R: raw word,
  // -P: its fields, -Q: in the test generator's layout, -C: index in
  // front, -0: no line for a zero word).
  void displayPixel(uint64_t index, bool showCounter, bool showRaw, bool showFields, bool testGen,
                    bool skipZeroPackets);
  // The display loop over the rest of the packet stream: every stride-th
  // packet from the next one on, counted from index + 1, shown as
  // displayPixel shows it; the lines go to the stream in batches, each
  // written before the file is read again. Ends early at the first write
  // the stream refuses.
  // Display lines go to the output in batches, or, for a terminal, each
  // line as it ends.
  void setLineByLine(bool b) { _lineByLine = b; }
  void displayPackets(uint64_t index, int stride, bool showCounter, bool showRaw, bool showFields,
                      bool testGen, bool skipZeroPackets);
  // The checks also fill the findings given here (none: nullptr), in
  // addition to their report.
  void setCheckFindings(CheckFindings* findings) { _checkFindings = findings; }
  // Threads of the statistics scan (processAllPixels): 0 for the cores
  // available to the process.
  void setThreads(int threads) { _threads = threads; }
  // The "### Invalid header" lines written so far; the counter check's
  // lines change their fill after one.
  uint64_t invalidHeaderLines() const { return _invalidHeaderLines; }
  uint64_t checkAsTestGenPixels(std::ostream& out, int links);
  uint64_t checkAsCounters(std::ostream& out, int links);
  // Adds tallies gathered elsewhere (statistics documents of other runs) to
  // this object's: types[256], pixels[PIXEL_COUNTERS] and toas[TOA_COUNTERS]
  // per index, the packet total and the chunk counts per key.
  void addTallies(const uint64_t* types, const uint64_t* pixels, const uint64_t* toas,
                  uint64_t packets, const std::map<uint64_t, uint64_t>& chunkCounts);

 private:
  // A new file's walk from its start; then its header, from the source.
  void startFile(const std::string& fileName, bool reset);
  bool readFileHeader();
  void printJsonPayload();
  bool nextPiece();
  bool nextMemoryPiece();
  bool nextDataChunk();
  uint64_t readChunkWords(uint64_t* dst, uint64_t maxWords);
  TallyCounters tallyCounters();
  ChunkKind chunkKind() const;
  void tallyHitRun(const uint64_t* words, uint64_t n);
  void tallyWaitingWords();
  bool tallyInParallel(int tallying);
  uint64_t takeWaitingWords();
  struct WordRun {
    const uint64_t* next = nullptr;
    const uint64_t* end = nullptr;
  };
  bool nextRunWord(WordRun& run, uint64_t& word);
  void readConfigPayload();
  void tellProblem(ProblemKind kind, uint64_t offset, std::string message, bool shownInText = true);
  // Reads from the file and steps over its bytes; a stream's size becomes
  // known when it ends, and its failure is told once.
  size_t readBytes(void* dst, size_t n);
  bool skipBytes(uint64_t n);
  void afterInput();
  // The current chunk's payload reaches past the end of the file.
  bool payloadCut() const { return _fileIndex > _fileSize || _chunkBytes > _fileSize - _fileIndex; }

  std::unique_ptr<ByteSource> _source;  // the open data file; null when none is open
  // The source when it is a plain file of known size, called directly: the
  // walk over a file of small chunks makes two calls per chunk.
  FileReader* _plainFile = nullptr;
  // The size is known: from the start for a plain file, once it has ended
  // for a stream. Until then _fileSize is the largest offset there is.
  bool _sizeKnown = false;
  bool _sizeKnownAtOpen = false;
  bool _readFailureTold = false;
  bool _takeReadyWords = false;
  const FollowSettings* _follow = nullptr;
  // The current data chunk's header was accepted (a refused header of a
  // data type still has its payload read as packets).
  bool _chunkAccepted = false;
  std::string _fileName;
  // _hasError and _errNo are sticky: failures set them, and only init()
  // clears them, so the end-of-file report sees everything that went wrong
  // in the file (and, without a reset, in the files before it).
  bool _hasError;
  int _errNo;
  // The payload of the current chunk is still in the file: the next
  // nextChunk() must seek over it. Whoever consumes a payload clears it.
  bool _skipPayload;
  std::ostream& _out;
  ProblemSink _problemSink;
  ProgressHook _progressHook;
  CheckFindings* _checkFindings = nullptr;
  uint64_t _invalidHeaderLines = 0;
  int _threads = 1;
  bool _lineByLine = false;
  bool _reverseWords, _reverseBytes, _fromPelvan, _forceFrame;
  uint64_t _fileSize;
  // How far the chunk walk has accounted for the file: the start of the
  // current payload while a chunk is current, the next header word's offset
  // once the payload size has been added.
  uint64_t _fileIndex;
  uint64_t _fileHeader;
  uint64_t _headerTotal;
  uint64_t _chunkType;
  uint64_t _chunkHeaderWord;
  uint64_t _chunkBytes;
  uint64_t _chunkBytesTotal;
  std::string _jsonString;
  uint64_t _wordsAvail, _chunkWordsLeft, _pixelCounterTotal;
  // The current packet: a word of the read buffer (or of the piece buffer
  // of caller's memory), with _wordsAvail more words behind it; before the
  // first packet, a zero word of its own.
  uint64_t* _pixel;
  uint64_t _noPacket = 0;
  std::unique_ptr<uint64_t[]> _buffer;  // SUBCHUNKSIZE bytes; null without a read buffer
  // Caller's memory from setDataChunk, not yet taken: it is copied into
  // _memoryPiece a piece at a time, so it is read only through memcpy.
  bool _externalChunk;
  const unsigned char* _externalNext = nullptr;
  size_t _externalBytes = 0;
  std::unique_ptr<uint64_t[]> _memoryPiece;
  // The packet stream of the open file has ended (end of file, a failed read
  // or seek, a rejected header of a non-data type); it stays ended until the
  // next file is opened, so no later call can walk into a rejected payload.
  bool _packetStreamEnded;
  // Carried over from file to file; only init() resets it.
  DisplayState _display;
  std::vector<unsigned char> _configBytes;
  // One entry per data chunk, kept in blocks: a growing vector would hold
  // twice the list at each reallocation, and a file of millions of small
  // chunks would pay that in peak memory.
  std::deque<uint64_t> _chunkSizes;
  std::map<uint64_t, uint64_t> _chunkTypeCounters;
  std::vector<uint64_t> _typeCounters;
  std::unique_ptr<uint64_t[]> _pixelCounters;
  std::unique_ptr<uint64_t[]> _toaCounters;
  std::unique_ptr<HitTotals> _hitTotals;
};

// The common case, a word already waiting in the buffer, is inline: the
// checks and the display take hundreds of millions of words one call at a
// time. nextPiece() reads the next piece of a data chunk, or finds the next
// data chunk.
inline bool DataInspector::nextPixel(uint64_t* out) {
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

// Words in runs: each nextPixel is followed by the words already waiting
// behind it in the buffer, taken at once, so the checks' loops run over
// plain memory; the effect is that of one nextPixel per word.
inline bool DataInspector::nextRunWord(WordRun& run, uint64_t& word) {
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

#endif  // MORVEN_DATAINSPECTOR_H
