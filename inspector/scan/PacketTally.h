// The statistics of the packet stream: what one packet adds to the tallies
// per type byte, per pixel and per ToA value, and the loop over a run of
// packets that the single-threaded scan and every worker of the parallel
// scan share.
#ifndef MORVEN_PACKETTALLY_H
#define MORVEN_PACKETTALLY_H

#include <cstddef>
#include <cstdint>

#include "format/ByteOrder.h"
#include "format/MorvenFormat.h"
#include "format/Packet.h"

namespace morven {

constexpr size_t TYPE_COUNTERS = VX7_TYPE_CODES;
constexpr size_t PIXEL_COUNTERS = VX7_PIXEL_INDEXES;
constexpr size_t TOA_COUNTERS = VX7_TOA_VALUES;

// One set of tallies: TYPE_COUNTERS, PIXEL_COUNTERS and TOA_COUNTERS
// counters of type Count.
template <typename Count>
struct Tallies {
  Count* types;
  Count* pixels;
  Count* toas;
};
using TallyCounters = Tallies<uint64_t>;

// How the words of the stream become packets: word reversal (a swap of the
// 32-bit halves) before byte reversal, and in a stream of Pelvan blocks the
// headers, trailers and fill words left out by their place in the stream.
struct PacketForm {
  bool reverseWords;
  bool reverseBytes;
  bool pelvan;
};

// A packet feeds the tally of its type byte, and pixel data also the tally
// of its pixel and, in ToA/ToT chunks only, that of its ToA value. The type
// of a data packet is also part of its pixel number (bits 16..9), so tallies
// that are summed up later may leave the type tally of data packets out
// (dataTypes false) and find it from the pixel tallies: one store less per
// packet, in the loop that the statistics scan spends its time in.
template <bool dataTypes, typename Count>
inline void tallyPacket(const Tallies<Count>& c, uint64_t w, bool toaChunk) {
  const uint64_t t = packetType(w);
  if (dataTypes || t >= VX7_EOC_MAX_COLS) ++c.types[t];
  if (t < VX7_EOC_MAX_COLS) {
    ++c.pixels[packetPixelIndex(w)];
    if (toaChunk) ++c.toas[packetToa(w)];
  }
}

// Tallies n words of one chunk as they come from the file; word i is number
// delivered + i + 1 of the stream (the number that places it in a Pelvan
// block).
template <bool dataTypes, typename Count>
inline void tallyWords(const Tallies<Count>& c, const uint64_t* words, uint64_t n,
                       uint64_t delivered, bool toaChunk, PacketForm form) {
  const bool reverse = form.reverseWords || form.reverseBytes;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t w = words[i];
    if (reverse) w = reversed(w, form.reverseWords, form.reverseBytes);
    if (form.pelvan && notAPelvanPacket(delivered + i + 1, w)) continue;
    tallyPacket<dataTypes>(c, w, toaChunk);
  }
}

}  // namespace morven

#endif  // MORVEN_PACKETTALLY_H
