// Classifying chunk-header words and naming chunk types: pure functions over
// one table, so names and acceptance cannot drift apart.
#ifndef MORVEN_CHUNKTYPES_H
#define MORVEN_CHUNKTYPES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "format/MorvenFormat.h"

namespace morven {

struct ChunkTypeEntry {
  uint64_t type;  // the type field in place (bits 63..48)
  const char* name;
  bool accepted;
};

// The named chunk types. MVHDR_DATA has a name but the reader refuses it:
// pixel data of unspecified kind cannot be decoded. The TOP and BOTTOM
// ToA/ToT types are accepted and merged into MVHDR_VX7TOATOT.
inline constexpr std::array<ChunkTypeEntry, 12> CHUNK_TYPES = {{
    {MVHDR_VX7TOATOT_TOP, "MVHDR_VX7TOATOT_TOP", true},
    {MVHDR_VX7TOATOT_BOTTOM, "MVHDR_VX7TOATOT_BOTTOM", true},
    {MVHDR_VX7TOATOT, "MVHDR_VX7TOATOT", true},
    {MVHDR_VX7PC24, "MVHDR_VX7PC24", true},
    {MVHDR_VX7FRAME8, "MVHDR_VX7FRAME8", true},
    {MVHDR_VX7FRAME16, "MVHDR_VX7FRAME16", true},
    {MVHDR_DATA, "MVHDR_DATA", false},
    {MVHDR_VX7PIXCFG, "MVHDR_VX7PIXCFG", true},
    {MVHDR_VX7CFG, "MVHDR_VX7CFG", true},
    {MVHDR_CHIPINFO, "MVHDR_CHIPINFO", true},
    {MVHDR_BOARDINFO, "MVHDR_BOARDINFO", true},
    {MVHDR_RUNINFO, "MVHDR_RUNINFO", true},
}};

// What one chunk-header word says.
struct ChunkClass {
  uint64_t type;        // bits 63..48 of the word, ToA/ToT TOP and BOTTOM merged
  uint64_t bytes;       // payload size in bytes (size field times 8)
  bool accepted;        // a type the reader takes
  uint64_t counterKey;  // the key it is counted under (all user chunks share one)
};

constexpr ChunkClass classifyHeader(uint64_t word) {
  ChunkClass c{};
  c.type = word & MVHDR_CHUNKTYPE_MASK;
  c.bytes = (word & MVHDR_CHUNKSIZE_MASK) * 8;
  if (c.type == MVHDR_VX7TOATOT_TOP || c.type == MVHDR_VX7TOATOT_BOTTOM) c.type = MVHDR_VX7TOATOT;
  c.counterKey = c.type;
  if ((c.type & MVHDR_GROUPID_MASK) == MVHDR_GROUPID_USER) {
    c.accepted = true;
    c.counterKey = MVHDR_GROUPID_USER;
    return c;
  }
  for (const ChunkTypeEntry& e : CHUNK_TYPES) {
    if (e.type == c.type) c.accepted = e.accepted;
  }
  return c;
}

// Name of a chunk type (only bits 63..48 count): the table's name, the
// composed name of a user chunk, or "???".
inline std::string chunkTypeName(uint64_t type) {
  type &= MVHDR_CHUNKTYPE_MASK;
  for (const ChunkTypeEntry& e : CHUNK_TYPES) {
    if (e.type == type) return e.name;
  }
  if ((type & MVHDR_GROUPID_MASK) != MVHDR_GROUPID_USER) return "???";
  uint64_t encoding = (type & MVHDR_ENCODING_MASK) >> 58;
  uint64_t content = (type & MVHDR_CONTENTID_MASK) >> 48;
  std::string name = "USERHDR";
  if (encoding == 0 && content == 0) return name;
  static constexpr const char* suffixes[4] = {"_BIN", "_JSON", "_<reserved>", "_<USER-encoded>"};
  name += suffixes[encoding];
  name += "_Content";
  name += std::to_string(content);
  return name;
}

// What the words of a data chunk are: pixel hits with ToA and ToT, pixel
// hits with a count (counting runs), frame values (8 or 16 bits per pixel:
// read out whole, not hits), or data of another kind.
enum class ChunkKind : uint8_t { Other, ToaTot, Pc24, Frame };
constexpr size_t CHUNK_KINDS = 4;

constexpr ChunkKind chunkKindOf(uint64_t chunkType) {
  switch (chunkType) {
    case MVHDR_VX7TOATOT:
      return ChunkKind::ToaTot;
    case MVHDR_VX7PC24:
      return ChunkKind::Pc24;
    case MVHDR_VX7FRAME8:
    case MVHDR_VX7FRAME16:
      return ChunkKind::Frame;
    default:
      return ChunkKind::Other;
  }
}

}  // namespace morven

#endif  // MORVEN_CHUNKTYPES_H
