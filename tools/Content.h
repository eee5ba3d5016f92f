// The packet streams that mvgen writes into data chunks: what a Vexar7 chip
// and the MORVEN readout send in the ToA/ToT, counting and frame modes, and
// the two patterns of the readout's test generator.
#ifndef MVGEN_CONTENT_H
#define MVGEN_CONTENT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/MorvenFormat.h"

namespace mvgen {

enum class Kind { ToaTot, Pc24, Frame8, Frame16, TestGen, Counter };

// Faults that can be put into the test-generator and counter streams, each
// at one packet position.
enum class ErrorKind {
  Fixed,    // test generator: a wrong 30-bit fixed pattern in one packet
  Toa,      // test generator: the link's ToA jumps ahead by TOA_JUMP from here on
  Missing,  // both: the link's packet is left out, its successor takes its place
  Corrupt,  // counter: one bit of one word flipped
  Repeat,   // counter: the link sends its previous value again
};

constexpr uint64_t TOA_JUMP = 0x100;
constexpr uint64_t CORRUPT_BIT = 0x100;
// The fixed field of a packet damaged by ErrorKind::Fixed: every bit flipped.
constexpr uint64_t TESTGEN_BAD_FIXED = morven::TESTGEN_FIXED ^ morven::TESTGEN_FIXED_MASK;

struct InjectedError {
  uint64_t position;  // 1-based number of the word in the packet stream
  ErrorKind kind;
};

// A source of packets. fill() writes the next count packets; firstNumber is
// the 1-based position in the packet stream of the first of them (positions
// run on over Pelvan header and trailer words, which the source never sees).
class Content {
 public:
  virtual ~Content() = default;
  virtual void fill(uint64_t* out, size_t count, uint64_t firstNumber) = 0;
};

// The content of the given kind. errors must be sorted by position and are
// honoured only by the test-generator and counter streams.
std::unique_ptr<Content> makeContent(Kind kind, uint64_t seed, int links,
                                     std::vector<InjectedError> errors);

}  // namespace mvgen

#endif  // MVGEN_CONTENT_H
