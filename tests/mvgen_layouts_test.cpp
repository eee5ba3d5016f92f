// The packet layouts of mvgen's files, read here directly and by mvscan:
// Pelvan blocks, frames of full segments, and the ToA/ToT and counting runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ios>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"
#include "mvgen_files.h"

using namespace testing_files;
using namespace mvgen_files;

namespace {

#ifdef MVGEN_BINARY

// ---- Pelvan framing ---------------------------------------------------------

TEST(MvgenPelvan, BlocksAreHeaderPacketsTrailer) {
  TempDir dir;
  const std::string f = dir.file("w.mv");
  // 40 blocks and a part, across data chunks that do not end on blocks.
  const uint64_t n = 40 * 128 + 50;
  ASSERT_EQ(
      runMvgen({"-k", "counter", "-W", "-n", std::to_string(n), "-c", "1000", "-o", f}).status, 0);
  const std::vector<uint64_t> words = packets(f);
  ASSERT_EQ(words.size(), n);
  std::vector<uint64_t> counter;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t position = i + 1;
    const uint64_t block = i / 128;
    if (position % 128 == 1) {
      EXPECT_EQ(words[i], (block >> 5) << 43 | (block & 31) << 11) << position;
    } else if (position % 128 == 0) {
      EXPECT_EQ(words[i], 126u) << position;
    } else {
      counter.push_back(words[i]);
    }
  }
  ASSERT_EQ(counter.size(), 40u * 126 + 49);
  for (size_t i = 1; i < counter.size(); ++i) ASSERT_EQ(counter[i], counter[i - 1] + 1);

  // The statistics pass over the Pelvan words, so only the packets count as hits.
  const std::string out = runMvscan({"-p", "-W", f}, dir.path()).out;
  EXPECT_EQ(out.find("###"), std::string::npos) << out;
}

// ---- Frames ----------------------------------------------------------------

TEST(MvgenFrames, DisplayShowsGenuineFramesOfFullSegments) {
  TempDir dir;
  struct FrameCase {
    const char* kind;
    int segments;
    const char* width;
    int pixelsPerSegment;
  };
  for (const FrameCase& c :
       {FrameCase{"frame8", 16, "8-bit", 14336}, FrameCase{"frame16", 32, "16-bit", 7168}}) {
    SCOPED_TRACE(c.kind);
    const std::string f = dir.file("f.mv");
    // One whole frame: shutter rise and fall, FRAME_START, the segments with
    // their two markers each, FRAME_END.
    const uint64_t frame = 3 + uint64_t(c.segments) * 1794 + 1;
    ASSERT_EQ(runMvgen({"-k", c.kind, "-n", std::to_string(frame), "-o", f}).status, 0);
    const std::vector<uint64_t> words = packets(f);
    const uint64_t rise = words[0] & 0x7FFFFFFFFFFFFFULL;
    const uint64_t fall = words[1] & 0x7FFFFFFFFFFFFFULL;

    std::string expected = "=> Display pixels (using stride=1)\n" + pixelScanFileLines(f) +
                           "SHUTTER_RISE B " + std::to_string(rise) + "\nSHUTTER_FALL B " +
                           std::to_string(fall) + " (diff=" + std::to_string(fall - rise) +
                           ")\nFRAME_START #1 (" + c.width + ") bot header=f0 readout_mode=0\n";
    for (int s = 0; s < c.segments; ++s) {
      const std::string half = s < c.segments / 2 ? "bot" : "top";
      const std::string address = std::to_string(s % (c.segments / 2) % 8);
      const std::string count = std::to_string(s + 1);
      expected += "SEGMENT_START count=" + count + " " + half +
                  " header=f2 segment_addr=" + address + " readout_mode=0\n";
      expected += "SEGMENT_END count=" + count + " pixcount=" + std::to_string(c.pixelsPerSegment) +
                  " " + half + " header=f3 segment_addr=" + address + " readout_mode=0\n";
    }
    expected += "FRAME_END (" + std::string(c.width) + ") frame #1 " + std::to_string(c.segments) +
                " segments, bot header=f1 readout_mode=0\n";

    // The pixel lines are left out here and counted instead.
    const std::string out = runMvscan({"-P", f}, dir.path()).out;
    std::istringstream lines(out);
    std::string line;
    std::string markers;
    uint64_t pixelLines = 0;
    while (std::getline(lines, line)) {
      if (line.rfind("FRAME8: ", 0) == 0 || line.rfind("FRAME16: ", 0) == 0) {
        ++pixelLines;
      } else {
        markers += line + "\n";
      }
    }
    EXPECT_EQ(markers, expected);
    EXPECT_EQ(pixelLines, uint64_t(c.segments) * 1792);
  }
}

