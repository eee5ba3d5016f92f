// What a run does while it follows its last file: at every tick the
// statistics picture and the quick-look page are written anew (each
// replacing its file in one step) and the status line is told the packets
// and problems so far.
#ifndef MORVEN_FOLLOWRUN_H
#define MORVEN_FOLLOWRUN_H

#include <cstdint>
#include <functional>

#include "io/FollowSource.h"
#include "run/QuickLookRun.h"
#include "run/RunSettings.h"
#include "scan/DataInspector.h"

namespace morven {

// look: the run's quick-look report when it writes a page or list, else
// nullptr; problems: the run's count of problems so far; snapshot: writes
// the JSON document so far (none: empty). Every referenced object must
// outlive the run.
FollowSettings followSettings(const RunSettings& s, DataInspector& inspector, QuickLookRun* look,
                              const uint64_t& problems, std::function<void()> snapshot);

// The statistics picture of the counters: written in place, or, in a
// followed run, replacing the file in one step. Returns the error, or "".
std::string writeRunPicture(const RunSettings& s, const uint64_t* counters,
                            const std::string& path);

}  // namespace morven

#endif  // MORVEN_FOLLOWRUN_H
