// Numbers as strings in the fixed-width forms of the reports, for callers
// that build their text with strings or stream operators. They never touch
// a stream's state, so each report sets the stream's base and fill exactly
// where the output rules say so. Lines written in one piece use LineWriter.
#ifndef MORVEN_FORMAT_H
#define MORVEN_FORMAT_H

#include <cstdint>
#include <string>

#include "text/LineWriter.h"

namespace morven {

// v in lower-case hexadecimal, zero-filled to at least width digits.
inline std::string hexString(uint64_t v, int width = 0) {
  LineWriter<32> s;
  return std::string(s.hex(v, width, '0').view());
}

// v in decimal, right-aligned with blanks in at least width characters.
inline std::string decString(uint64_t v, int width = 0) {
  LineWriter<32> s;
  return std::string(s.dec(v, width).view());
}

}  // namespace morven

#endif  // MORVEN_FORMAT_H
