// The words of the problems the chunk walk finds.
#include "scan/FileProblem.h"

#include "format/ChunkTypes.h"
#include "format/MorvenFormat.h"
#include "text/Format.h"

namespace morven {

namespace {

std::string notMorvenDetail(uint64_t found) {
  return "expected header 0x" + hexString(MVHDR_MAGIC, 16) + ", got 0x" + hexString(found, 16);
}

}  // namespace

std::string problemMessage(const FileProblem& p) {
  switch (p.kind) {
    case ProblemKind::OpenFailed:
      return "Failed to open file " + p.file;
    case ProblemKind::StatFailed:
      return "Failed to 'stat' file " + p.file;
    case ProblemKind::ReadFailed:
      return "Read error in " + p.file + ": " + p.reason;
    case ProblemKind::HeaderUnreadable:
      return "Failed to read file header";
    case ProblemKind::NotMorven:
      return "Doesn't look like a MORVEN data file: " + notMorvenDetail(p.value);
    case ProblemKind::TruncatedChunk:
      return "Truncated last chunk #" + std::to_string(p.value);
    case ProblemKind::InvalidHeader:
      return "Invalid header 0x" + hexString(p.value, 16) + " @ index=" + std::to_string(p.offset);
    case ProblemKind::JsonUnreadable:
      return "Failed to read JSON chunk " + chunkTypeName(p.value);
    case ProblemKind::JsonInvalid:
      return "Error reading JSON from chunk " + chunkTypeName(p.value);
    case ProblemKind::ConfigUnreadable:
      return "Failed to read VX7-config chunk " + chunkTypeName(p.value);
  }
  return {};
}

std::string problemText(const FileProblem& p) {
  // The header a file that is no MORVEN file holds stands on a line of its
  // own.
  if (p.kind == ProblemKind::NotMorven) {
    return "### Doesn't look like a MORVEN data file:\n    " + notMorvenDetail(p.value) + "\n";
  }
  if (p.kind == ProblemKind::TruncatedChunk)
    return "### Truncated last chunk #" + std::to_string(p.runChunk) + "\n";
  return "### " + problemMessage(p) + "\n";
}

}  // namespace morven
