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
// is made at the first such call and serves every later one.
void tallyStream(PacketStream& stream, RunTallies& tallies, int threads,
                 std::unique_ptr<ParallelTally>& pool);

// A pool that the process cannot use (one forked from the process that
// started its threads) is given up, never destroyed.
void releasePool(std::unique_ptr<ParallelTally>& pool);

}  // namespace morven

#endif  // MORVEN_STATISTICSSCAN_H
