// The packet display of packet sequences, compared whole: the timer
// histories, frames and their segments, and Pelvan blocks, from small
// files walked by an inspector on a string stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "display_cases.h"

using namespace testing_files;
using namespace display_cases;

namespace {

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

}  // namespace
