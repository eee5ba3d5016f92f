// Every multi-byte quantity in a MORVEN file is little-endian. These helpers
// are the one place that knows it, so the tool reads the same files on a
// big-endian host.
#ifndef MORVEN_BYTEORDER_H
#define MORVEN_BYTEORDER_H

#include <bit>
#include <cstddef>
#include <cstdint>

namespace morven {

inline uint64_t loadLE64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline uint32_t loadLE32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t byteSwap64(uint64_t v) {
  return __builtin_bswap64(v);
}

// A packet word as read with -w (its 32-bit halves swapped) and -r (its
// bytes swapped), the halves first: the forms in which a readout that got
// the word order wrong wrote its packets.
inline uint64_t reversed(uint64_t w, bool words, bool bytes) {
  if (words) w = (w << 32) | (w >> 32);
  if (bytes) w = byteSwap64(w);
  return w;
}

// reversed() over words in place; nothing to do when neither is asked for.
inline void reverseInPlace(uint64_t* w, size_t count, bool words, bool bytes) {
  if (!words && !bytes) return;
  for (size_t i = 0; i < count; ++i) w[i] = reversed(w[i], words, bytes);
}

// Turns words read raw from the file into native values, in place; nothing
// to do on a little-endian host.
inline void wordsFromLE(uint64_t* words, size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) words[i] = byteSwap64(words[i]);
  } else {
    (void)words;
    (void)count;
  }
}

}  // namespace morven

#endif  // MORVEN_BYTEORDER_H
