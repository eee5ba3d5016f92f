// The packet display: one line per shown packet, with the raw word, the
// decoded bit fields, or both, over a packet stream and the display state
// that the run carries from packet to packet.
#ifndef MORVEN_PIXELDISPLAY_H
#define MORVEN_PIXELDISPLAY_H

#include <cstdint>
#include <ostream>

#include "report/DisplayState.h"
#include "scan/PacketStream.h"

namespace morven {

// -C: the packet's index in front; -R: the raw word; -P: its fields; -Q: in
// the test generator's layout; -0: no line for a zero word. lineByLine: a
// terminal watches, and every line goes out as it ends.
struct DisplayOptions {
  bool showCounter, showRaw, showFields, testGen, skipZeroPackets;
  bool lineByLine = false;
};

// The line of the stream's current packet, the index-th of the file.
void displayPixel(std::ostream& out, const PacketStream& stream, DisplayState& display,
                  const DisplayOptions& o, uint64_t index);

// The display loop over the rest of the packet stream: every stride-th
// packet from the next one on, counted from index + 1, shown as
// displayPixel shows it. The lines go to the stream in batches, each
// written before the file is read again (or, for a terminal, each line as
// it ends). Ends early at the first write the stream refuses.
void displayPackets(std::ostream& out, PacketStream& stream, DisplayState& display,
                    const DisplayOptions& o, uint64_t index, int stride);

// Every data chunk shown as frame values of 8 or 16 bits (any other: as
// the chunk type says), with the line that says so.
void forceFrameData(DisplayState& display, std::ostream& out, int bits);

}  // namespace morven

#endif  // MORVEN_PIXELDISPLAY_H
