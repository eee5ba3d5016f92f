// The hit-count picture: a 16-bit greyscale PNG of the pixel matrix, one
// picture pixel per chip pixel, brightness proportional to the hits, with a
// white separator stripe and a grey-scale bar at the right edge.
#ifndef MORVEN_COUNTERIMAGE_H
#define MORVEN_COUNTERIMAGE_H

#include <cstdint>
#include <string>

namespace morven {

// Writes the picture of the hit counters (one per 18-bit pixel index, as
// the statistics scan tallies them) to fileName. Returns an empty string,
// or why the picture could not be written, as the text report prints it
// after "### " ("PNG error: x.png: No such file or directory"). Builds
// without the PNG library write nothing and return an empty string.
std::string writeCounterImage(const uint64_t* pixelCounters, const std::string& fileName);

}  // namespace morven

#endif  // MORVEN_COUNTERIMAGE_H
