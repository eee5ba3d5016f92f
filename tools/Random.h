// The pseudo-random source of mvgen: xoshiro256** seeded through
// splitmix64. Integer arithmetic only, so one seed gives the same bytes on
// every host and with every compiler and C library.
#ifndef MVGEN_RANDOM_H
#define MVGEN_RANDOM_H

#include <cstdint>

namespace mvgen {

class Random {
 public:
  explicit Random(uint64_t seed) {
    for (uint64_t& s : _state) s = splitMix(seed);
  }

  uint64_t next() {
    const uint64_t result = rotateLeft(_state[1] * 5, 7) * 9;
    const uint64_t t = _state[1] << 17;
    _state[2] ^= _state[0];
    _state[3] ^= _state[1];
    _state[1] ^= _state[2];
    _state[0] ^= _state[3];
    _state[2] ^= t;
    _state[3] = rotateLeft(_state[3], 45);
    return result;
  }

  // A value in 0..n-1 (n at least 1), from the high half of a 128-bit
  // product: no division, and no bias worth speaking of for small n.
  uint64_t below(uint64_t n) {
    return uint64_t((static_cast<unsigned __int128>(next()) * n) >> 64);
  }

 private:
  static uint64_t rotateLeft(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static uint64_t splitMix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  uint64_t _state[4];
};

}  // namespace mvgen

#endif  // MVGEN_RANDOM_H
