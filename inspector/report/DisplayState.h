// What the packet display carries from one packet to the next, and from one
// file to the next of a run: the frame and its segments, the Pelvan link of
// the current block, and the last value of each timer, for the differences
// that its lines print. A run starts with a fresh one.
#ifndef MORVEN_DISPLAYSTATE_H
#define MORVEN_DISPLAYSTATE_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace morven {

// A Pelvan header carries a 5-bit link number, so the display keeps frame
// segment state for 32 links.
constexpr size_t DISPLAY_LINKS = 32;

struct DisplayState {
  // The segment address a link shows when it has no segment.
  static constexpr uint64_t NO_SEGMENT = 999;

  // A frame segment on one link: open from its SEGMENT_START until all its
  // values have been shown.
  struct Segment {
    bool started = false;
    uint64_t addr = NO_SEGMENT;  // of the last segment started
    uint64_t pixels = 0;         // values shown so far
  };

  // The last value of each timer of one chip half; 0: none seen yet (or,
  // for the shutter, no rise since the last fall).
  struct HalfTimers {
    uint64_t heartbeat = 0;
    uint64_t ctrlData = 0;
    uint64_t shutterRise = 0;
  };

  // Every data chunk is shown as frame values of the width below (-f 8/16).
  bool forceFrame = false;
  bool frameStarted = false;
  // The width of the frame's pixel values, set by its FRAME_START (or forced).
  bool frame8 = false;
  bool frame16 = false;
  uint64_t frameCount = 0;
  uint64_t segmentCount = 0;  // segments started in the current frame
  uint64_t currentLink = 0;   // the link of the current Pelvan block
  std::array<Segment, DISPLAY_LINKS> segments{};
  // The test generator keeps one heartbeat for both halves.
  uint64_t lastTestGenHeartbeat = 0;
  HalfTimers top, bottom;

  HalfTimers& timers(bool topHalf) { return topHalf ? top : bottom; }
};

}  // namespace morven

#endif  // MORVEN_DISPLAYSTATE_H
