// What the chunk walk and the packet stream find wrong with a file, as
// values: the kind, the file offset it concerns and the numbers its message
// needs. The walk never writes text; the words of each problem are made
// here, for the reports that show them.
#ifndef MORVEN_FILEPROBLEM_H
#define MORVEN_FILEPROBLEM_H

#include <cstdint>
#include <string>
#include <utility>

namespace morven {

// What went wrong with a file, for callers that act on the kind rather than
// on the text: the first two are the system's refusals (errno tells why),
// the others the file's content.
enum class ProblemKind {
  OpenFailed,        // the file could not be opened
  StatFailed,        // its size could not be had
  ReadFailed,        // a compressed stream is damaged or cut short
  HeaderUnreadable,  // fewer than 8 bytes, or the first read failed
  NotMorven,         // the first 8 bytes are not the MORVEN header
  TruncatedChunk,    // the file ends inside a chunk's payload
  InvalidHeader,     // a chunk header of no accepted type
  JsonUnreadable,    // a JSON chunk cut short by the end of the file
  JsonInvalid,       // a JSON chunk whose text is not JSON
  ConfigUnreadable,  // a chip-configuration chunk cut short
};

// One problem: the file offset it concerns (the chunk's header word, or 0
// for the file as a whole; where a stream failed), and what its message
// names. A data chunk that the packet stream finds cut short is no part of
// the pixel modes' text report (shownInText false); every other problem is.
struct FileProblem {
  FileProblem() = default;
  FileProblem(ProblemKind kind, uint64_t offset, uint64_t value = 0, std::string file = {},
              std::string reason = {})
      : offset(offset),
        kind(kind),
        value(value),
        file(std::move(file)),
        reason(std::move(reason)) {}

  uint64_t offset = 0;
  ProblemKind kind = ProblemKind::InvalidHeader;
  // TruncatedChunk: the chunk's number in the file (headers read in it so
  // far);
  // InvalidHeader, JsonUnreadable, JsonInvalid, ConfigUnreadable: the
  // chunk's type; NotMorven: the first word the file holds.
  uint64_t value = 0;
  // OpenFailed, StatFailed, ReadFailed: the name the file was opened by.
  std::string file;
  // ReadFailed: what the source says went wrong, and where.
  std::string reason;
  bool shownInText = true;
  // TruncatedChunk: the chunk's number counted over the files of the run
  // so far, as the text report has always printed it. The pixel modes
  // read on from file to file, so there it differs from value after the
  // first file; the JSON report, the page and the Python module give value.
  uint64_t runChunk = 0;
};

// The message as the reports give it, without the text report's "### ".
std::string problemMessage(const FileProblem& problem);

// The lines of the text report for a problem, each ended by a newline: the
// message after "### ", the header of a file that is no MORVEN file on two
// lines.
std::string problemText(const FileProblem& problem);

}  // namespace morven

#endif  // MORVEN_FILEPROBLEM_H
