// What the test-generator check and the counter check find, as data: for
// callers that want the findings rather than the report's lines (the JSON
// report, the Python module). The checks fill it alongside their report,
// record for record: every error line, every closing line of a run of
// errors, every heartbeat out of sequence, and the counts. Each call adds
// to what the findings already hold (the report of a run over several files
// goes on in the same way); a caller that wants one call's findings alone
// starts from an empty object.
#ifndef MORVEN_CHECKFINDINGS_H
#define MORVEN_CHECKFINDINGS_H

#include <cstdint>
#include <vector>

namespace morven {

// One error line: a word that is not the one its link should send next.
struct CheckError {
  uint64_t packet;    // packets read so far, this one included
  int link;           // the link the word belongs to (0 with one link)
  uint64_t found;     // the word as read...
  uint64_t expected;  // ...and the word expected (the test generator's: bottom half)
  // The test generator's fields, found and expected (0 in the counter check).
  uint64_t pixel, expectedPixel;
  uint64_t eoc, expectedEoc;
  uint64_t toa, expectedToa;
  bool fixedWrong;  // the fixed pattern of the low 30 bits was wrong...
  uint64_t fixed;   // ...and this is what the word carried there
  // With one link only: how far ahead of the expected word it is, in
  // pixels and in ToA counts, and how many words since the previous error.
  bool hasJumps;
  uint64_t pixelJump, toaJump, sincePrevious;
};

// A run of two or more errors on a link, closed by a match or by the end
// of the call.
struct ErrorRun {
  int link;
  uint64_t length;  // errors in the run
  uint64_t packet;  // packets read when the run was closed
  bool atEnd;       // closed by the end of the stream
};

// A test-generator heartbeat whose counter is not the expected one.
struct HeartbeatError {
  uint64_t packet;
  uint64_t found, expected;
};

struct CheckFindings {
  std::vector<CheckError> errors;
  std::vector<ErrorRun> runs;
  std::vector<HeartbeatError> heartbeatErrors;
  uint64_t idles = 0;
  uint64_t heartbeats = 0;
  uint64_t learned = 0;  // words read while learning each link's position
  uint64_t checked = 0;  // words judged after that: 0 means nothing was checked
  // Error lines and heartbeats out of sequence, counted also where the
  // records are not kept: a caller that only asks whether the check found
  // anything wrong (the text report's run, for --strict) keeps none.
  uint64_t failures = 0;
  bool keepRecords = true;
};

}  // namespace morven

#endif  // MORVEN_CHECKFINDINGS_H
