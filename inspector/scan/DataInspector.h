// DataInspector: the scan state of one run over MORVEN data files.
//
// It puts together the parts that own each piece of a scan, and hands them
// to the reports:
//   scan/ChunkWalker      the open file, its chunk walk and its problems
//   scan/PacketStream     the packet words of the data chunks
//   scan/RunTallies       the tallies the statistics scan fills
// plus the pool of tally threads of the run (scan/ParallelTally). The
// display, the checks and the text reports are functions over these parts
// (report/). One object serves a whole run: the read buffer, the tallies
// and the threads are made once and reused for every file.
//
// It writes nothing: the problems the walk finds go to the sink it is given.
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
#include "scan/ChunkWalker.h"
#include "scan/FileProblem.h"
#include "scan/PacketStream.h"
#include "scan/RunTallies.h"

namespace morven {

class ParallelTally;

class DataInspector {
 public:
  // Builds the object with its read buffer and opens fileName at once,
  // telling the sink its problems; the caller learns of a failure through
  // walker().hasError().
  explicit DataInspector(const std::string& fileName, ChunkWalker::ProblemSink sink = nullptr);
  // Builds the object without a file; the read buffer only if allocBuffer.
  explicit DataInspector(bool allocBuffer);
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

  // ---- The run ------------------------------------------------------------
  // Every problem the chunk walk finds goes to this sink, at the moment it
  // is found: a text report writes its lines (problemText), the JSON report
  // and the Python module keep it. Without a sink nothing is told.
  using ProblemSink = ChunkWalker::ProblemSink;
  void setProblemSink(ProblemSink sink) { _problemSink = std::move(sink); }
  const ProblemSink& problemSink() const { return _problemSink; }

  // Back to the start of a run: walk, stream and tallies.
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

  // ---- The statistics scan (see scan/StatisticsScan.h) ----------------------
  // The next packet into the tallies; false at the end of the stream.
  bool processNextPixel();
  // The rest of the stream into the tallies, on the run's threads.
  void processAllPixels();
  // Adds tallies gathered elsewhere (statistics documents of other runs) to
  // this object's: the counters (taken over, not copied, while this
  // object's are all zero; more is then left all zero), the packet total
  // and the chunk counts per key.
  void addTallies(RunTallies& more, uint64_t packets,
                  const std::map<uint64_t, uint64_t>& chunkCounts);

 private:
  void startFile();
  void tellProblem(const FileProblem& problem);

  ChunkWalker _walker;
  PacketStream _stream;
  RunTallies _tallies;
  ProblemSink _problemSink;
  int _threads = 1;
  uint64_t _parallelFrom;
  std::unique_ptr<ParallelTally> _pool;  // made at the first scan on several threads
};

}  // namespace morven

#endif  // MORVEN_DATAINSPECTOR_H
