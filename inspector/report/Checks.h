// The test-generator check and the counter check over a packet stream:
// each link's position learnt from its first word, every later word judged
// against the successor of the link's previous word, a line for each
// deviation.
#ifndef MORVEN_CHECKS_H
#define MORVEN_CHECKS_H

#include <cstdint>
#include <ostream>

#include "report/CheckFindings.h"
#include "scan/PacketStream.h"

namespace morven {

// The rest of the stream as test-generator packets of `links` links
// (1..8; others are taken as the nearest); the findings, if given, are
// filled too. Returns the words judged.
uint64_t checkAsTestGenPixels(std::ostream& out, PacketStream& stream, int links,
                              CheckFindings* findings);

// The rest of the stream as counters, one per link, each word one more
// than the link's last.
uint64_t checkAsCounters(std::ostream& out, PacketStream& stream, int links,
                         CheckFindings* findings);

}  // namespace morven

#endif  // MORVEN_CHECKS_H
