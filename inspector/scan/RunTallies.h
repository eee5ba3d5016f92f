// The tallies of a run as one value: one counter per type byte, per pixel
// index (18 bits: half, EoC block, pixel number) and per ToA value, and,
// while the quick-look report wants them, the hit tallies. The statistics
// scan fills them, merging adds those of other runs, and the picture and
// every report read them.
//
// The counters take 2.5 MiB: a run that never tallies (the file check, a
// run over many small files whose every file starts from a reset) must not
// clear them for every file. So they are written only through counters()
// and add(), which mark them, and clear() clears only marked counters.
#ifndef MORVEN_RUNTALLIES_H
#define MORVEN_RUNTALLIES_H

#include <cstdint>
#include <memory>
#include <vector>

#include "scan/PacketTally.h"

namespace morven {

struct RunTallies {
  // The counters, all zero; no hit tallies.
  RunTallies();

  // Counters from calloc: the system hands out zeroed pages as they are
  // first touched, so a run that never tallies costs no memory for them.
  struct Free {
    void operator()(uint64_t* p) const;
  };
  std::vector<uint64_t> types;               // TYPE_COUNTERS
  std::unique_ptr<uint64_t[], Free> pixels;  // PIXEL_COUNTERS
  std::unique_ptr<uint64_t[], Free> toas;    // TOA_COUNTERS
  std::unique_ptr<HitTotals> hits;           // null while not kept

  // The counters to write to (the statistics scan's).
  TallyCounters counters() {
    _zero = false;
    return {types.data(), pixels.get(), toas.get()};
  }
  // Every counter back to zero; the hit tallies, if kept, too.
  void clear();
  // Keeps the hit tallies (cleared) or drops them.
  void keepHits(bool on);
  // Adds the counters of more (not its hit tallies). While these counters
  // are all zero, the two swap their counters instead: the sum is more's,
  // and no page of it is copied or touched.
  void add(RunTallies& more);

 private:
  // No counter has been handed out for writing since the last clear.
  bool _zero = false;
};

}  // namespace morven

#endif  // MORVEN_RUNTALLIES_H
