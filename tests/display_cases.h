// The packet display's test kit: packet words of every kind, the display
// loop of the pixel-scan run on an inspector writing to a string stream,
// its options, and the lines of frame segments.
#ifndef MVSCAN_TESTS_DISPLAY_CASES_H
#define MVSCAN_TESTS_DISPLAY_CASES_H

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "ProblemsAsText.h"
#include "report/PixelDisplay.h"
#include "scan/DataInspector.h"

namespace display_cases {

// The chunk types of the display's files.
using morven::MVHDR_VX7FRAME16;
using morven::MVHDR_VX7FRAME8;
using morven::MVHDR_VX7PC24;
using morven::MVHDR_VX7TOATOT;
using morven::MVHDR_VX7TOATOT_BOTTOM;

using testing_files::FileBuilder;
using testing_files::TempDir;

// ---- Packet words -----------------------------------------------------------

constexpr uint64_t TOP = uint64_t(1) << 63;
constexpr uint64_t IDLE = 0x000000000000001EULL;
constexpr uint64_t EMPTY = 0xFFFFFFFF00000000ULL;
// Bottom data packet of EoC 5, pixel number 0x1d: x = 11, y = 13.
constexpr uint64_t DATA = 0x0287400000000000ULL;
constexpr uint64_t FRAME_BYTES = 0x0706050403020100ULL;

constexpr uint64_t typed(uint64_t type, uint64_t payload) {
  return type << 55 | payload;
}
constexpr uint64_t heartbeat(uint64_t v) {
  return typed(0xE0, v);
}
constexpr uint64_t shutterRise(uint64_t v) {
  return typed(0xE1, v);
}
constexpr uint64_t shutterFall(uint64_t v) {
  return typed(0xE2, v);
}
constexpr uint64_t ctrlData(uint64_t v) {
  return typed(0xEA, v);
}
constexpr uint64_t testGenHeartbeat(uint64_t v) {
  return typed(0xFF, v);
}
constexpr uint64_t marker(uint64_t type, uint64_t segmentAddr = 0, uint64_t readoutMode = 0) {
  return typed(type, segmentAddr << 52 | readoutMode << 50);
}
constexpr uint64_t FRAME_START = marker(0xF0);
constexpr uint64_t FRAME_END = marker(0xF1);
constexpr uint64_t SEGMENT_END = marker(0xF3);
constexpr uint64_t segmentStart(uint64_t addr) {
  return marker(0xF2, addr);
}
constexpr uint64_t segmentEnd(uint64_t addr) {
  return marker(0xF3, addr);
}
// A Pelvan header word with its sequence numbers and link number.
constexpr uint64_t pelvanHeader(uint64_t seqH, uint64_t seqL, uint64_t link) {
  return seqH << 43 | seqL << 11 | link << 6;
}

// ---- Running the display ------------------------------------------------------

struct Options {
  bool counter = false;   // -C
  bool raw = false;       // -R
  bool fields = true;     // -P
  bool testGen = false;   // -Q
  bool skipZero = false;  // -0
  bool pelvan = false;    // -W
  int stride = 1;         // -L
  int frameBits = 0;      // -F
};

inline Options rawOnly() {
  Options o;
  o.raw = true;
  o.fields = false;
  return o;
}

// The display loop of the pixel-scan run, over files on one inspector that
// is reset for the first file only.
inline std::string display(const std::vector<std::string>& paths, const Options& o) {
  std::ostringstream out;
  morven::DataInspector inspector(true);
  morven::DisplayState state;
  problemsAsText(inspector, out);
  bool first = true;
  for (const std::string& path : paths) {
    if (!inspector.setFile(path, first)) break;
    first = false;
    if (o.frameBits != 0) forceFrameData(state, out, o.frameBits);
    inspector.stream().setFromPelvan(o.pelvan);
    uint64_t index = 0;
    int k = 0;
    while (inspector.stream().nextPixel()) {
      ++index;
      if (++k == o.stride) {
        k = 0;
        displayPixel(out, inspector.stream(), state,
                     morven::DisplayOptions{o.counter, o.raw, o.fields, o.testGen, o.skipZero},
                     index);
      }
    }
  }
  return out.str();
}

// The display of one data chunk of the given type.
inline std::string displayChunk(uint64_t chunkType, const std::vector<uint64_t>& words,
                                const Options& o = Options()) {
  TempDir dir;
  return display({dir.write("a.mv", FileBuilder().header().chunk(chunkType, words))}, o);
}

inline std::string lines(const std::vector<std::string>& ls) {
  std::string s;
  for (const std::string& l : ls) s += l + "\n";
  return s;
}

inline const std::string TOA_TOT_ZERO =
    " toa=   0 uftoa-sta/sto=0,0 ftoa-f/r= 0, 0 tot=  0 pileup=0";
inline const std::string DATA_TOA_TOT = "top=0 eoc= 5 pixnr= 1d (x= 11 y= 13)" + TOA_TOT_ZERO;

// ---- Options of the display -----------------------------------------------------

inline Options with(Options o, void (*change)(Options&)) {
  change(o);
  return o;
}
inline const Options P;  // -P
inline const Options R = rawOnly();
inline const Options RP = with(P, [](Options& o) { o.raw = true; });
inline const Options QP = with(P, [](Options& o) { o.testGen = true; });
inline const Options CP = with(P, [](Options& o) { o.counter = true; });
inline const Options ZERO = with(P, [](Options& o) { o.skipZero = true; });
inline const Options ZERO_C = with(CP, [](Options& o) { o.skipZero = true; });

// ---- Frame segments and Pelvan blocks ---------------------------------------------

inline std::string padded(uint64_t v, size_t width) {
  std::string s = std::to_string(v);
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

// The lines of n FRAME_BYTES packets of a segment, from a pixel count on.
inline std::vector<std::string> frame8Lines(uint64_t addr, uint64_t pixelsBefore, size_t n) {
  std::vector<std::string> ls;
  for (uint64_t i = 1; i <= n; ++i) {
    ls.push_back("FRAME8: segm=" + std::to_string(addr) + " pixels=" +
                 padded(pixelsBefore + 8 * i, 4) + ", pix0-7: 07 05 03 01 06 04 02 00");
  }
  return ls;
}

inline std::vector<std::string> frame16Lines(uint64_t addr, uint64_t pixelsBefore, size_t n) {
  std::vector<std::string> ls;
  for (uint64_t i = 1; i <= n; ++i) {
    ls.push_back("FRAME16: segm=" + std::to_string(addr) +
                 " pixels=" + padded(pixelsBefore + 4 * i, 4) + ", pix0-3: 0705 0301 0604 0200");
  }
  return ls;
}

template <typename T>
std::vector<T> join(std::vector<std::vector<T>> parts) {
  std::vector<T> all;
  for (const std::vector<T>& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A segment holds 1792 packets in either width.
constexpr size_t SEGMENT_PACKETS = 1792;

constexpr size_t BLOCK = 128;

}  // namespace display_cases

#endif  // MVSCAN_TESTS_DISPLAY_CASES_H
