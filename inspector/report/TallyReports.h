// Reports over the tallies of the statistics scan.
#ifndef MORVEN_TALLYREPORTS_H
#define MORVEN_TALLYREPORTS_H

#include <ostream>

#include "scan/RunTallies.h"

namespace morven {

// "=> EoC counters:" and a line per type byte counted (all: every one of
// the 256), control types with their names.
void logEocCounters(const RunTallies& tallies, std::ostream& out, bool all);
// The ToA tallies in bins equal parts of the 65536 values.
void toaHistogram(const RunTallies& tallies, std::ostream& out, int bins);

}  // namespace morven

#endif  // MORVEN_TALLYREPORTS_H
