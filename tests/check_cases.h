// The words of the checks' test files: test-generator pixels and
// heartbeats, counter runs, and the changes that make a stream faulty;
// shared by the golden cases of both checks, the library checks on a
// string stream and the findings.
#ifndef MVSCAN_TESTS_CHECK_CASES_H
#define MVSCAN_TESTS_CHECK_CASES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FileBuilder.h"

namespace check_cases {

// ---- Test-generator words ---------------------------------------------------------

constexpr uint64_t FIXED = 0x2AEBA954;
constexpr uint64_t IDLE = 0x1E;
constexpr uint64_t TOP = 1ULL << 63;

inline uint64_t tg(uint64_t eoc, uint64_t pixnr, uint64_t toa, uint64_t fixed = FIXED) {
  return eoc << 55 | pixnr << 46 | toa << 30 | fixed;
}

inline uint64_t heartbeat(uint64_t counter) {
  return 0xFFULL << 55 | counter;
}

// n words of one link in EoC 0: pixel number and ToA both k for word k.
inline std::vector<uint64_t> ramp(size_t n) {
  std::vector<uint64_t> ws;
  for (size_t k = 0; k < n; ++k) ws.push_back(tg(0, k, k));
  return ws;
}

// Links taking turns: word k of every link has ToA k and is pixel k of the
// link's run through the pixels, which starts at pixel 0 of the given EoC.
inline std::vector<uint64_t> interleaved(const std::vector<uint64_t>& eocs, size_t perLink) {
  std::vector<uint64_t> ws;
  for (size_t k = 0; k < perLink; ++k) {
    for (uint64_t eoc : eocs) ws.push_back(tg(eoc + k / 512, k % 512, k));
  }
  return ws;
}

// A counter from v0 on, n words.
inline std::vector<uint64_t> count(uint64_t v0, size_t n) {
  std::vector<uint64_t> ws;
  for (size_t k = 0; k < n; ++k) ws.push_back(v0 + k);
  return ws;
}

inline std::vector<uint64_t> with(std::vector<uint64_t> ws, size_t at, uint64_t w) {
  ws.at(at) = w;
  return ws;
}

inline std::vector<uint64_t> without(std::vector<uint64_t> ws, size_t at) {
  ws.erase(ws.begin() + long(at));
  return ws;
}

inline std::vector<uint64_t> repeating(std::vector<uint64_t> ws, size_t at) {
  ws.insert(ws.begin() + long(at), ws.at(at));
  return ws;
}

inline std::vector<uint64_t> operator+(std::vector<uint64_t> a, const std::vector<uint64_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Words 5 to 12 of a ramp with a wrong fixed field: eight errors in a row,
// of which the first five are written.
inline std::vector<uint64_t> eightWrongFixed(size_t n) {
  std::vector<uint64_t> ws = ramp(n);
  for (uint64_t k = 5; k < 13; ++k) ws[k] = tg(0, k, k, FIXED + 1);
  return ws;
}

// A counter that gets stuck at 7 for eight words after 100..104.
inline std::vector<uint64_t> eightStuck() {
  return count(100, 5) + std::vector<uint64_t>(8, 7);
}

// A data chunk behind a rejected header of a data type: the chunk layer's
// message comes in the middle of the check, and the counter lines after it
// are filled with blanks.
inline testing_files::FileBuilder counterAcrossInvalidHeader() {
  return testing_files::FileBuilder()
      .header()
      .chunk(morven::MVHDR_VX7TOATOT, {100, 101, 102, 999, 104, 105})
      .chunk(morven::MVHDR_DATA, {106, 107, 5000, 109, 110, 111});
}

inline const std::string ACROSS_INVALID_HEADER =
    "### 0000004: 000003e7, expected 00000067\n"
    "### 0000005: 00000068, expected 000003e8\n"
    "### Consecutive errs : 2 (cnt=6)\n"
    "### Invalid header 0x03ff000000000000 @ index=64\n"
    "###       9:     1388, expected       6c\n"
    "###      10:       6d, expected     1389\n"
    "### Consecutive errs : 2 (cnt=11)\n";

}  // namespace check_cases

#endif  // MVSCAN_TESTS_CHECK_CASES_H
