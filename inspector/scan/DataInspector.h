// DataInspector: the scan state of one run over MORVEN data files.
//
// It puts together the parts that own each piece of a scan, and hands them
// to the reports:
//   scan/ChunkWalker      the open file, its chunk walk and its problems
//   scan/PacketStream     the packet words of the data chunks
//   scan/RunTallies       the tallies the statistics scan fills
//   scan/DisplayState.h   what the display carries from packet to packet
// plus the pool of tally threads of the run (scan/ParallelTally). The
// display, the checks and the text reports are functions over these parts
// (report/). One object serves a whole run: the read buffer, the tallies
// and the threads are made once and reused for every file.
//
// It writes nothing itself but a problem's lines when no one else takes
// the problems: to the output stream it was built on, which it does not own.
#ifndef MORVEN_DATAINSPECTOR_H
#define MORVEN_DATAINSPECTOR_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "format/MorvenFormat.h"
#include "scan/CheckFindings.h"
#include "scan/ChunkWalker.h"
#include "scan/DisplayState.h"
#include "scan/FileProblem.h"
#include "scan/PacketStream.h"
#include "scan/RunTallies.h"

namespace morven {

class ParallelTally;

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

  // ---- The parts ----------------------------------------------------------
  ChunkWalker& walker() { return _walker; }
  const ChunkWalker& walker() const { return _walker; }
  PacketStream& stream() { return _stream; }
  const PacketStream& stream() const { return _stream; }
  RunTallies& tallies() { return _tallies; }
  const RunTallies& tallies() const { return _tallies; }
  DisplayState& display() { return _display; }
  // The stream the run writes to (not the object's own).
  std::ostream& out() const { return _out; }

  // ---- The run ------------------------------------------------------------
  // Every problem the chunk walk finds goes to this sink, at the moment it
  // is found: a text report writes its lines (problemText), the JSON report
  // and the Python module keep it. Without a sink the problem's lines go to
  // the output stream.
  using ProblemSink = ChunkWalker::ProblemSink;
  void setProblemSink(ProblemSink sink) { _problemSink = std::move(sink); }
  using ProgressHook = ChunkWalker::ProgressHook;
  void setProgressHook(ProgressHook hook) { _walker.setProgressHook(std::move(hook)); }
  static constexpr uint64_t PROGRESS_CHUNKS = ChunkWalker::PROGRESS_CHUNKS;
  void setFollow(const FollowSettings* follow) { _walker.setFollow(follow); }

  // Back to the start of a run: walk, stream, tallies and display state.
  void init();
  // Opens a file (after a reset if asked) and reads its header; false, with
  // the problem told, if it cannot be walked.
  bool setFile(const std::string& fileName, bool reset);
  // Reads the file from the given source instead of a file of that name
  // (a Python file object, say); as setFile otherwise.
  bool setSource(std::unique_ptr<ByteSource> source, const std::string& name, bool reset);
  // Statistics-scan threads (0: one per core the process may use).
  void setThreads(int threads) { _threads = threads; }
  // Files whose rest is smaller are tallied on the reading thread alone
  // (see tallyStream); tests set 0 to put every file on the threads.
  void setParallelFrom(uint64_t bytes) { _parallelFrom = bytes; }
  // The packet display goes out a line at a time (for a terminal).
  void setLineByLine(bool b) { _lineByLine = b; }
  bool lineByLine() const { return _lineByLine; }
  // The checks also fill the findings given here (none: nullptr), in
  // addition to their report.
  void setCheckFindings(CheckFindings* findings) { _checkFindings = findings; }
  CheckFindings* checkFindings() const { return _checkFindings; }
  // The words come in Pelvan blocks: their headers, trailers and fill words
  // are no packets of the tallies.
  void setFromPelvan(bool b) { _stream.setFromPelvan(b); }
  bool fromPelvan() const { return _stream.fromPelvan(); }

