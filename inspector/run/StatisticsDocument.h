// Reading the statistics documents that runs with --json wrote, for the
// merge: every member the merge uses is checked for its type and range,
// the figures are checked against each other where the format fixes how
// they relate (one run could not have written them otherwise), and their
// sums are checked for room in 64 bits. A document from elsewhere, edited
// or damaged, is refused with what is wrong and where; it never reaches
// the report.
#ifndef MORVEN_STATISTICSDOCUMENT_H
#define MORVEN_STATISTICSDOCUMENT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scan/DataInspector.h"
#include "scan/PacketTally.h"
#include "scan/RunTallies.h"

namespace morven {

// A document is read whole into memory, and its parsed form takes several
// times its size: a larger one is refused before it is parsed. The largest
// statistics a run writes (every pixel hit, every ToA value) take about
// 12 MiB; the rest is the file list.
constexpr uint64_t MAX_MERGE_DOCUMENT_BYTES = 64 << 20;
// A statistics document nests 5 levels deep; a deeper one is refused
// before it is parsed.
constexpr int MAX_MERGE_DOCUMENT_DEPTH = 32;

// One file of a document's file list, as the run wrote it.
struct MergedFile {
  std::string name;
  std::string header;
  uint64_t size = 0;
  uint64_t skipped = 0;
  uint64_t packets = 0;
  nlohmann::json errors;  // [{"offset": unsigned, "message": string}, ...]
};

// The sums of the documents read so far. Their counters come from calloc
// (RunTallies): a merge pays only for the pages its documents write, and
// hands them to the inspector that reports the sums without copying them.
struct MergeSums {
  RunTallies tallies;  // types, pixels and ToA values; no hit tallies
  uint64_t packets = 0;
  std::map<uint64_t, uint64_t> chunkCounts;
  std::vector<MergedFile> files;
  // The counting settings of the first document: skip, reverse_words,
  // reverse_bytes, pelvan.
  nlohmann::json settings;
  // The hit tallies of the quick-look page, while every document so far
  // had them.
  HitTotals hits;
  bool allHits = true;
};

// Checks the text of one statistics document and adds its figures and
// files to the sums: an empty string, or why the document is refused (then
// the sums are no longer to be used). Throws nothing.
std::string addStatisticsDocument(const std::string& text, MergeSums& sums);

}  // namespace morven

#endif  // MORVEN_STATISTICSDOCUMENT_H
