// morven.Statistics: the figures of a statistics run, and the statistics
// document that the command line's -p --json writes for the same run. The
// document is what travels: sums (a + b), pickles, files saved and loaded
// and the text report all go through the merge of mvscan --merge (Merge.h),
// so a sum in Python is the sum the command line makes, refusals included.
//
//   RunResults.cpp     morven.statistics and the figures of a run
//   StatisticsSum.cpp  sums, documents, pickling, report and picture
#ifndef MORVEN_PYTHON_STATISTICS_H
#define MORVEN_PYTHON_STATISTICS_H

#include <cstdint>
#include <string>

#include "Module.h"

namespace morven::python {

struct Statistics {
  uint64_t packets = 0;
  py::array_t<uint64_t> typeCounts;
  py::array_t<uint64_t> hits;
  py::array_t<uint64_t> toa;
  py::dict chunkCounts;
  py::list structureErrors;
  // The quick-look figures: hits only (IDLE words, empty packets and frame
  // data left out).
  py::array_t<uint64_t> hitMap;
  py::array_t<uint64_t> toaHits;
  py::array_t<uint64_t> tot;
  py::array_t<uint64_t> pcBins;
  py::array_t<uint64_t> pcCounts;
  uint64_t hitTotal = 0, idle = 0, empty = 0, frameWords = 0, median = 0;
  py::list chunkHits;
  py::array_t<uint64_t> hotPixels;
  py::list deadBlocks;
  // The statistics document of these figures (mvscan -p --json), and the
  // hot-pixel factor the quick-look figures were found with.
  std::string document;
  double hotFactor = 10.0;
  // What the figures came from, for the messages of a refused sum: a
  // document's file name, or a description.
  std::string source;
};

// The figures of an inspector's tallies (a run's, or the sums of
// documents), the hit tallies included; structureErrors as (offset,
// message) pairs.
Statistics figuresOf(const DataInspector& inspector, py::list structureErrors, double hotFactor);

// Sums, documents, pickling, report and picture on the class.
void defineStatisticsSums(py::class_<Statistics>& c);

}  // namespace morven::python

#endif  // MORVEN_PYTHON_STATISTICS_H
