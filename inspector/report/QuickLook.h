// The quick-look report of a statistics run (mvscan --html): one HTML page
// with the run's files, the hit map, its projections, hot pixels and dead
// EoC blocks, the ToA, ToT and count spectra, the packet types and the rate
// over the run; and the hot-pixel list as CSV (--hot-pixels).
//
// Hits are the pixel words of ToA/ToT, counting and other data chunks. Not
// hits: whole-word IDLE words (which read as a pixel word of EoC block 0,
// pixel 0), whole-word empty packets, and the words of frame-data chunks
// (8- and 16-bit frame values, read out for every pixel); the page says how
// many of each it left out. The text report and the picture count every
// word as before.
//
// The figures come from the tallies of a run (quickLookOf) or of merged
// statistics documents, the same tallies either way, so a merge draws the
// page of one run over all the files.
#ifndef MORVEN_QUICKLOOK_H
#define MORVEN_QUICKLOOK_H

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "scan/DataInspector.h"

namespace morven {

// Hot pixels: a pixel whose count is above factor times the median count
// of its 5 x 5 neighbourhood (at least 1).
constexpr double DEFAULT_HOT_FACTOR = 10.0;

// A problem as the page lists it: where, and its message (from this run's
// walk, or from a statistics document merged).
struct QuickLookError {
  uint64_t offset;
  std::string message;
};

struct QuickLookFile {
  std::string name;
  uint64_t size = 0;
  uint64_t packets = 0;
  bool opened = true;
  std::vector<QuickLookError> errors;
};

struct HotPixel {
  uint64_t index;
  uint16_t x, y;
  uint64_t count;
};

// An EoC block (a double column of one chip half) without a hit whose
// neighbours in that half have hits.
struct DeadBlock {
  bool top;
  uint64_t eoc;
};

struct QuickLook {
  // What the run was: its settings by name, its files, how it ended.
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<QuickLookFile> files;
  std::string runEnd = "completed";
  // A page of a followed run, written anew while the file grows: an open
  // browser loads it again after this many seconds; 0: never.
  int refreshSeconds = 0;
  std::map<uint64_t, uint64_t> chunkCounts;  // chunk type -> count
  // Words read and their type counts, as the text report counts them.
  uint64_t words = 0;
  std::vector<uint64_t> types;
  // Hits only: per pixel index, per ToA and ToT value, per count bin.
  std::vector<uint64_t> hits, toas, tots, pcs;
  uint64_t hitTotal = 0;
  uint64_t toaHits = 0, pcHits = 0;
  // Left out: whole-word IDLE words, empty packets, frame-data words.
  uint64_t idle = 0, empty = 0, frameWords = 0;
  // Hits of each data chunk, per file in run order.
  std::vector<std::vector<uint64_t>> chunkHits;
  // Hot pixels (by count, highest first) and dead blocks; the median count
  // of the hit pixels, for the page.
  double hotFactor = DEFAULT_HOT_FACTOR;
  uint64_t median = 0;
  std::vector<HotPixel> hot;
  std::vector<DeadBlock> dead;
};

// The figures of the inspector's tallies, which must include the hit
// tallies (DataInspector::setHitTallies): hits with the words that are not
// hits taken out, hot pixels and dead blocks found. Files and settings are
// the caller's to fill.
QuickLook quickLookOf(const DataInspector& inspector, double hotFactor);

// The page; false with a reason if it could not be written. Throws nothing.
bool writeHtmlReport(const QuickLook& q, const std::string& path, std::string& error);
void writeHtmlPage(const QuickLook& q, std::ostream& out);

// The hot pixels as CSV: x,y,index,count, one line each, with a header line.
bool writeHotPixels(const QuickLook& q, const std::string& path, std::string& error);

}  // namespace morven

#endif  // MORVEN_QUICKLOOK_H
