// The chunks that precede the data chunks of an mvgen file: chip, board and
// run information as JSON text and the chip's register configuration.
#ifndef MVGEN_METADATA_H
#define MVGEN_METADATA_H

#include <cstdint>
#include <string>
#include <vector>

#include "Content.h"

namespace mvgen {

struct RunDescription {
  Kind kind = Kind::ToaTot;
  uint64_t seed = 1;
  int links = 1;
  uint64_t chunkWords = 0;
  bool pelvan = false;
  std::vector<std::string> errors;  // as given on the command line
};

const char* kindName(Kind kind);

// The 64-bit little-endian image of a word, for building chunks.
std::string le64(uint64_t w);

// The data chunk type of a kind of content.
uint64_t dataChunkType(Kind kind);

// Header words and payloads of the chunks before the data, little-endian.
// padWords zero words are added to the run information after its text
// (the text ends at its first zero byte), so that a file can be made to
// reach an exact size. False if the JSON text could not be built.
bool metadataChunks(const RunDescription& run, uint64_t padWords, std::string& bytes);

}  // namespace mvgen

#endif  // MVGEN_METADATA_H
