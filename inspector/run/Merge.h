// Statistics of several runs together: mvscan --merge reads the statistics
// documents that runs with --json wrote (one job per file on a batch
// system) and reports their sum as one run over all those files would have
// reported it after its last file: the same statistics block, or the same
// JSON document, and the same picture.
//
// Exact for files that are independent of each other. A run over several
// files counts its packets on across the files, and the Pelvan block
// framing (-W) goes by that count: where a file does not hold whole blocks,
// a single run frames the next file differently than a run of its own.
#ifndef MORVEN_MERGE_H
#define MORVEN_MERGE_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "run/Runs.h"
#include "run/StatisticsDocument.h"

namespace morven {

// How the merge treats what it is given.
struct MergeOptions {
  // Two documents that hold the same file (same name, same size) are
  // refused unless this is set: that file would be counted twice.
  bool allowDuplicates = false;
  // When given: set to the structural problems that the documents' files
  // hold (their "errors"), as a single run over the files would count them
  // for --strict.
  uint64_t* problems = nullptr;
};

// Reads the documents and writes the merged statistics as the settings ask
// (text, or JSON with s.json; the picture to imageFileName(s)). A document
// that cannot be read, is not a complete statistics document of this
// format version, holds a member of the wrong type or out of range, holds
// figures that contradict each other, makes a sum that does not fit in 64
// bits, holds a file that an earlier document holds (unless
// allowDuplicates), or was made with settings that change the counts
// differently from the first, is refused: nothing is merged, a line
// "### Cannot merge NAME: WHY" says why, and the run ends as FileFailed.
// Throws nothing.
RunEnd mergeStatistics(const RunSettings& s, const std::vector<std::string>& documents,
                       std::ostream& out, const MergeOptions& options = {});

// The same over documents already in memory: each a name for the messages
// and the document's text.
struct NamedDocument {
  std::string name;
  std::string text;
};
RunEnd mergeStatisticsTexts(const RunSettings& s, const std::vector<NamedDocument>& documents,
                            std::ostream& out, const MergeOptions& options = {});

// The sums of documents (addStatisticsDocument) into the tallies of an
// inspector of no file, as the merge reports them; the hit tallies too when
// every document had them. The counters and the hit tallies are moved out
// of the sums, not copied.
void addMergeSums(DataInspector& inspector, MergeSums& sums);

}  // namespace morven

#endif  // MORVEN_MERGE_H