  // ---- The chunk walk (see ChunkWalker) -------------------------------------
  bool nextChunk() { return _walker.nextChunk(); }
  bool isValidHeader(uint64_t headerWord) { return _walker.isValidHeader(headerWord); }
  bool chunkIsData() const { return _walker.chunkIsData(); }
  bool chunkIsJson() const { return _walker.chunkIsJson(); }
  bool chunkIsVx7Config() const { return _walker.chunkIsVx7Config(); }
  bool chunkIsVx7PixConfig() const { return _walker.chunkIsVx7PixConfig(); }
  std::string chunkTypeString() const { return chunkTypeString(_walker.chunkType()); }
  static std::string chunkTypeString(uint64_t type);
  std::string fileHeaderString() const { return _walker.fileHeaderString(); }
  std::string jsonString() const { return _walker.jsonString(); }
  bool ferror() const { return _walker.ferror(); }
  bool feof() const { return _walker.feof(); }
  uint64_t fileSize() const { return _walker.fileSize(); }
  bool sizeKnownAtOpen() const { return _walker.sizeKnownAtOpen(); }
  uint64_t compressedSize() const { return _walker.compressedSize(); }
  uint64_t fileIndex() const { return _walker.fileIndex(); }
  uint64_t chunkOffset() const { return _walker.chunkOffset(); }
  uint64_t headerTotal() const { return _walker.headerTotal(); }
  uint64_t chunkType() const { return _walker.chunkType(); }
  uint64_t chunkHeaderWord() const { return _walker.chunkHeaderWord(); }
  uint64_t chunkBytes() const { return _walker.chunkBytes(); }
  uint64_t chunkBytesTotal() const { return _walker.chunkBytesTotal(); }
  bool hasError() const { return _walker.hasError(); }
  int errNo() const { return _walker.errNo(); }
  const std::deque<uint64_t>& chunkSizes() const { return _walker.chunkSizes(); }
  const std::vector<unsigned char>& configBytes() const { return _walker.configBytes(); }
  const std::map<uint64_t, uint64_t>& chunkTypeCounters() const {
    return _walker.chunkTypeCounters();
  }
  uint64_t invalidHeaderLines() const { return _walker.invalidHeaders(); }

  // ---- The packet stream (see PacketStream) ---------------------------------
  void setDataChunk(const unsigned char* data, size_t bytes) { _stream.setDataChunk(data, bytes); }
  bool nextPixel(uint64_t* out = nullptr) { return _stream.nextPixel(out); }
  size_t takePackets(uint64_t* dst, size_t max) { return _stream.takePackets(dst, max); }
  bool packetStreamEnded() const { return _stream.ended(); }
  void setTakeReadyWords(bool b) { _stream.setTakeReadyWords(b); }
  uint64_t pixelCounterTotal() const { return _stream.delivered(); }
  void setReverseWords(bool b) { _stream.setReverseWords(b); }
  void setReverseBytes(bool b) { _stream.setReverseBytes(b); }
  bool pixelIsData() const;
  bool pixelIsFromTop() const;
  std::string pixelTypeString() const;
  static std::string pixelTypeString(uint64_t type);

  // ---- The statistics scan (see scan/StatisticsScan.h) ----------------------
  // The next packet into the tallies; false at the end of the stream.
  bool processNextPixel();
  // The rest of the stream into the tallies, on the run's threads.
  void processAllPixels();
  static constexpr size_t TYPE_COUNTER_COUNT = VX7_TYPE_CODES;
  static constexpr size_t PIXEL_COUNTER_COUNT = VX7_PIXEL_INDEXES;
  static constexpr size_t TOA_COUNTER_COUNT = VX7_TOA_VALUES;
  const std::vector<uint64_t>& typeCounters() const { return _tallies.types; }
  const uint64_t* pixelCounters() const { return _tallies.pixels.get(); }
  const uint64_t* toaCounters() const { return _tallies.toas.get(); }
  uint64_t heartbeatCounter() const { return _tallies.types[VX7_EOC_HEARTBEAT]; }
  uint64_t shutterRiseCounter() const { return _tallies.types[VX7_EOC_SHUTTER_RISE]; }
  uint64_t shutterFallCounter() const { return _tallies.types[VX7_EOC_SHUTTER_FALL]; }
  // The statistics scan keeps the hit tallies of the quick-look report too
  // (ToT and count spectra, IDLE and empty words, frame values, hits per
  // data chunk), from the next reset on; null while it does not.
  void setHitTallies(bool on) { _tallies.keepHits(on); }
  const HitTotals* hitTotals() const { return _tallies.hits.get(); }
  HitTotals* hitTotals() { return _tallies.hits.get(); }
  // Adds tallies gathered elsewhere (statistics documents of other runs) to
  // this object's: types[256], pixels[PIXEL_COUNTERS] and toas[TOA_COUNTERS]
  // per index, the packet total and the chunk counts per key.
  void addTallies(const uint64_t* types, const uint64_t* pixels, const uint64_t* toas,
                  uint64_t packets, const std::map<uint64_t, uint64_t>& chunkCounts);

 private:
  void startFile();
  void tellProblem(const FileProblem& problem);

  std::ostream& _out;
  ChunkWalker _walker;
  PacketStream _stream;
  RunTallies _tallies;
  // Carried over from file to file; only init() resets it.
  DisplayState _display;
  ProblemSink _problemSink;
  CheckFindings* _checkFindings = nullptr;
  int _threads = 1;
  uint64_t _parallelFrom;
  bool _lineByLine = false;
  std::unique_ptr<ParallelTally> _pool;  // made at the first scan on several threads
};

}  // namespace morven

#endif  // MORVEN_DATAINSPECTOR_H
