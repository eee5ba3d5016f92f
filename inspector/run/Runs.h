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

#include "report/CheckFindings.h"
#include "run/RunSettings.h"
#include "scan/DataInspector.h"

namespace morven {

// How a run ended, and how many structural problems the chunk level found
// in its files (damaged headers, cut payloads: the report's content).
struct RunSummary {
  RunEnd end = RunEnd::Completed;
  uint64_t problems = 0;
  // What the test-generator and counter checks found wrong: error lines
  // and heartbeats out of sequence.
  uint64_t checkFailures = 0;
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
// an earlier one. The checks also fill the findings given, if any.
RunEnd scanFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                 DataInspector& inspector, std::ostream& out, bool resetFirst = true,
                 CheckFindings* findings = nullptr);

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
// the type-count list to the chunk counts, with the picture drawn; false
// when the picture could not be written (its error is in the block).
bool printStatistics(const RunSettings& s, const DataInspector& inspector, std::ostream& out);

// A statistics run (-p): not the display nor a check.
bool isStatisticsRun(const RunSettings& s);

}  // namespace morven

#endif  // MORVEN_RUNS_H
