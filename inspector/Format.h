// Small formatting helpers for fixed-width fields. They write digits into a
// caller's character buffer with std::to_chars and never touch a stream's
// state, so the hot paths (the packet display, the check lines) cost no
// stream formatting per field, and each report sets the stream's base and
// fill exactly where the output rules say so.
#ifndef MORVEN_FORMAT_H
#define MORVEN_FORMAT_H

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

namespace morven {

// Writes v in base 10 or 16 (lower case), right-aligned in at least width
// characters filled with fill; returns the end. p needs room for
// max(width, 20) characters.
inline char* putNumber(char* p, uint64_t v, int base, int width = 0, char fill = ' ') {
  char digits[24] = {};
  char* end = std::to_chars(digits, digits + sizeof digits, v, base).ptr;
  int n = int(end - digits);
  for (int i = n; i < width; ++i) *p++ = fill;
  std::memcpy(p, digits, size_t(n));
  return p + n;
}

inline char* putDec(char* p, uint64_t v, int width = 0, char fill = ' ') {
  return putNumber(p, v, 10, width, fill);
}

inline char* putHex(char* p, uint64_t v, int width = 0, char fill = '0') {
  return putNumber(p, v, 16, width, fill);
}

inline char* putText(char* p, const char* text) {
  size_t n = std::strlen(text);
  std::memcpy(p, text, n);
  return p + n;
}

// v in lower-case hexadecimal, zero-filled to at least width digits.
inline std::string hexString(uint64_t v, int width = 0) {
  char buf[32];
  return std::string(buf, putHex(buf, v, width));
}

// v in decimal, right-aligned with blanks in at least width characters.
inline std::string decString(uint64_t v, int width = 0) {
  char buf[32];
  return std::string(buf, putDec(buf, v, width));
}

}  // namespace morven

#endif  // MORVEN_FORMAT_H
