// The two runs of mvscan over a list of files: the file check (each file
// walked chunk by chunk, with a structure report) and the pixel scan (each
// file walked packet by packet, in one of four modes: statistics, display,
// test-generator check, counter check).
//
// The command line fills RunSettings from its options and calls run(); tests,
// the fuzz targets and other callers call the same functions, so there is
// one copy of every run loop. Everything is written to the one output
// stream given; a run ends at the first write that the stream refuses.
#ifndef MORVEN_RUNS_H
#define MORVEN_RUNS_H

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "scan/DataInspector.h"

namespace morven {

class RunProgress;

struct RunSettings {
  // The pixel scan and its modes; without pixelScan, the file check.
  bool pixelScan = false;
  bool displayPixels = false;  // -P, -R
  bool showFields = false;     // -P, -Q
  bool showRaw = false;        // -R
  bool showCounter = false;    // -C
  bool skipZeroPackets = false;
  bool testGen = false;       // -Q
  bool counterCheck = false;  // -q
  bool eocList = false;
  bool eocListAll = true;
  // The file check's reports.
  bool listChunks = false;
  bool showJson = false;
  bool showConfig = false;
  bool histogram = false;  // ToA histogram in the statistics, chunk sizes in the check
  // How the packet stream is read.
  bool reverseBytes = false;
  bool reverseWords = false;
  bool fromPelvan = false;
  int frameBits = 0;  // 0, 8 or 16
  int histogramBins = 1;
  int links = 1;  // links of the checks, stride of the display
  uint64_t skipCount = 0;
  // The output is a terminal: the display hands every line over as it
  // ends rather than in batches.
  bool lineByLine = false;
  // Threads of the statistics scan; 0: the cores available to the process.
  int threads = 0;
  // Where the statistics run writes its hit-count picture (".png" is
  // added); empty: no picture.
  std::string imageBase = "inspect";
  // The picture's whole file name; when set, it is used instead of
  // imageBase.
  std::string imageFile;
  // One JSON document (the display: JSON Lines) instead of the text report.
  bool json = false;
  // The quick-look page and the hot-pixel list of a statistics run, written
  // after its last file; empty: none. A pixel is hot above hotFactor times
  // the median hits of the hit pixels.
  std::string htmlFile;
  std::string hotPixelsFile;
  double hotFactor = 10.0;
  // Told how far the run has got; none: nullptr.
  RunProgress* progress = nullptr;
};

// How far a run has got, for a progress line: each file as it is opened,
// then the place reached in it, once per read piece of a data chunk and
// every few thousand chunks.
class RunProgress {
 public:
  virtual ~RunProgress() = default;
  virtual void fileStarted(size_t index, uint64_t size) = 0;
  virtual void at(uint64_t offset) = 0;
};

// How a run ended.
enum class RunEnd {
  Completed,     // every file was read to its end
  FileFailed,    // a file could not be opened or is not a MORVEN data file
  OutputFailed,  // the output stream refused a write
};

// How a run ended, and how many structural problems the chunk level found
// in its files (damaged headers, cut payloads: the report's content).
struct RunSummary {
  RunEnd end = RunEnd::Completed;
  uint64_t problems = 0;
};

// The lines in front of the first file's report: what the run does.
void printBanner(const RunSettings& s, bool severalFiles, std::ostream& out);

// The file-check run: each file walked with a fresh inspector state, then
// its end-of-file report.
RunEnd checkFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                  DataInspector& inspector, std::ostream& out);

// The pixel-scan run: the inspector is reset only for the first file, so
// every count accumulates over the files of the run. Without resetFirst the
// first file too goes on from the inspector's state: a scan that continues
// an earlier one.
RunEnd scanFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                 DataInspector& inspector, std::ostream& out, bool resetFirst = true);

// The packets of a block of the caller's memory (see
// DataInspector::setDataChunk), then those still waiting in the open file,
// scanned as one file of the pixel-scan run, on the inspector's state.
RunEnd scanMemory(const RunSettings& s, const unsigned char* data, size_t bytes,
                  DataInspector& inspector, std::ostream& out);

// Banner, then the run the settings ask for, on an inspector of its own.
RunEnd run(const RunSettings& s, const std::vector<std::string>& fileNames, std::ostream& out);

// run() as the settings ask: the text report, or with json the JSON report
// (no banner); with the structural problems counted.
RunSummary runReport(const RunSettings& s, const std::vector<std::string>& fileNames,
                     std::ostream& out);

// The statistics block that a statistics run prints after each file, from
// the type-count list to the chunk counts, with the picture drawn.
void printStatistics(const RunSettings& s, DataInspector& inspector, std::ostream& out);

// A statistics run (-p): not the display nor a check.
bool isStatisticsRun(const RunSettings& s);

// The picture's file name of the settings; empty: no picture.
std::string imageFileName(const RunSettings& s);

}  // namespace morven

#endif  // MORVEN_RUNS_H
