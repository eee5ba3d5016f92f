// Reports over what the chunk walk gathered: the register listing of a chip
// configuration chunk, the histogram of data-chunk sizes and the chunk
// counts per type.
#ifndef MORVEN_CHUNKREPORTS_H
#define MORVEN_CHUNKREPORTS_H

#include <ostream>

#include "scan/ChunkWalker.h"

namespace morven {

// The sizes of the data chunks walked so far in bins equal parts of the
// largest.
void chunkSizesHistogram(const ChunkWalker& walker, std::ostream& out, int bins);
// The register records of the last chip-configuration chunk, after a line
// break that ends the caller's heading.
void displayVx7Config(const ChunkWalker& walker, std::ostream& out);
// "=> Chunk counters:" and a line per chunk type counted; nothing without
// any.
void logChunkCounters(const ChunkWalker& walker, std::ostream& out);

}  // namespace morven

#endif  // MORVEN_CHUNKREPORTS_H
