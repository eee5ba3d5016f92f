// Chip, board and run information and the register configuration that a
// MORVEN readout writes before the data. The values are plausible, not
// physical; the ones that vary come from the seed, so the same seed gives
// the same bytes.
#include "Metadata.h"

#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "Random.h"
#include "format/MorvenFormat.h"

namespace mvgen {
namespace {

using Json = nlohmann::ordered_json;

// The -k name of each kind and the mode the run information gives it, in
// the order of Kind.
struct KindText {
  const char* name;
  const char* mode;
};
constexpr KindText KIND_TEXTS[] = {
    {"toatot", "ToA/ToT"},         {"pc24", "counting (PC24)"},   {"frame8", "frame (8-bit)"},
    {"frame16", "frame (16-bit)"}, {"testgen", "test generator"}, {"counter", "counter"},
};
static_assert(std::size(KIND_TEXTS) == size_t(Kind::Counter) + 1);

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[size_t(i)] = char(v >> (8 * i) & 0xFF);
  return s;
}

std::string chunk(uint64_t type, std::string payload, uint64_t padWords) {
  payload.append((8 - payload.size() % 8) % 8 + 8 * padWords, '\0');
  return le64(type | payload.size() / 8) + payload;
}

// A JSON chunk; false if the text could not be built (nlohmann throws on
// text that is not UTF-8, which none of ours is).
bool jsonChunk(uint64_t type, const Json& value, uint64_t padWords, std::string& bytes) {
  try {
    bytes += chunk(type, value.dump(), padWords);
    return true;
  } catch (const Json::exception&) {
    return false;
  }
}

std::string formatted(const char* format, unsigned a, unsigned b, unsigned c) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// One register record: address, number of value bytes, the value bytes
// (least significant first), zero fill to a multiple of 8.
std::string registerRecord(uint32_t address, uint64_t value, unsigned bytes) {
  std::string r = le32(address) + le32(bytes);
  for (unsigned i = 0; i < bytes; ++i) r += char(i < 8 ? value >> (8 * i) & 0xFF : 0);
  r.append((8 - bytes % 8) % 8, '\0');
  return r;
}

// A register record of more than 8 value bytes.
std::string registerBytes(uint32_t address, const std::string& value) {
  return le32(address) + le32(uint32_t(value.size())) + value +
         std::string((8 - value.size() % 8) % 8, '\0');
}

std::string registerTable(Kind kind, Random& random) {
  std::string t;
  t += registerRecord(0x0000, 0x7A000000 | random.below(0x1000000), 4);  // chip id
  t += registerRecord(0x0004, uint64_t(kind), 1);                        // readout mode
  t += registerRecord(0x0010, 100 + random.below(60), 2);                // Ibias_preamp
  t += registerRecord(0x0011, 10 + random.below(20), 2);                 // Ibias_ikrum
  t += registerRecord(0x0012, 128, 2);                                   // Vfbk
  t += registerRecord(0x0013, 300 + random.below(200), 2);               // Vthreshold_fine
  t += registerRecord(0x0014, 6 + random.below(4), 2);                   // Vthreshold_coarse
  t += registerRecord(0x0015, 64 + random.below(64), 2);                 // Ibias_discs
  t += registerRecord(0x0020, 150000, 4);                                // shutter length
  t += registerRecord(0x0021, 65536, 4);                                 // heartbeat period
  t += registerRecord(0x0030, 0x1E0000A0C8000001ULL, 8);                 // PLL configuration
  t += registerRecord(0x0040, 0x000101, 3);                              // test pulse
  // Column enable mask: one bit per EoC block, all 224 enabled.
  t += registerBytes(0x0100, std::string(28, char(0xFF)));
  // Per-block threshold trims, 40 bytes.
  std::string trims;
  for (int i = 0; i < 40; ++i) trims += char(random.below(16));
  t += registerBytes(0x0200, trims);
  return t;
}

}  // namespace

const char* kindName(Kind kind) {
  return size_t(kind) < std::size(KIND_TEXTS) ? KIND_TEXTS[size_t(kind)].name : "?";
}

std::string le64(uint64_t w) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[size_t(i)] = char(w >> (8 * i) & 0xFF);
  return s;
}

uint64_t dataChunkType(Kind kind) {
  switch (kind) {
    case Kind::Pc24:
      return morven::MVHDR_VX7PC24;
    case Kind::Frame8:
      return morven::MVHDR_VX7FRAME8;
    case Kind::Frame16:
      return morven::MVHDR_VX7FRAME16;
    case Kind::ToaTot:
    case Kind::TestGen:
    case Kind::Counter:
      break;
  }
  return morven::MVHDR_VX7TOATOT;
}

bool metadataChunks(const RunDescription& run, uint64_t padWords, std::string& bytes) {
  // A stream of its own, so that the data do not depend on these values.
  Random random(run.seed ^ 0x6D65746164617461ULL);
  const bool chipRun = run.kind != Kind::TestGen && run.kind != Kind::Counter;
  bytes.clear();

  if (chipRun) {
    const Json chip = {
        {"chip", "Vexar7"},
        {"id", formatted("W%02u-%c%u", unsigned(1 + random.below(24)),
                         unsigned('A' + random.below(10)), unsigned(1 + random.below(9)))},
        {"revision", "1.1"},
        {"columns", 448},
        {"rows", 512},
        {"eoc_blocks", 224},
        {"pixels_per_eoc", 512},
        {"halves", {"bottom", "top"}},
    };
    if (!jsonChunk(morven::MVHDR_CHIPINFO, chip, 0, bytes)) return false;
  }
  const Json board = {
      {"board", "MORVEN"},   {"serial", formatted("MRV-%04u", unsigned(random.below(10000)), 0, 0)},
      {"firmware", "2.7.1"}, {"links", run.links},
      {"clock_mhz", 640},
  };
  if (!jsonChunk(morven::MVHDR_BOARDINFO, board, 0, bytes)) return false;

  Json info = {
      {"run", 1000 + random.below(9000)},
      {"start", formatted("2025-08-27T%02u:%02u:%02uZ", unsigned(random.below(24)),
                          unsigned(random.below(60)), unsigned(random.below(60)))},
      {"mode", KIND_TEXTS[size_t(run.kind)].mode},
      {"generator", "mvgen"},
      {"seed", run.seed},
      {"chunk_packets", run.chunkWords},
      {"pelvan", run.pelvan},
  };
  if (!chipRun) {
    info["links"] = run.links;
    info["injected_errors"] = run.errors;
  }
  if (!jsonChunk(morven::MVHDR_RUNINFO, info, padWords, bytes)) return false;

  if (chipRun) bytes += chunk(morven::MVHDR_VX7CFG, registerTable(run.kind, random), 0);
  return true;
}

}  // namespace mvgen
