// The packet display's state and stream: the index width, the stream's
// format left as found, the state carried over from file to file and
// cleared by a reset, and the library's display loop in batches and on a
// terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "display_cases.h"
#include "report/PixelDisplay.h"
#include "run/Runs.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using namespace display_cases;

namespace {

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
    morven::DataInspector inspector(false);
    morven::DisplayState state;
    std::string bytes = le64(DATA);
    inspector.stream().setDataChunk(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    ASSERT_TRUE(inspector.stream().nextPixel());
    displayPixel(out, inspector.stream(), state,
                 morven::DisplayOptions{true, true, false, false, false}, c.index);
    EXPECT_EQ(out.str(), c.expected) << c.index;
  }
}

// The display leaves the stream decimal with blank fill. Packets given from
// memory before any chunk was read have no chunk kind to decode data by.
TEST(DisplayStream, StaysDecimalWithBlankFill) {
  std::ostringstream out;
  morven::DataInspector inspector(false);
  morven::DisplayState state;
  std::string bytes;
  for (uint64_t w : {DATA, heartbeat(0xABC), FRAME_START, EMPTY}) bytes += le64(w);
  inspector.stream().setDataChunk(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
  while (inspector.stream().nextPixel())
    displayPixel(out, inspector.stream(), state,
                 morven::DisplayOptions{true, true, true, false, false}, 1);
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

// A new run starts from a clear display state: the timer histories of both
// halves and of the test generator, the frame, its width and count, and the
// open segment; a run on an inspector that ran before prints what a run on
// a new one prints.
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
  morven::RunSettings s;
  s.pixelScan = true;
  s.displayPixels = true;
  s.showFields = true;
  morven::DataInspector inspector(true);
  std::ostringstream first, second, fresh;
  ASSERT_EQ(morven::scanFiles(s, {a}, inspector, first), morven::RunEnd::Completed);
  ASSERT_EQ(morven::scanFiles(s, {b}, inspector, second), morven::RunEnd::Completed);
  morven::DataInspector other(true);
  ASSERT_EQ(morven::scanFiles(s, {b}, other, fresh), morven::RunEnd::Completed);
  EXPECT_EQ(second.str(), fresh.str());
  const std::string shown = second.str().substr(second.str().find("HEARTBEAT B"));
  EXPECT_EQ(
      shown,
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
    morven::DataInspector inspector(true);
    morven::DisplayState state;
    problemsAsText(inspector, out);
    ASSERT_TRUE(inspector.setFile(path, true));
    if (o.frameBits != 0) forceFrameData(state, out, o.frameBits);
    inspector.stream().setFromPelvan(o.pelvan);
    displayPackets(out, inspector.stream(), state,
                   morven::DisplayOptions{o.counter, o.raw, o.fields, o.testGen, o.skipZero}, 0,
                   o.stride);
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
      morven::DataInspector inspector(true);
      morven::DisplayState state;
      ASSERT_TRUE(inspector.setFile(path, true));
      displayPackets(out, inspector.stream(), state,
                     morven::DisplayOptions{false, o.raw, o.fields, false, false, terminal}, 0, 1);
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

}  // namespace