// ---- ToA/ToT and counting runs ------------------------------------------------

TEST(MvgenChipRuns, PacketsAreValidAndSpreadOverBothHalves) {
  TempDir dir;
  for (const char* kind : {"toatot", "pc24"}) {
    SCOPED_TRACE(kind);
    const std::string f = dir.file("r.mv");
    ASSERT_EQ(runMvgen({"-k", kind, "-n", "200000", "-s", "5", "-o", f}).status, 0);
    std::map<uint64_t, uint64_t> types;
    std::map<uint64_t, uint64_t> hitsPerPixel;
    uint64_t lastHeartbeat[2] = {0, 0};
    bool shutterOpen[2] = {false, false};
    uint64_t hits[2] = {0, 0};
    uint64_t idles = 0;
    for (uint64_t w : packets(f)) {
      if (w == IDLE) {
        ++idles;
        continue;
      }
      const uint64_t t = typeByte(w);
      const int top = int(w >> 63);
      ++types[t];
      const uint64_t value = w & 0x7FFFFFFFFFFFFFULL;
      if (t == morven::VX7_EOC_HEARTBEAT) {
        EXPECT_GT(value, lastHeartbeat[top]);
        lastHeartbeat[top] = value;
      } else if (t == morven::VX7_EOC_SHUTTER_RISE || t == morven::VX7_EOC_SHUTTER_FALL) {
        EXPECT_EQ(shutterOpen[top], t == morven::VX7_EOC_SHUTTER_FALL);
        shutterOpen[top] = t == morven::VX7_EOC_SHUTTER_RISE;
      } else {
        ASSERT_LE(t, morven::VX7_EOC_MAX_COLNR) << std::hex << w;
        ++hits[top];
        ++hitsPerPixel[w >> morven::VX7_PIXELNR_SHIFT];
        if (std::string(kind) == "pc24") {
          EXPECT_NE(w & 0xFFFFFF, 0u);
          EXPECT_EQ(w >> 24 & 0x3FFFFF, 0u);
        }
      }
    }
    EXPECT_GT(idles, 0u);
    EXPECT_GT(types[morven::VX7_EOC_HEARTBEAT], 2u);
    EXPECT_GT(types[morven::VX7_EOC_SHUTTER_RISE], 2u);
    EXPECT_GT(hits[0], 5000u);
    EXPECT_GT(hits[1], 5000u);
    // A beam spot and hot pixels: the busiest pixel has many times the mean.
    uint64_t busiest = 0;
    for (const auto& [pixel, count] : hitsPerPixel) busiest = std::max(busiest, count);
    EXPECT_GT(busiest, 5 * (hits[0] + hits[1]) / hitsPerPixel.size());
    EXPECT_GT(hitsPerPixel.size(), 10000u);

    // The statistics run over it reports no error and writes the picture.
    const std::string out = runMvscan({"-p", "-e", "-H", "8", f}, dir.path()).out;
    EXPECT_EQ(out.find("###"), std::string::npos);
    EXPECT_NE(out.find("Total pixelpackets = 200000\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("inspect.png")));
  }
}

#endif  // MVGEN_BINARY

}  // namespace
