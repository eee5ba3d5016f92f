// The packet display of one packet: every kind of line, compared whole, from
// a file of one packet walked by an inspector on a string stream the way
// the display loop of the pixel-scan run walks it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "display_cases.h"

using namespace testing_files;
using namespace display_cases;

namespace {

// ---- One packet, one line -------------------------------------------------------

struct LineCase {
  const char* name;
  uint64_t chunkType;
  uint64_t word;
  Options options;
  std::string expected;  // without the line end; empty: no output at all
};

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

}  // namespace
