// The scan state of a run: its parts made once, reset together, and the
// names of packet types.
#include "scan/DataInspector.h"

#include "format/ChunkTypes.h"
#include "format/Packet.h"
#include "scan/StatisticsScan.h"

namespace morven {

DataInspector::DataInspector(const std::string& fileName, ChunkWalker::ProblemSink sink)
    : DataInspector(true) {
  _problemSink = std::move(sink);
  setFile(fileName, true);
}

DataInspector::DataInspector(bool allocBuffer)
    : _stream(_walker, allocBuffer), _parallelFrom(PARALLEL_FROM_BYTES) {
  _walker.setProblemSink([this](const FileProblem& p) { tellProblem(p); });
  // The hit tallies count the data chunks of each file.
  _stream.setChunkHook([this] {
    if (HitTotals* hits = _tallies.hits.get()) {
      hits->chunkHits.push_back(0);
      if (!hits->fileChunks.empty()) ++hits->fileChunks.back();
    }
  });
  init();
}

DataInspector::~DataInspector() {
  releasePool(_pool);
}

void DataInspector::init() {
  _walker.reset();
  _stream.reset();
  _tallies.clear();
}

bool DataInspector::setFile(const std::string& fileName, bool reset) {
  if (reset) init();
  startFile();
  return _walker.open(fileName, false);
}

bool DataInspector::setSource(std::unique_ptr<ByteSource> source, const std::string& name,
                              bool reset) {
  if (reset) init();
  startFile();
  return _walker.open(std::move(source), name, false);
}

// A new file starts a fresh stream, also without a reset: nothing of the
// previous file's current chunk (words of a data chunk it ended inside) may
// be applied to this one.
void DataInspector::startFile() {
  _stream.startFile();
  if (HitTotals* hits = _tallies.hits.get()) hits->fileChunks.push_back(0);
}

void DataInspector::tellProblem(const FileProblem& problem) {
  if (_problemSink) _problemSink(problem);
}

bool DataInspector::processNextPixel() {
  return tallyNextPacket(_stream, _tallies);
}

void DataInspector::processAllPixels() {
  tallyStream(_stream, _tallies, _threads, _pool, _parallelFrom);
}

void DataInspector::addTallies(RunTallies& more, uint64_t packets,
                               const std::map<uint64_t, uint64_t>& chunkCounts) {
  _tallies.add(more);
  _stream.addDelivered(packets);
  for (const auto& [key, count] : chunkCounts) _walker.chunkTypeCounters()[key] += count;
}

}  // namespace morven
