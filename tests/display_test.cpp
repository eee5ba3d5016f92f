// The packet display: every kind of line, compared whole, from small files
// walked by an inspector on a string stream the way the display loop of the
// pixel-scan run walks them, and end to end through mvscan.
#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using morven::MVHDR_VX7FRAME16;
using morven::MVHDR_VX7FRAME8;
using morven::MVHDR_VX7PC24;
using morven::MVHDR_VX7TOATOT;
using morven::MVHDR_VX7TOATOT_BOTTOM;

namespace {

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

Options rawOnly() {
  Options o;
  o.raw = true;
  o.fields = false;
  return o;
}

// The display loop of the pixel-scan run, over files on one inspector that
// is reset for the first file only.
std::string display(const std::vector<std::string>& paths, const Options& o) {
  std::ostringstream out;
  morven::DataInspector inspector(out, true);
  bool first = true;
  for (const std::string& path : paths) {
    if (!inspector.setFile(path, first)) break;
    first = false;
    if (o.frameBits != 0) inspector.forceFrameData(o.frameBits);
    inspector.setFromPelvan(o.pelvan);
    uint64_t index = 0;
    int k = 0;
    while (inspector.nextPixel()) {
      ++index;
      if (++k == o.stride) {
        k = 0;
        inspector.displayPixel(index, o.counter, o.raw, o.fields, o.testGen, o.skipZero);
      }
    }
  }
  return out.str();
}

// The display of one data chunk of the given type.
std::string displayChunk(uint64_t chunkType, const std::vector<uint64_t>& words,
                         const Options& o = Options()) {
  TempDir dir;
  return display({dir.write("a.mv", FileBuilder().header().chunk(chunkType, words))}, o);
}

std::string lines(const std::vector<std::string>& ls) {
  std::string s;
  for (const std::string& l : ls) s += l + "\n";
  return s;
}

const std::string TOA_TOT_ZERO = " toa=   0 uftoa-sta/sto=0,0 ftoa-f/r= 0, 0 tot=  0 pileup=0";
const std::string DATA_TOA_TOT = "top=0 eoc= 5 pixnr= 1d (x= 11 y= 13)" + TOA_TOT_ZERO;

// ---- One packet, one line -------------------------------------------------------

struct LineCase {
  const char* name;
  uint64_t chunkType;
  uint64_t word;
  Options options;
  std::string expected;  // without the line end; empty: no output at all
};

Options with(Options o, void (*change)(Options&)) {
  change(o);
  return o;
}
const Options P;  // -P
const Options R = rawOnly();
const Options RP = with(P, [](Options& o) { o.raw = true; });
const Options QP = with(P, [](Options& o) { o.testGen = true; });
const Options CP = with(P, [](Options& o) { o.counter = true; });
const Options ZERO = with(P, [](Options& o) { o.skipZero = true; });
const Options ZERO_C = with(CP, [](Options& o) { o.skipZero = true; });

class SingleLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(SingleLine, IsPrintedWhole) {
  const LineCase& c = GetParam();
  const std::string got = displayChunk(c.chunkType, {c.word}, c.options);
  EXPECT_EQ(got, c.expected.empty() ? "" : c.expected + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Display, SingleLine,
    ::testing::Values(
        LineCase{"RawAlone", MVHDR_VX7TOATOT, DATA, R, "0287400000000000"},
        LineCase{"ToaTotBottom", MVHDR_VX7TOATOT, DATA, P, DATA_TOA_TOT},
        LineCase{"ToaTotTopMirrored", MVHDR_VX7TOATOT, TOP | DATA, P,
                 "top=1 eoc= 5 pixnr= 1d (x=436 y=498)" + TOA_TOT_ZERO},
        LineCase{"ToaTotEveryField", MVHDR_VX7TOATOT, 0xefffeaf364f45247ULL, P,
                 "top=1 eoc=df pixnr=1ff (x=  0 y=256) toa=abcd uftoa-sta/sto=3,9 "
                 "ftoa-f/r= 5,1a tot=123 pileup=1"},
        LineCase{"ToaTotCornerPixel", MVHDR_VX7TOATOT, typed(223, 0x1FFULL << 46), P,
                 "top=0 eoc=df pixnr=1ff (x=447 y=255)" + TOA_TOT_ZERO},
        LineCase{"ToaTotOfBottomChunkType", MVHDR_VX7TOATOT_BOTTOM, DATA, P, DATA_TOA_TOT},
        LineCase{"RawAndFields", MVHDR_VX7TOATOT, DATA, RP, "0287400000000000 " + DATA_TOA_TOT},
        LineCase{"CounterWidth4", MVHDR_VX7TOATOT, DATA, CP, "   1: " + DATA_TOA_TOT},
        LineCase{"Counting", MVHDR_VX7PC24, DATA | 0xABCD, P,
                 "top=0 eoc= 5 pixnr= 1d (x= 11 y= 13) pc=  abcd"},
        LineCase{"CountingFull", MVHDR_VX7PC24, TOP | DATA | 0xFFABCDEF, P,
                 "top=1 eoc= 5 pixnr= 1d (x=436 y=498) pc=abcdef"},
        LineCase{"FrameChunkDataOutsideSegment", MVHDR_VX7FRAME8, DATA, P, "0287400000000000"},
        LineCase{"FrameChunkDataRawAndFields", MVHDR_VX7FRAME8, DATA, RP, "0287400000000000 "},
        LineCase{"Idle", MVHDR_VX7TOATOT, IDLE, P, "IDLE"},
        LineCase{"IdleRawAndFields", MVHDR_VX7TOATOT, IDLE, RP, "000000000000001e IDLE"},
        LineCase{"EmptyPacket", MVHDR_VX7TOATOT, EMPTY, P, "MORVEN-EMPTY-PACKET"},
        LineCase{"EmptyPacketCounter", MVHDR_VX7TOATOT, EMPTY, CP, "   1: MORVEN-EMPTY-PACKET"},
        LineCase{"TestGenLayout", MVHDR_VX7TOATOT, 0x8123456789abcdefULL, QP,
                 "T cntr30= 5534 cntr46=132237 constant=9abcdef"},
        LineCase{"TestGenHeartbeatAsTestGen", MVHDR_VX7TOATOT, heartbeat(100), QP,
                 "B cntr30=    0 cntr46= 98304 constant=64"},
        LineCase{"TestGenIdleStaysIdle", MVHDR_VX7TOATOT, IDLE, QP, "IDLE"},
        LineCase{"TestGenEmptyStaysEmpty", MVHDR_VX7TOATOT, EMPTY, QP, "MORVEN-EMPTY-PACKET"},
        LineCase{"TestGenRawOnlyIsRaw", MVHDR_VX7TOATOT, DATA,
                 with(R, [](Options& o) { o.testGen = true; }), "0287400000000000"},
        LineCase{"T0Sync", MVHDR_VX7TOATOT, TOP | typed(0xE3, 42), P, "T0_SYNC T 42"},
        LineCase{"TimerValueIs55Bits", MVHDR_VX7TOATOT, heartbeat(0x7FFFFFFFFFFFFFULL), P,
                 "HEARTBEAT B 36028797018963967"},
        LineCase{"SignalRise", MVHDR_VX7TOATOT, typed(0xE4, 0), P,
                 "### Unhandled EoC=228 (SIGNAL_RISE)"},
        LineCase{"SignalFall", MVHDR_VX7TOATOT, TOP | typed(0xE5, 7), P,
                 "### Unhandled EoC=229 (SIGNAL_FALL)"},
        LineCase{"UnnamedControlCode", MVHDR_VX7TOATOT, typed(0xE6, 0), P,
                 "### Unhandled EoC=230 (???"
                 "?)"},
        LineCase{"UnnamedAboveMarkers", MVHDR_VX7TOATOT, typed(0xFE, 1), P,
                 "### Unhandled EoC=254 (???"
                 "?)"},
        LineCase{"ZeroWordDecoded", MVHDR_VX7TOATOT, 0, P,
                 "top=0 eoc= 0 pixnr=  0 (x=  0 y=  0)" + TOA_TOT_ZERO},
        LineCase{"ZeroWordSuppressed", MVHDR_VX7TOATOT, 0, ZERO, ""},
        LineCase{"ZeroWordSuppressedWithCounter", MVHDR_VX7TOATOT, 0, ZERO_C, ""},
        LineCase{"ZeroSuppressionKeepsOthers", MVHDR_VX7TOATOT, DATA, ZERO, DATA_TOA_TOT},
        LineCase{"FrameStartInToaTotChunk", MVHDR_VX7TOATOT, FRAME_START, P,
                 "FRAME_START #0 (### Unexpected, chunk = MVHDR_VX7TOATOT) bot header=f0 "
                 "readout_mode=0"},
        LineCase{"FrameStartFalse", MVHDR_VX7FRAME8, FRAME_START | 1, P,
                 "FRAME_START (### False?) #0 (8-bit) bot header=f0 readout_mode=0"},
        LineCase{"FrameStartTopReadoutMode", MVHDR_VX7FRAME16, TOP | marker(0xF0, 0, 3), P,
                 "FRAME_START #1 (16-bit) top header=f0 readout_mode=3"},
        LineCase{"FrameEndNotStarted", MVHDR_VX7FRAME8, FRAME_END, P,
                 "FRAME_END (### Not started) frame #0 0 segments, bot header=f1 readout_mode=0"},
        LineCase{"SegmentStartInToaTotChunk", MVHDR_VX7TOATOT, segmentStart(5), P,
                 "SEGMENT_START (### Unexpected, chunk = MVHDR_VX7TOATOT) count=0 bot "
                 "header=f2 segment_addr=5 readout_mode=0"},
        LineCase{"SegmentStartFalse", MVHDR_VX7FRAME8, segmentStart(5) | (uint64_t(1) << 48), P,
                 "SEGMENT_START (### False?) count=0 bot header=f2 segment_addr=5 readout_mode=0"},
        LineCase{"SegmentStartSuspectBitIsOnlyAboveBit48", MVHDR_VX7PC24,
                 segmentStart(5) | (uint64_t(1) << 49), P,
                 "SEGMENT_START (### Unexpected, chunk = MVHDR_VX7PC24) count=0 bot header=f2 "
                 "segment_addr=5 readout_mode=0"},
        LineCase{"SegmentEndAlone", MVHDR_VX7FRAME8, TOP | marker(0xF3, 7, 2), P,
                 "SEGMENT_END count=0 pixcount=0 top header=f3 segment_addr=7 readout_mode=2"},
        LineCase{"PelvanHeaderAtIndex1", MVHDR_VX7TOATOT, pelvanHeader(17, 3, 31),
                 with(P, [](Options& o) { o.pelvan = true; }),
                 "(Pelvan header: seqH=17 seqL= 3 linkL=31)"},
        LineCase{"PelvanHeaderRawAndFields", MVHDR_VX7TOATOT, pelvanHeader(1, 22, 4),
                 with(RP, [](Options& o) { o.pelvan = true; }),
                 "000008000000b100 (Pelvan header: seqH= 1 seqL=22 linkL=4)"},
        LineCase{"PelvanHeaderRawOnlyIsRaw", MVHDR_VX7TOATOT, pelvanHeader(1, 22, 4),
                 with(R, [](Options& o) { o.pelvan = true; }), "000008000000b100"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// ---- Timer histories ------------------------------------------------------------

struct SequenceCase {
  const char* name;
  uint64_t chunkType;
  std::vector<uint64_t> words;
  Options options;
  std::vector<std::string> expected;
};

class Sequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Sequence, IsPrintedWhole) {
  const SequenceCase& c = GetParam();
  EXPECT_EQ(displayChunk(c.chunkType, c.words, c.options), lines(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Timers, Sequence,
    ::testing::Values(
        SequenceCase{"HeartbeatDiffAndReset",
                     MVHDR_VX7TOATOT,
                     {heartbeat(100), heartbeat(150), TOP | heartbeat(7), heartbeat(120),
                      TOP | heartbeat(9)},
                     P,
                     {"HEARTBEAT B 100", "HEARTBEAT B 150 (diff=50)", "HEARTBEAT T 7",
                      "HEARTBEAT B 120 (diff=reset)", "HEARTBEAT T 9 (diff=2)"}},
        // A value of 0 is the same as no value seen.
        SequenceCase{"HeartbeatZeroForgetsHistory",
                     MVHDR_VX7TOATOT,
                     {heartbeat(100), heartbeat(0), heartbeat(30), heartbeat(30)},
                     P,
                     {"HEARTBEAT B 100", "HEARTBEAT B 0 (diff=reset)", "HEARTBEAT B 30",
                      "HEARTBEAT B 30 (diff=0)"}},
        SequenceCase{"CtrlDataWrapsAround",
                     MVHDR_VX7TOATOT,
                     {ctrlData(10), TOP | ctrlData(3), ctrlData(5), TOP | ctrlData(4)},
                     P,
                     {"CTRL-DATA B 10", "CTRL-DATA T 3",
                      "CTRL-DATA B 5 (diff=18446744073709551611)", "CTRL-DATA T 4 (diff=1)"}},
        // One history for both halves; the first heartbeat shows diff 0.
        SequenceCase{"TestGenHeartbeat",
                     MVHDR_VX7TOATOT,
                     {testGenHeartbeat(500), TOP | testGenHeartbeat(500), testGenHeartbeat(800),
                      TOP | testGenHeartbeat(100)},
                     P,
                     {"TESTGEN-HEARTBEAT 500 (diff=0)", "TESTGEN-HEARTBEAT 500 (diff=0)",
                      "TESTGEN-HEARTBEAT 800 (diff=300)",
                      "TESTGEN-HEARTBEAT 100 (diff=18446744073709550916)"}},
        SequenceCase{"ShutterPerHalf",
                     MVHDR_VX7TOATOT,
                     {TOP | shutterRise(1000), shutterRise(50), TOP | shutterFall(1600),
                      TOP | shutterFall(1700), shutterFall(80), shutterFall(90),
                      TOP | shutterRise(2000), TOP | shutterFall(1990)},
                     P,
                     {"SHUTTER_RISE T 1000", "SHUTTER_RISE B 50", "SHUTTER_FALL T 1600 (diff=600)",
                      "SHUTTER_FALL T 1700 (diff=?"
                      "?)",
                      "SHUTTER_FALL B 80 (diff=30)",
                      "SHUTTER_FALL B 90 (diff=?"
                      "?)",
                      "SHUTTER_RISE T 2000", "SHUTTER_FALL T 1990 (diff=18446744073709551606)"}},
        // With -Q the timer packets are test-generator packets: no history.
        SequenceCase{"TestGenModeKeepsNoHistory",
                     MVHDR_VX7TOATOT,
                     {heartbeat(100), IDLE, EMPTY},
                     QP,
                     {"B cntr30=    0 cntr46= 98304 constant=64", "IDLE", "MORVEN-EMPTY-PACKET"}}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) {
      return std::string(info.param.name);
    });

// ---- Frames and segments -----------------------------------------------------------

std::string padded(uint64_t v, size_t width) {
  std::string s = std::to_string(v);
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

// The lines of n FRAME_BYTES packets of a segment, from a pixel count on.
std::vector<std::string> frame8Lines(uint64_t addr, uint64_t pixelsBefore, size_t n) {
  std::vector<std::string> ls;
  for (uint64_t i = 1; i <= n; ++i) {
    ls.push_back("FRAME8: segm=" + std::to_string(addr) + " pixels=" +
                 padded(pixelsBefore + 8 * i, 4) + ", pix0-7: 07 05 03 01 06 04 02 00");
  }
  return ls;
}

std::vector<std::string> frame16Lines(uint64_t addr, uint64_t pixelsBefore, size_t n) {
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
const std::vector<uint64_t> FULL_SEGMENT(SEGMENT_PACKETS, FRAME_BYTES);

// FRAME_START, SEGMENT_START, a full segment, SEGMENT_END and FRAME_END of
// one half in a frame chunk of either width.
SequenceCase fullSegment(const char* name, uint64_t chunkType, uint64_t half, uint64_t addr) {
  const bool eight = chunkType == MVHDR_VX7FRAME8;
  const std::string width = eight ? "(8-bit) " : "(16-bit) ";
  const std::string tail = half != 0 ? "top" : "bot";
  const std::string address = " segment_addr=" + std::to_string(addr);
  return {
      name, chunkType,
      join<uint64_t>({{half | FRAME_START, half | segmentStart(addr)},
                      FULL_SEGMENT,
                      {half | segmentEnd(addr), half | FRAME_END}}),
      P,
      join<std::string>(
          {{"FRAME_START #1 " + width + tail + " header=f0 readout_mode=0",
            "SEGMENT_START count=1 " + tail + " header=f2" + address + " readout_mode=0"},
           eight ? frame8Lines(addr, 0, SEGMENT_PACKETS) : frame16Lines(addr, 0, SEGMENT_PACKETS),
           {"SEGMENT_END count=1 pixcount=" + std::string(eight ? "14336 " : "7168 ") + tail +
                " header=f3" + address + " readout_mode=0",
            "FRAME_END " + width + "frame #1 1 segments, " + tail + " header=f1 readout_mode=0"}})};
}

// Inside an open segment a marker is pixel values; after the segment a
// second FRAME_START finds the frame open, and a false SEGMENT_START still
// moves the segment address and zeroes the pixel count.
SequenceCase markersInsideSegment() {
  return {"MarkersInsideSegment", MVHDR_VX7FRAME8,
          join<uint64_t>({{FRAME_START, segmentStart(1), SEGMENT_END},
                          std::vector<uint64_t>(SEGMENT_PACKETS - 1, FRAME_BYTES),
                          {FRAME_START, segmentEnd(1), segmentStart(6) | 0x100, SEGMENT_END,
                           segmentStart(2), FRAME_BYTES}}),
          P,
          join<std::string>(
              {{"FRAME_START #1 (8-bit) bot header=f0 readout_mode=0",
                "SEGMENT_START count=1 bot header=f2 segment_addr=1 readout_mode=0",
                "FRAME8: segm=1 pixels=   8, pix0-7: 79 00 00 00 80 00 00 00"},
               frame8Lines(1, 8, SEGMENT_PACKETS - 1),
               {"FRAME_START (### Already started) #1 (8-bit) bot header=f0 readout_mode=0",
                "SEGMENT_END count=1 pixcount=14336 bot header=f3 segment_addr=1 readout_mode=0",
                "SEGMENT_START (### False?) count=1 bot header=f2 segment_addr=6 readout_mode=0",
                "SEGMENT_END count=1 pixcount=0 bot header=f3 segment_addr=0 readout_mode=0",
                "SEGMENT_START count=2 bot header=f2 segment_addr=2 readout_mode=0",
                "FRAME8: segm=2 pixels=   8, pix0-7: 07 05 03 01 06 04 02 00"}})};
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Sequence,
    ::testing::Values(
        fullSegment("Frame8Segment", MVHDR_VX7FRAME8, 0, 3),
        fullSegment("Frame16Segment", MVHDR_VX7FRAME16, TOP, 7), markersInsideSegment(),
        // No FRAME_START has told the width: the segment gives up after one
        // packet, and the data packets after it are raw words again.
        SequenceCase{"SegmentWithoutWidth",
                     MVHDR_VX7FRAME8,
                     {segmentStart(2), DATA, DATA},
                     P,
                     {"SEGMENT_START count=1 bot header=f2 segment_addr=2 readout_mode=0",
                      "### FRAME?? pixel: 0287400000000000", "0287400000000000"}},
        SequenceCase{"ForcedWidthInToaTotChunk",
                     MVHDR_VX7TOATOT,
                     {FRAME_START, DATA, segmentStart(4), FRAME_BYTES},
                     with(P, [](Options& o) { o.frameBits = 16; }),
                     {"Force interpretation as frame data (16 bits)",
                      "FRAME_START #1 (16-bit) bot header=f0 readout_mode=0", "0287400000000000",
                      "SEGMENT_START count=1 bot header=f2 segment_addr=4 readout_mode=0",
                      "FRAME16: segm=4 pixels=   4, pix0-3: 0705 0301 0604 0200"}},
        SequenceCase{"ForcedWidthRawAndFields",
                     MVHDR_VX7PC24,
                     {FRAME_START, DATA},
                     with(RP, [](Options& o) { o.frameBits = 8; }),
                     {"Force interpretation as frame data (8 bits)",
                      "7800000000000000 FRAME_START #1 (8-bit) bot header=f0 readout_mode=0",
                      "0287400000000000 "}},
        SequenceCase{"FrameEndClosesFrame",
                     MVHDR_VX7FRAME16,
                     {FRAME_START, FRAME_END, FRAME_END, FRAME_START},
                     P,
                     {"FRAME_START #1 (16-bit) bot header=f0 readout_mode=0",
                      "FRAME_END (16-bit) frame #1 0 segments, bot header=f1 readout_mode=0",
                      "FRAME_END (### Not started) (16-bit) frame #1 0 segments, bot header=f1 "
                      "readout_mode=0",
                      "FRAME_START #2 (16-bit) bot header=f0 readout_mode=0"}},
        // A zero word of an open segment is left out entirely with -0: it
        // is not shown and not counted.
        SequenceCase{"ZeroSuppressedInsideSegment",
                     MVHDR_VX7FRAME8,
                     {FRAME_START, segmentStart(3), 0, FRAME_BYTES},
                     ZERO,
                     {"FRAME_START #1 (8-bit) bot header=f0 readout_mode=0",
                      "SEGMENT_START count=1 bot header=f2 segment_addr=3 readout_mode=0",
                      "FRAME8: segm=3 pixels=   8, pix0-7: 07 05 03 01 06 04 02 00"}},
        SequenceCase{"ZeroShownInsideSegment",
                     MVHDR_VX7FRAME8,
                     {FRAME_START, segmentStart(3), 0, FRAME_BYTES},
                     P,
                     {"FRAME_START #1 (8-bit) bot header=f0 readout_mode=0",
                      "SEGMENT_START count=1 bot header=f2 segment_addr=3 readout_mode=0",
                      "FRAME8: segm=3 pixels=   8, pix0-7: 00 00 00 00 00 00 00 00",
                      "FRAME8: segm=3 pixels=  16, pix0-7: 07 05 03 01 06 04 02 00"}}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) {
      return std::string(info.param.name);
    });

// The width follows the frame chunk of the last FRAME_START, whatever chunk
// the segment's packets are in.
TEST(DisplayFrames, WidthIsSetByFrameStartOfEachFrameChunk) {
  TempDir dir;
  FileBuilder f;
  f.header()
      .chunk(MVHDR_VX7FRAME8, {FRAME_START, FRAME_END})
      .chunk(MVHDR_VX7FRAME16, {FRAME_START, segmentStart(1), FRAME_BYTES})
      .chunk(MVHDR_VX7FRAME8, {FRAME_BYTES});
  EXPECT_EQ(display({dir.write("a.mv", f)}, P),
            lines({"FRAME_START #1 (8-bit) bot header=f0 readout_mode=0",
                   "FRAME_END (8-bit) frame #1 0 segments, bot header=f1 readout_mode=0",
                   "FRAME_START #2 (16-bit) bot header=f0 readout_mode=0",
                   "SEGMENT_START count=1 bot header=f2 segment_addr=1 readout_mode=0",
                   "FRAME16: segm=1 pixels=   4, pix0-3: 0705 0301 0604 0200",
                   "FRAME16: segm=1 pixels=   8, pix0-3: 0705 0301 0604 0200"}));
}

// ---- Pelvan blocks ------------------------------------------------------------------

constexpr size_t BLOCK = 128;

// Words 1 and 128 of every block are header and trailer; a segment belongs
// to the link of the block its packets are in, links 16..31 included.
TEST(DisplayPelvan, SegmentsFollowTheLinkOfEachBlock) {
  std::vector<uint64_t> words(2 * BLOCK + 3, 0);
  words[0] = pelvanHeader(1, 2, 20);
  words[1] = FRAME_START;
  words[2] = segmentStart(2);
  for (size_t i = 3; i < BLOCK - 1; ++i) words[i] = FRAME_BYTES;
  words[BLOCK - 1] = 0xFFFFFFFFFFFFFC00ULL | 1023;  // trailer: only bits 9..0 count
  words[BLOCK] = pelvanHeader(31, 31, 0);
  words[BLOCK + 1] = DATA;
  words[BLOCK + 2] = segmentEnd(1);
  words[BLOCK + 3] = FRAME_END;
  words[2 * BLOCK - 1] = 5;
  words[2 * BLOCK] = pelvanHeader(0, 0, 20);
  words[2 * BLOCK + 1] = FRAME_BYTES;
  words[2 * BLOCK + 2] = 0;

  const std::vector<std::string> expected = join<std::string>(
      {{"(Pelvan header: seqH= 1 seqL= 2 linkL=20)",
        "FRAME_START #1 link=20 (8-bit) bot header=f0 readout_mode=0",
        "SEGMENT_START count=1 link=20 bot header=f2 segment_addr=2 readout_mode=0"},
       frame8Lines(2, 0, BLOCK - 4),
       {"(Pelvan trailer: payload=1023)", "(Pelvan header: seqH=31 seqL=31 linkL=0)",
        "0287400000000000",
        "SEGMENT_END count=1 link=0 pixcount=0 bot header=f3 segment_addr=1 readout_mode=0",
        "FRAME_END link=0 (8-bit) frame #1 1 segments, bot header=f1 readout_mode=0",
        "(Pelvan trailer: payload=5)", "(Pelvan header: seqH= 0 seqL= 0 linkL=20)"},
       // The open segment of link 20 goes on, and a zero word in it is a
       // packet of pixel values, not a filler.
       frame8Lines(2, 8 * (BLOCK - 4), 1),
       {"FRAME8: segm=2 pixels=1008, pix0-7: 00 00 00 00 00 00 00 00"}});
  EXPECT_EQ(displayChunk(MVHDR_VX7FRAME8, words, with(P, [](Options& o) { o.pelvan = true; })),
            lines(expected));
}

// Zero words outside a segment fill the blocks: no line, unless the index
// or the raw word has started one.
TEST(DisplayPelvan, FillerWords) {
  std::vector<uint64_t> words(BLOCK + 2, 0);
  words[0] = pelvanHeader(0, 1, 2);
  words[2] = DATA;
  words[BLOCK] = pelvanHeader(0, 2, 2);

  const Options pelvan = with(P, [](Options& o) { o.pelvan = true; });
  EXPECT_EQ(displayChunk(MVHDR_VX7TOATOT, words, pelvan),
            lines({"(Pelvan header: seqH= 0 seqL= 1 linkL=2)", DATA_TOA_TOT,
                   "(Pelvan trailer: payload=0)", "(Pelvan header: seqH= 0 seqL= 2 linkL=2)"}));

  std::vector<std::string> withCounter = {"   1: (Pelvan header: seqH= 0 seqL= 1 linkL=2)",
                                          "   2: ", "   3: " + DATA_TOA_TOT};
  for (size_t i = 4; i < BLOCK; ++i) withCounter.push_back(padded(i, 4) + ": ");
  withCounter.push_back(" 128: (Pelvan trailer: payload=0)");
  withCounter.push_back(" 129: (Pelvan header: seqH= 0 seqL= 2 linkL=2)");
  withCounter.push_back(" 130: ");
  EXPECT_EQ(
      displayChunk(MVHDR_VX7TOATOT, words, with(pelvan, [](Options& o) { o.counter = true; })),
      lines(withCounter));

  const Options rawAndFields = with(pelvan, [](Options& o) { o.raw = true; });
  const std::string shown = displayChunk(MVHDR_VX7TOATOT, {words[0], 0, DATA}, rawAndFields);
  EXPECT_EQ(shown, lines({"0000000000000880 (Pelvan header: seqH= 0 seqL= 1 linkL=2)",
                          "0000000000000000 ", "0287400000000000 " + DATA_TOA_TOT}));
  // -0 leaves out a zero word before any prefix is printed.
  const Options skipZero = with(rawAndFields, [](Options& o) { o.skipZero = true; });
  EXPECT_EQ(displayChunk(MVHDR_VX7TOATOT, {words[0], 0, DATA}, skipZero),
            lines({"0000000000000880 (Pelvan header: seqH= 0 seqL= 1 linkL=2)",
                   "0287400000000000 " + DATA_TOA_TOT}));
}

// ---- State and the stream ---------------------------------------------------------

// The index printed with -C is the caller's, in a width of 4 at least.
TEST(DisplayIndex, WidthGrowsWithTheIndex) {
  struct Case {
    uint64_t index;
    std::string expected;
  };
  for (const Case& c :
       {Case{5, "   5: 0287400000000000\n"}, Case{12345, "12345: 0287400000000000\n"},
        Case{UINT64_MAX, "18446744073709551615: 0287400000000000\n"}}) {
    std::ostringstream out;
    morven::DataInspector inspector(out, false);
    std::string bytes = le64(DATA);
    inspector.setDataChunk(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    ASSERT_TRUE(inspector.nextPixel());
    inspector.displayPixel(c.index, true, true, false, false, false);
    EXPECT_EQ(out.str(), c.expected) << c.index;
  }
}

// The display leaves the stream decimal with blank fill. Packets given from
// memory before any chunk was read have no chunk kind to decode data by.
TEST(DisplayStream, StaysDecimalWithBlankFill) {
  std::ostringstream out;
  morven::DataInspector inspector(out, false);
  std::string bytes;
  for (uint64_t w : {DATA, heartbeat(0xABC), FRAME_START, EMPTY}) bytes += le64(w);
  inspector.setDataChunk(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
  while (inspector.nextPixel()) inspector.displayPixel(1, true, true, true, false, false);
  out << 255 << std::setw(4) << 7;
  EXPECT_EQ(out.str(), lines({"   1: 0287400000000000 ", "   1: 7000000000000abc HEARTBEAT B 2748",
                              "   1: 7800000000000000 FRAME_START #0 (### Unexpected, chunk = "
                              "MVHDR_VX7TOATOT_TOP) bot header=f0 readout_mode=0",
                              "   1: ffffffff00000000 MORVEN-EMPTY-PACKET"}) +
                           "255   7");
}

// The display state is kept from file to file: the timer histories, the
// open frame and segment; the index starts again in every file.
TEST(DisplayFiles, StateCarriesOverToTheNextFile) {
  TempDir dir;
  const std::string a = dir.write(
      "a.mv", FileBuilder().header().chunk(
                  MVHDR_VX7FRAME8, {heartbeat(100), FRAME_START, segmentStart(1), FRAME_BYTES}));
  const std::string b = dir.write(
      "b.mv",
      FileBuilder().header().chunk(
          MVHDR_VX7FRAME8, join<uint64_t>({std::vector<uint64_t>(SEGMENT_PACKETS - 1, FRAME_BYTES),
                                           {heartbeat(150), FRAME_END}})));
  const RunResult r = runMvscan({"-P", "-C", a, b}, dir.path());
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> second;
  for (size_t i = 0; i < SEGMENT_PACKETS - 1; ++i) {
    second.push_back(padded(i + 1, 4) + ": " + frame8Lines(1, 8 * (i + 1), 1)[0]);
  }
  EXPECT_EQ(
      r.out,
      lines(join<std::string>(
          {{"=> Display pixels (using stride=1)", "", "File opened: " + a, "File header: MORVEN",
            "File size  : 48 bytes (6*8)", "   1: HEARTBEAT B 100",
            "   2: FRAME_START #1 (8-bit) bot header=f0 readout_mode=0",
            "   3: SEGMENT_START count=1 bot header=f2 segment_addr=1 readout_mode=0",
            "   4: FRAME8: segm=1 pixels=   8, pix0-7: 07 05 03 01 06 04 02 00", "",
            "File opened: " + b, "File header: MORVEN", "File size  : 14360 bytes (1795*8)"},
           second,
           {"1792: HEARTBEAT B 150 (diff=50)",
            "1793: FRAME_END (8-bit) frame #1 1 segments, bot header=f1 readout_mode=0", ""}})));
}

// A reset (a new run, the file check) clears all of the display state: the
// timer histories of both halves and of the test generator, the frame, its
// width and count, and the open segment.
TEST(DisplayFiles, ResetClearsTheWholeState) {
  TempDir dir;
  const std::string a = dir.write(
      "a.mv",
      FileBuilder().header().chunk(
          MVHDR_VX7FRAME8, {heartbeat(100), TOP | heartbeat(100), ctrlData(5), shutterRise(7),
                            testGenHeartbeat(500), FRAME_START, segmentStart(1), FRAME_BYTES}));
  const std::string b = dir.write(
      "b.mv",
      FileBuilder().header().chunk(
          MVHDR_VX7FRAME8, {heartbeat(150), TOP | heartbeat(90), ctrlData(9), shutterFall(9),
                            testGenHeartbeat(800), FRAME_BYTES, FRAME_END}));
  std::ostringstream out;
  morven::DataInspector inspector(out, true);
  for (const std::string& path : {a, b}) {
    ASSERT_TRUE(inspector.setFile(path, true));
    out.str("");
    while (inspector.nextPixel()) inspector.displayPixel(1, false, false, true, false, false);
  }
  EXPECT_EQ(
      out.str(),
      lines({"HEARTBEAT B 150", "HEARTBEAT T 90", "CTRL-DATA B 9",
             "SHUTTER_FALL B 9 (diff=?"
             "?)",
             "TESTGEN-HEARTBEAT 800 (diff=0)", "0706050403020100",
             "FRAME_END (### Not started) frame #0 0 segments, bot header=f1 readout_mode=0"}));
}

// The library's display loop hands its lines over in batches; it prints
// exactly what the display of one packet at a time prints, across batches
// of many lines and with the chunk layer's messages in their place between
// the packets.
TEST(DisplayLoop, SameAsOnePacketAtATime) {
  std::vector<uint64_t> words;
  for (uint64_t i = 0; i < 6000; ++i) {
    const uint64_t kinds[] = {
        DATA + (i << 30), IDLE,        heartbeat(i), 0, EMPTY, FRAME_START, segmentStart(i % 8),
        FRAME_BYTES + i,  SEGMENT_END, FRAME_END};
    words.push_back(kinds[i % 3 == 0 ? 0 : i % 10]);
  }
  TempDir dir;
  const std::string path = dir.write("a.mv", FileBuilder()
                                                 .header()
                                                 .chunk(MVHDR_VX7TOATOT, words)
                                                 .chunk(0x03FFULL << 48, {DATA, IDLE})
                                                 .chunk(MVHDR_VX7FRAME8, words)
                                                 .chunk(MVHDR_VX7PC24, {DATA, 5}));
  Options counted, pelvan, frames, testGen, skipZero;
  counted.counter = counted.raw = true;
  counted.stride = 3;
  pelvan.pelvan = pelvan.raw = true;
  frames.frameBits = 16;
  testGen.testGen = true;
  skipZero.skipZero = true;
  skipZero.raw = true;
  for (const Options& o : {Options(), rawOnly(), counted, pelvan, frames, testGen, skipZero}) {
    std::ostringstream out;
    morven::DataInspector inspector(out, true);
    ASSERT_TRUE(inspector.setFile(path, true));
    if (o.frameBits != 0) inspector.forceFrameData(o.frameBits);
    inspector.setFromPelvan(o.pelvan);
    inspector.displayPackets(0, o.stride, o.counter, o.raw, o.fields, o.testGen, o.skipZero);
    const std::string expected = display({path}, o);
    EXPECT_GT(expected.size(), 100000u);
    EXPECT_NE(expected.find("### Invalid header"), std::string::npos);
    EXPECT_TRUE(out.str() == expected) << "stride " << o.stride << " raw " << o.raw;
  }
}

// Records what reaches the output at each flush: a terminal sees the text
// as far as the last flush.
class FlushRecorder : public std::stringbuf {
 public:
  std::vector<std::string> flushedAt;

 protected:
  int sync() override {
    flushedAt.push_back(str());
    return 0;
  }
};

// On a terminal every display line is handed over as it ends; into a file
// or a pipe the lines go in batches. The IDLE and empty-packet lines are
// not flushed one by one in either case.
TEST(DisplayLoop, OnATerminalEveryLineIsFlushedAsItEnds) {
  TempDir dir;
  const std::vector<uint64_t> words = {DATA, heartbeat(7), IDLE, IDLE, DATA + (5ULL << 30)};
  const std::string path = dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, words));
  for (bool terminal : {true, false}) {
    for (const Options& o : {Options(), rawOnly()}) {
      SCOPED_TRACE(testing::Message() << "terminal " << terminal << " raw " << o.raw);
      FlushRecorder buffer;
      std::ostream out(&buffer);
      morven::DataInspector inspector(out, true);
      ASSERT_TRUE(inspector.setFile(path, true));
      inspector.setLineByLine(terminal);
      inspector.displayPackets(0, 1, false, o.raw, o.fields, false, false);
      const std::string all = buffer.str();
      std::vector<std::string> expected;
      if (terminal) {
        // Each flushed line, with the unflushed IDLE lines riding along
        // with the next one.
        size_t end = 0;
        for (size_t shown = 0; shown < words.size(); ++shown) {
          end = all.find('\n', end) + 1;
          if (o.raw || words[shown] != IDLE) expected.push_back(all.substr(0, end));
        }
      } else {
        expected.push_back(all);
      }
      EXPECT_EQ(buffer.flushedAt, expected);
    }
  }
}

// ---- End to end -------------------------------------------------------------------

std::string fileLines(const std::string& path, size_t words) {
  return "File opened: " + path +
         "\nFile header: MORVEN\nFile size  : " + std::to_string(16 + 8 * words) + " bytes (" +
         std::to_string(2 + words) + "*8)\n";
}

TEST(DisplayTool, RawAlone) {
  TempDir dir;
  const std::string f =
      dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, {DATA, IDLE, heartbeat(3)}));
  const RunResult r = runMvscan({"-R", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> Display pixels (using stride=1)\n" + fileLines(f, 3) +
                       lines({"0287400000000000", "000000000000001e", "7000000000000003"}));
}

// The index goes on from the packets skipped, and the stride shows every
// n-th packet with its own number.
TEST(DisplayTool, SkipAndStride) {
  TempDir dir;
  std::vector<uint64_t> words;
  for (uint64_t i = 1; i <= 12345; ++i) words.push_back(heartbeat(i));
  const std::string f = dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, words));
  RunResult r = runMvscan({"-P", "-C", "-s", "12343", "-L", "2", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> Display pixels (using stride=2)\n" + fileLines(f, words.size()) +
                       "Skip to pixel 12344 (bytes 181b8)\n12345: HEARTBEAT B 12345\n");
}

// With stride 2 the headers (odd word numbers) are never shown, so the link
// stays 0; the trailers (even numbers) are.
TEST(DisplayTool, PelvanWithStride2) {
  TempDir dir;
  std::vector<uint64_t> words(2 * BLOCK, 0);
  words[0] = pelvanHeader(3, 4, 9);
  words[1] = FRAME_START;
  words[BLOCK - 1] = 77;
  words[BLOCK] = pelvanHeader(3, 5, 9);
  words[BLOCK + 1] = segmentStart(6);
  words[2 * BLOCK - 1] = 78;
  const std::string f = dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, words));
  const RunResult r = runMvscan({"-P", "-W", "-L", "2", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> Display pixels (using stride=2)\n" + fileLines(f, words.size()) +
                       lines({"FRAME_START #0 link=0 (### Unexpected, chunk = MVHDR_VX7TOATOT) "
                              "bot header=f0 readout_mode=0",
                              "(Pelvan trailer: payload=77)",
                              "SEGMENT_START (### Unexpected, chunk = MVHDR_VX7TOATOT) count=0 "
                              "link=0 bot header=f2 segment_addr=6 readout_mode=0",
                              "(Pelvan trailer: payload=78)"}));
}

TEST(DisplayTool, TestGenLayoutWithRawWord) {
  TempDir dir;
  const std::string f = dir.write(
      "a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, {heartbeat(100), IDLE, EMPTY}));
  const RunResult r = runMvscan({"-Q", "-R", "-P", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> Display TestGenerator pixel format (#links=1)\n"
            "=> Display pixels (using stride=1)\n" +
                fileLines(f, 3) +
                lines({"7000000000000064 B cntr30=    0 cntr46= 98304 constant=64",
                       "000000000000001e IDLE", "ffffffff00000000 MORVEN-EMPTY-PACKET"}));
}

}  // namespace
