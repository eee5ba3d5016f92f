// The statistics of the packet stream: what one packet adds to the tallies
// per type byte, per pixel and per ToA value, and the loop over a run of
// packets that the single-threaded scan and every worker of the parallel
// scan share.
#ifndef MORVEN_PACKETTALLY_H
#define MORVEN_PACKETTALLY_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "format/ByteOrder.h"
#include "format/ChunkTypes.h"
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

// The ToT field has 11 bits. The counts of a counting run span 24 bits:
// their spectrum has bins of one value below 16, and eight bins per octave
// above (the three bits below the leading one).
constexpr size_t TOT_COUNTERS = 0x800;
constexpr size_t PC_COUNTERS = 16 + 20 * 8;
constexpr uint64_t pcBin(uint64_t pc) {
  if (pc < 16) return pc;
  const uint64_t octave = uint64_t(std::bit_width(pc)) - 1;
  return 16 + (octave - 4) * 8 + ((pc >> (octave - 3)) & 7);
}
// The smallest count of a bin.
constexpr uint64_t pcBinLow(uint64_t bin) {
  if (bin < 16) return bin;
  const uint64_t octave = (bin - 16) / 8 + 4;
  return (8 + (bin - 16) % 8) << (octave - 3);
}

// The tallies of the quick-look report, on top of Tallies: what tells hits
// from words that are not hits (IDLE words, empty packets, frame values) and
// the ToT and count spectra. Counters as in Tallies; the word counts of one
// run of words come back from tallyHitWords.
template <typename Count>
struct HitCounters {
  Count* tots;         // TOT_COUNTERS, ToA/ToT chunks
  Count* pcs;          // PC_COUNTERS, counting chunks
  Count* framePixels;  // PIXEL_COUNTERS: the pixel tally of frame chunks alone
};
struct WordCounts {
  uint64_t data = 0;   // words of a pixel type (EoC block 0..223)
  uint64_t idle = 0;   // of those, whole-word IDLE
  uint64_t empty = 0;  // whole-word empty packets
};

// The hit tallies of a run, summed over its files.
struct HitTotals {
  std::vector<uint64_t> tots = std::vector<uint64_t>(TOT_COUNTERS, 0);
  std::vector<uint64_t> pcs = std::vector<uint64_t>(PC_COUNTERS, 0);
  // Empty until a frame chunk is tallied: most runs have none.
  std::vector<uint64_t> framePixels;
  // Whole-word IDLE words by chunk kind (those of frame chunks are frame
  // values like any other), and whole-word empty packets.
  uint64_t idle[CHUNK_KINDS] = {};
  uint64_t empty = 0;
  // Hits (pixel words other than IDLE, outside frame chunks) of each data
  // chunk in stream order, and how many data chunks each file had.
  std::deque<uint64_t> chunkHits;
  std::vector<uint64_t> fileChunks;
  // The counters for a chunk of the given kind.
  HitCounters<uint64_t> counters(ChunkKind kind) {
    if (kind == ChunkKind::Frame) haveFramePixels();
    return {tots.data(), pcs.data(), framePixels.data()};
  }
  void haveFramePixels() {
    if (framePixels.empty()) framePixels.assign(0x40000, 0);
  }
  uint64_t framePixel(size_t i) const { return framePixels.empty() ? 0 : framePixels[i]; }
  // Counts one run of words of a chunk of the given kind.
  void addWords(const WordCounts& w, ChunkKind kind) {
    empty += w.empty;
    if (kind == ChunkKind::Frame) return;
    idle[size_t(kind)] += w.idle;
    if (!chunkHits.empty()) chunkHits.back() += w.data - w.idle;
  }
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

// tallyWords with the hit tallies as well: every count of tallyWords is the
// same, so the text report and the picture do not change. One loop for each
// kind of chunk, and the word counts in local variables: kept in a struct,
// they went through memory on every word.
template <bool dataTypes, ChunkKind kind, typename Count>
inline WordCounts tallyHitWordsOf(const Tallies<Count>& c, const HitCounters<Count>& h,
                                  const uint64_t* words, uint64_t n, uint64_t delivered,
                                  PacketForm form) {
  Count* const types = c.types;
  Count* const pixels = c.pixels;
  Count* const toas = c.toas;
  Count* const tots = h.tots;
  Count* const pcs = h.pcs;
  Count* const framePixels = h.framePixels;
  uint64_t data = 0, idle = 0, empty = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t w = words[i];
    if (form.reverseWords || form.reverseBytes)
      w = reversed(w, form.reverseWords, form.reverseBytes);
    if (form.pelvan && notAPelvanPacket(delivered + i + 1, w)) continue;
    const uint64_t t = packetType(w);
    if (dataTypes || t >= VX7_EOC_MAX_COLS) ++types[t];
    if (t >= VX7_EOC_MAX_COLS) {
      empty += w == EMPTY_PACKET_WORD;
      continue;
    }
    const uint64_t pixel = packetPixelIndex(w);
    ++pixels[pixel];
    ++data;
    idle += w == IDLE_WORD;
    if constexpr (kind == ChunkKind::ToaTot) {
      ++toas[packetToa(w)];
      ++tots[packetTot(w)];
    } else if constexpr (kind == ChunkKind::Pc24) {
      ++pcs[pcBin(packetPc(w))];
    } else if constexpr (kind == ChunkKind::Frame) {
      ++framePixels[pixel];
    }
  }
  WordCounts counts;
  counts.data = data, counts.idle = idle, counts.empty = empty;
  return counts;
}

template <bool dataTypes, typename Count>
inline WordCounts tallyHitWords(const Tallies<Count>& c, const HitCounters<Count>& h,
                                const uint64_t* words, uint64_t n, uint64_t delivered,
                                ChunkKind kind, PacketForm form) {
  switch (kind) {
    case ChunkKind::ToaTot:
      return tallyHitWordsOf<dataTypes, ChunkKind::ToaTot>(c, h, words, n, delivered, form);
    case ChunkKind::Pc24:
      return tallyHitWordsOf<dataTypes, ChunkKind::Pc24>(c, h, words, n, delivered, form);
    case ChunkKind::Frame:
      return tallyHitWordsOf<dataTypes, ChunkKind::Frame>(c, h, words, n, delivered, form);
    default:
      return tallyHitWordsOf<dataTypes, ChunkKind::Other>(c, h, words, n, delivered, form);
  }
}

}  // namespace morven

#endif  // MORVEN_PACKETTALLY_H
