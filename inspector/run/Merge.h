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

#include <ostream>
#include <string>
#include <vector>

#include "run/Runs.h"

namespace morven {

// Reads the documents and writes the merged statistics as the settings ask
// (text, or JSON with s.json; the picture to imageFileName(s)). A document
// that cannot be read, is not a complete statistics document of this
// format version, or was made with settings that change the counts
// differently from the first, is refused: nothing is merged, a line
// "### Cannot merge ..." says why, and the run ends as FileFailed.
RunEnd mergeStatistics(const RunSettings& s, const std::vector<std::string>& documents,
                       std::ostream& out);

}  // namespace morven

#endif  // MORVEN_MERGE_H
