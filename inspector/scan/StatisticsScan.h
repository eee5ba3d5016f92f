// The statistics scan: the words of a packet stream into a run's tallies,
// one at a time, in runs of the words waiting in the read buffer, or the
// whole rest of a file's stream at once, on several threads.
#ifndef MORVEN_STATISTICSSCAN_H
#define MORVEN_STATISTICSSCAN_H

#include <memory>

#include "scan/PacketStream.h"
#include "scan/ParallelTally.h"
#include "scan/RunTallies.h"

namespace morven {

// Tallies the next packet of the stream (a Pelvan header, trailer or fill
// word is passed over); false at the end of the stream.
bool tallyNextPacket(PacketStream& stream, RunTallies& tallies);

// The rest of the stream, with the very same result as tallyNextPacket
// until it returns false. With threads > 1 (0: one per core) the words of
// the file are tallied on that many threads: those of the run's pool, which
// is made at the first such call and serves every later one. A file whose
// rest is known to be smaller than parallelFrom bytes is tallied on this
// thread alone: at the end of every file the pool adds each thread's
// tallies, 2.5 MiB of counters, into the run's, more work than the words
// of a small file.
void tallyStream(PacketStream& stream, RunTallies& tallies, int threads,
                 std::unique_ptr<ParallelTally>& pool, uint64_t parallelFrom);

// The smallest rest of a file tallied on several threads: one slot of the
// pool's ring (a smaller one would keep one worker busy at most).
constexpr uint64_t PARALLEL_FROM_BYTES = ParallelTally::SLOT_WORDS * 8;

// A pool that the process cannot use (one forked from the process that
// started its threads) is given up, never destroyed.
void releasePool(std::unique_ptr<ParallelTally>& pool);

}  // namespace morven

#endif  // MORVEN_STATISTICSSCAN_H
